#include "system/system_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

#include "fielddesk_version.h"
#include "system/single_instance.h"

extern char** environ;

namespace fd {

namespace {

std::string FourNumbers(std::string v) {
    int dots = 0;
    for (char c : v) dots += c == '.';
    for (; dots < 3; ++dots) v += ".0";
    return v;
}

}  // namespace

// The version mark every program of ours carries, found again by GetFileVersionText.
[[gnu::used]] const char kFileVersionMark[] =
    "\x7f"
    "FieldDesk file version " FIELDDESK_VERSION;

std::string OwnFileVersionText() {
    return FourNumbers(FIELDDESK_VERSION);
}

std::string GetExecutableDirectory() {
    std::vector<char> buf(PATH_MAX);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<std::size_t>(n));
            // A replaced executable reads as "/dir/name (deleted)"; only the folder matters.
            const auto slash = path.rfind('/');
            if (slash != std::string::npos) return path.substr(0, slash + 1);
            break;
        }
        buf.resize(buf.size() * 2);  // path longer than the buffer: try again
    }
    if (char* cwd = ::getcwd(nullptr, 0)) {
        std::string dir(cwd);
        ::free(cwd);
        if (dir.empty() || dir.back() != '/') dir += '/';
        return dir;
    }
    return "./";
}

const std::string& GetExecutableDirectoryCached() {
    static const std::string dir = GetExecutableDirectory();
    return dir;
}

std::string InstallPrefixOf(const std::string& programDir) {
    std::string dir = programDir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    constexpr std::string_view kTail = "/lib/fielddesk";
    if (dir.size() < kTail.size() ||
        dir.compare(dir.size() - kTail.size(), kTail.size(), kTail) != 0)
        return {};
    const std::string prefix = dir.substr(0, dir.size() - kTail.size());
    return prefix.empty() ? "/" : prefix;
}

std::string RunFilesDirectory(const std::string& programDir) {
    if (!programDir.empty() && InstallPrefixOf(programDir).empty() &&
        access(programDir.c_str(), W_OK | X_OK) == 0)
        return programDir.back() == '/' ? programDir : programDir + "/";
    const std::string runtime = RuntimeDirectory();
    return runtime.empty() ? std::string() : runtime + "/";
}

std::string PrivateTempDirectory() {
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t != nullptr && t[0] == '/') {
        struct stat st {};
        if (stat(t, &st) == 0 && S_ISDIR(st.st_mode)) base = t;
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string stem = base + "/fielddesk-" + std::to_string(geteuid());
    for (int i = 0; i < 10; ++i) {
        const std::string dir = i == 0 ? stem : stem + "-" + std::to_string(i);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) continue;
        // Trusted only when it is a real folder of ours that nobody else can write to: a
        // planted folder or link must not receive our files.
        struct stat st {};
        if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
            (st.st_mode & 0077) == 0 && access(dir.c_str(), W_OK | X_OK) == 0)
            return dir;
    }
    return {};
}

}  // namespace fd

namespace {

// uid and state of a process from /proc/<pid>/status; false when it is gone.
bool ProcessOwner(const std::string& proc, uid_t& realUid, char& state) {
    std::ifstream in(proc + "/status");
    if (!in) return false;
    std::string line;
    bool haveUid = false;
    state = '?';
    while (std::getline(in, line)) {
        if (line.rfind("State:", 0) == 0 && line.size() > 7) {
            auto p = line.find_first_not_of(" \t", 6);
            if (p != std::string::npos) state = line[p];
        } else if (line.rfind("Uid:", 0) == 0) {
            realUid = static_cast<uid_t>(std::strtoul(line.c_str() + 4, nullptr, 10));
            haveUid = true;
        }
    }
    return haveUid;
}

std::string ExecutableName(const std::string& proc) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink((proc + "/exe").c_str(), buf, sizeof buf - 1);
    if (n > 0) {
        std::string path(buf, static_cast<std::size_t>(n));
        const std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() && path.ends_with(deleted))
            path.resize(path.size() - deleted.size());
        auto slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return {};
}

}  // namespace

