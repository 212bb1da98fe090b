#include "actions/file_server_control.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "config/ini_file.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd {

namespace {

// Copies the open file src into a new file `to` (owner-only), all of it or nothing.
bool CopyInto(int src, const std::string& to) {
    const int dst = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (dst < 0) return false;
    bool ok = true;
    char buf[1 << 16];
    for (off_t at = 0; ok;) {
        const ssize_t n = ::pread(src, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(dst, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
        at += n;
    }
    ok = ::close(dst) == 0 && ok;
    if (!ok) ::unlink(to.c_str());
    return ok;
}

}  // namespace

CFileServerControl::CFileServerControl() : CFileServerControl(Options{}) {}

CFileServerControl::CFileServerControl(Options options) : m_options(std::move(options)) {
    const std::string dir = GetExecutableDirectoryCached();
    if (m_options.program.empty()) m_options.program = dir + "FileServer";
    if (m_options.iniPath.empty()) {
        const auto slash = m_options.program.rfind('/');
        const std::string progDir =
            slash == std::string::npos ? "./" : m_options.program.substr(0, slash + 1);
        std::string runDir = RunFilesDirectory(progDir);
        if (runDir.empty()) runDir = "/tmp/";
        m_options.iniPath = runDir + "FileServer.ini";
    }
}

std::string CFileServerControl::ProcessName() const {
    const auto slash = m_options.program.rfind('/');
    return slash == std::string::npos ? m_options.program : m_options.program.substr(slash + 1);
}

bool CFileServerControl::WriteDirectory(const std::string& folder) {
    return WriteProfileString(m_options.iniPath, "SERVER", "Directory", folder);
}

bool CFileServerControl::ServeImage(const std::string& imagePath,
                                    const std::vector<std::string>& addresses) {
    RemoveFolder();
    m_addresses = addresses;
    const auto slash = imagePath.rfind('/');
    const std::string name = slash == std::string::npos ? imagePath : imagePath.substr(slash + 1);
    // The devices ask for the name the user chose (a link's own name); they get the bytes
    // of the file it resolves to, wherever that lies.
    char* resolved = ::realpath(imagePath.c_str(), nullptr);
    if (!resolved || name.empty()) {
        std::free(resolved);
        return false;
    }
    const std::string target = resolved;
    std::free(resolved);
    const int src = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (src < 0) return false;
    if (::fstat(src, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(src);
        return false;
    }

    std::string base =
        m_options.workDirectory.empty() ? RuntimeDirectory() : m_options.workDirectory;
    if (base.empty()) base = "/tmp";
    std::string folder = base + "/fielddesk-image-XXXXXX";
    if (!::mkdtemp(folder.data())) {  // 0700
        ::close(src);
        return false;
    }
    m_folder = folder;
    const std::string served = folder + "/" + name;
    // A hard link costs nothing and keeps the image's own rights; across file systems, or
    // for a file of another user where links are protected, a copy of our own.
    bool ok = ::link(target.c_str(), served.c_str()) == 0;
    if (ok) {
        // The link must still be the file we looked at, not one swapped in meanwhile.
        struct stat now {};
        ok = ::lstat(served.c_str(), &now) == 0 && now.st_ino == st.st_ino &&
             now.st_dev == st.st_dev;
        if (!ok) ::unlink(served.c_str());
    }
    if (!ok) ok = CopyInto(src, served);
    ::close(src);
    if (!ok || !WriteDirectory(folder)) {
        RemoveFolder();
        return false;
    }
    m_name = name;
    return true;
}

void CFileServerControl::RemoveFolder() {
    if (!m_folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    m_folder.clear();
    m_name.clear();
}

bool CFileServerControl::NeedsElevation() const {
    if (::geteuid() == 0 || m_options.port >= 1024) return false;
    return ::getxattr(m_options.program.c_str(), "security.capability", nullptr, 0) <= 0;
}

std::string CFileServerControl::ElevationProblem() const {
    if (!NeedsElevation()) return {};
    for (const char* pkexec : {"/usr/bin/pkexec", "/bin/pkexec"})
        if (::access(pkexec, X_OK) == 0) return {};
    const std::string port = std::to_string(m_options.port);
    return "FileServer needs the right to use UDP port " + port +
           " and has no way to get it: give it the capability once (sudo setcap "
           "cap_net_bind_service=+ep " +
           m_options.program +
           "), install pkexec so that it can ask for the password (sudo apt install pkexec), "
           "or run FieldDesk as root";
}

CFileServerControl::~CFileServerControl() {
    Release();
    RemoveFolder();
}

void CFileServerControl::ReadReport() {
    if (m_reportFd < 0) return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_reportFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        m_reportBuffer.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t nl;
    while ((nl = m_reportBuffer.find('\n')) != std::string::npos) {
        const std::string line = m_reportBuffer.substr(0, nl);
        m_reportBuffer.erase(0, nl + 1);
        if (line.rfind("client ", 0) == 0) {
            if (m_heard.size() < 4096) m_heard.insert(line.substr(7));
        } else if (line.rfind("listening ", 0) == 0) {
            m_listening = true;
        } else if (line.rfind("error ", 0) == 0 && m_failure.empty()) {
            m_failure = line.substr(6);
        }
    }
    if (m_reportBuffer.size() > 65536) m_reportBuffer.clear();
}

void CFileServerControl::Release() {
    if (m_stopFd >= 0) ::close(m_stopFd);
    m_stopFd = -1;
    if (m_pid > 0) {
        // Give it a moment to leave so that its port is free for the next start.
        const auto deadline = std::chrono::steady_clock::now() + m_options.stopWait;
        bool gone = false;
        while (!gone) {
            gone = ::waitpid(m_pid, nullptr, WNOHANG) != 0;
            if (gone || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!gone) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = 0;
    }
    // What it said before it went is kept for the reasons given afterwards.
    ReadReport();
    if (m_reportFd >= 0) ::close(m_reportFd);
    m_reportFd = -1;
}

void CFileServerControl::Start() {
    Release();
    m_reportBuffer.clear();
    m_heard.clear();
    m_failure.clear();
    m_listening = false;
    m_started = false;
    if (m_name.empty()) {
        // Without its image the server would serve whatever folder the settings file still
        // names, to every network: not started at all.
        m_failure = "the image cannot be read";
        return;
    }
    if (std::string why = ElevationProblem(); !why.empty()) {
        m_failure = std::move(why);
        return;
    }
    std::vector<std::string> args = {
        "--ini",   m_options.iniPath, "--port", std::to_string(m_options.port), "--stop-with-stdin",
        "--report"};
    args.insert(args.end(), {"--only", m_name});
    for (const auto& a : m_addresses) args.insert(args.end(), {"--bind", a});
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        return;
    }
    // The result is not waited for: the upgrade looks for the running process instead.
    pid_t pid = 0;
    if (COperateSystemInfo::RunProcess(m_options.program, args, false,
                                       NeedsElevation() ? "runas" : "", &pid, in[0], out[1])) {
        m_pid = pid;
        m_stopFd = in[1];
        m_reportFd = out[0];
        ::fcntl(m_reportFd, F_SETFL, ::fcntl(m_reportFd, F_GETFL) | O_NONBLOCK);
        m_started = true;
    } else {
        ::close(in[1]);
        ::close(out[0]);
        m_failure = "cannot start " + m_options.program;
    }
    ::close(in[0]);
    ::close(out[1]);
}

bool CFileServerControl::IsRunning() {
    ReadReport();
    if (m_pid > 0) {
        // Ours (also when it now runs as another user and is no longer found by name).
        if (::waitpid(m_pid, nullptr, WNOHANG) == 0) return true;
        m_pid = 0;
        ReadReport();
        return false;
    }
    return COperateSystemInfo::FindProcessByName(ProcessName()) != 0;
}

std::string CFileServerControl::Failure() {
    ReadReport();
    if (m_failure.empty() && m_started && !m_listening) {
        if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = 0;
            ReadReport();
        }
        // Gone before it ever listened, without a word (pkexec refused, or it was killed).
        if (m_pid == 0 && m_failure.empty()) m_failure = "it ended before it served";
    }
    return m_failure;
}

std::optional<bool> CFileServerControl::HeardFrom(const std::string& ip) {
    ReadReport();
    if (!m_started) return std::nullopt;
    return m_heard.count(ip) > 0;
}

void CFileServerControl::Stop() {
    Release();
    COperateSystemInfo::KillProcessesByName(ProcessName());
    RemoveFolder();
}

}  // namespace fd