bool COperateSystemInfo::GetFileVersionText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string_view mark =
        "\x7f"
        "FieldDesk file version ";
    // Read in chunks with an overlap so a mark across a chunk border is still seen.
    std::string window;
    std::vector<char> chunk(1 << 20);
    std::size_t total = 0;
    while (in && total < (512u << 20)) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        total += got;
        window.append(chunk.data(), got);
        for (std::size_t at = window.find(mark); at != std::string::npos;
             at = window.find(mark, at + 1)) {
            std::size_t p = at + mark.size(), q = p;
            while (q < window.size() &&
                   (std::isdigit(static_cast<unsigned char>(window[q])) || window[q] == '.'))
                ++q;
            if (q < window.size() && window[q] == '\0' && q > p) {
                int a = 0, b = 0, c = 0, d = 0;
                const int n =
                    std::sscanf(window.substr(p, q - p).c_str(), "%d.%d.%d.%d", &a, &b, &c, &d);
                if (n >= 1) {
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", a, b, c, d);
                    text = buf;
                    return true;
                }
            }
        }
        if (window.size() > 64) window.erase(0, window.size() - 64);
    }
    return false;
}

bool COperateSystemInfo::RunProcess(const std::string& path, const std::vector<std::string>& args,
                                    bool wait, const std::string& verb, pid_t* pidOut, int stdinFd,
                                    int stdoutFd) {
    if (::access(path.c_str(), X_OK) != 0) return false;
    std::vector<std::string> argv;
    if (verb == "runas" && ::geteuid() != 0) {
        static const char* const kPkexec[] = {"/usr/bin/pkexec", "/bin/pkexec"};
        std::string pkexec;
        for (const char* p : kPkexec)
            if (::access(p, X_OK) == 0) pkexec = p;
        if (pkexec.empty()) return false;
        argv.push_back(pkexec);
    }
    argv.push_back(path);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&fa, stdinFd, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    if (pidOut) *pidOut = pid;
    if (!wait) return true;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    // pkexec exits 126 when the user dismisses it and 127 when not authorised.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<pid_t> COperateSystemInfo::ProcessesByName(const std::string& name,
                                                       const std::string& procRoot) {
    std::vector<pid_t> found;
    DIR* d = ::opendir(procRoot.c_str());
    if (!d) return found;
    const uid_t me = ::getuid();
    const pid_t self = ::getpid();
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        const long v = std::strtol(e->d_name, &end, 10);
        if (*end || v <= 0) continue;
        const auto pid = static_cast<pid_t>(v);
        if (pid == self) continue;
        uid_t uid = 0;
        char state = '?';
        const std::string proc = procRoot + "/" + e->d_name;
        if (!ProcessOwner(proc, uid, state) || uid != me) continue;
        if (state == 'Z' || state == 'X') {
            // Our own finished child: collect it so it stops looking alive.
            ::waitpid(pid, nullptr, WNOHANG);
            continue;
        }
        if (ExecutableName(proc) == name) found.push_back(pid);
    }
    ::closedir(d);
    return found;
}

pid_t COperateSystemInfo::FindProcessByName(const std::string& name) {
    auto all = ProcessesByName(name);
    return all.empty() ? 0 : all.front();
}

bool COperateSystemInfo::KillProcessesByName(const std::string& name,
                                             std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto forceAt = start + patience / 2;
    std::vector<pid_t> asked;  // sent SIGTERM already
    while (true) {
        auto pids = ProcessesByName(name);
        if (pids.empty()) return true;
        const auto now = Clock::now();
        if (now >= start + patience) return false;
        for (pid_t p : pids) {
            if (now >= forceAt) {
                ::kill(p, SIGKILL);
            } else if (std::find(asked.begin(), asked.end(), p) == asked.end()) {
                ::kill(p, SIGTERM);
                asked.push_back(p);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (pid_t p : pids) ::waitpid(p, nullptr, WNOHANG);
    }
}
