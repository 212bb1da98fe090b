#include "support/lab.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "system/network_namespace.h"

namespace fd::test {

namespace {

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::atomic<int> g_labCounter{0};

// A lab is named fdl<pid>n<k>. Labs left behind by a test process that was killed (a
// ctest time-out) are removed the next time a lab is made.
void RemoveAbandonedLabs() {
    DIR* dir = opendir("/run/netns");
    if (!dir) return;
    std::vector<std::string> stale;
    while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        unsigned long pid = 0;
        int used = 0;
        if (n.size() < 8 || n.rfind("fdl", 0) != 0) continue;
        if (std::sscanf(n.c_str() + 3, "%lun%*d%n", &pid, &used) < 1 || used == 0) continue;
        std::string rest = n.substr(3 + static_cast<std::size_t>(used));
        if (rest != "-pc") continue;  // one entry per lab is enough
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        stale.push_back(n.substr(0, n.size() - 3));
    }
    closedir(dir);
    for (const auto& name : stale) RunNetlab({"destroy", name});
}

}  // namespace

std::string NetlabPath() {
    const char* src = std::getenv("FD_SOURCE_DIR");
    if (!src || !*src) return {};
    std::string path = std::string(src) + "/scripts/netlab";
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

int RunNetlab(const std::vector<std::string>& args, std::string* output,
              const std::string& stdinText) {
    std::string netlab = NetlabPath();
    if (netlab.empty()) {
        if (output) *output = "scripts/netlab not found (FD_SOURCE_DIR unset?)";
        return -1;
    }
    std::string cmd = ShellQuote(netlab);
    for (const auto& a : args) cmd += " " + ShellQuote(a);

    std::string inPath;
    if (!stdinText.empty()) {
        char tmpl[] = "/tmp/fd-netlab-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) return -1;
        inPath = tmpl;
        std::size_t off = 0;
        while (off < stdinText.size()) {
            ssize_t n = write(fd, stdinText.data() + off, stdinText.size() - off);
            if (n <= 0) break;
            off += static_cast<std::size_t>(n);
        }
        close(fd);
        cmd += " <" + ShellQuote(inPath);
    } else {
        cmd += " </dev/null";
    }
    cmd += " 2>&1";

    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        if (!inPath.empty()) unlink(inPath.c_str());
        return -1;
    }
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (!inPath.empty()) unlink(inPath.c_str());
    if (output) *output = out;
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

Lab::Lab() {
    m_name = "fdl" + std::to_string(getpid()) + "n" + std::to_string(g_labCounter++);
}

Lab::~Lab() {
    if (m_created) Destroy();
}

bool Lab::Create() {
    if (m_created) return true;
    if (geteuid() != 0) {
        m_error = "the network lab needs root: run the tests with scripts/test.sh (any user)";
        return false;
    }
    if (NetlabPath().empty()) {
        m_error = "scripts/netlab not found (FD_SOURCE_DIR unset?)";
        return false;
    }
    RemoveAbandonedLabs();
    std::string out;
    int rc = RunNetlab({"create", m_name}, &out);
    if (rc != 0) {
        m_error = "netlab create failed: " + out;
        return false;
    }
    m_created = true;
    return true;
}

bool Lab::Destroy() {
    if (!m_created) return true;
    std::string out;
    int rc = RunNetlab({"destroy", m_name}, &out);
    if (rc != 0) {
        m_error = "netlab destroy failed: " + out;
        return false;
    }
    m_created = false;
    return true;
}

bool Lab::AddDeviceAddresses(const std::vector<std::string>& ips) {
    if (ips.empty()) return true;
    std::string lines;
    for (const auto& ip : ips) lines += ip + "\n";
    std::string out;
    if (RunNetlab({"add-addr", m_name, "-"}, &out, lines) != 0) {
        m_error = "netlab add-addr failed: " + out;
        return false;
    }
    return true;
}

bool Lab::AddPcAddresses(const std::vector<std::string>& ips) {
    std::vector<std::string> args{"add-addr", "--pc", m_name};
    args.insert(args.end(), ips.begin(), ips.end());
    std::string out;
    if (RunNetlab(args, &out) != 0) {
        m_error = "netlab add-addr --pc failed: " + out;
        return false;
    }
    return true;
}

bool Lab::AddLink(int index, const std::string& pcIp) {
    std::vector<std::string> args{"add-link", m_name, std::to_string(index)};
    if (!pcIp.empty()) args.push_back(pcIp);
    std::string out;
    if (RunNetlab(args, &out) != 0) {
        m_error = "netlab add-link failed: " + out;
        return false;
    }
    return true;
}

int Lab::Exec(const std::string& side, const std::vector<std::string>& command,
              std::string* output) {
    std::vector<std::string> args{"exec", m_name, side, "--"};
    args.insert(args.end(), command.begin(), command.end());
    return RunNetlab(args, output);
}

NamespaceScope::NamespaceScope(const std::string& nsName) {
    m_saved = SaveNetworkNamespace();
    if (m_saved < 0) {
        m_error = "cannot open this thread's network namespace";
        return;
    }
    m_ok = EnterNetworkNamespace(nsName, &m_error);
}

NamespaceScope::~NamespaceScope() {
    if (m_saved >= 0) ReturnToNetworkNamespace(m_saved);
}

void LabTest::SetUp() {
    if (!m_lab.Create()) {
        GTEST_SKIP() << m_lab.Error();
    }
    m_savedNs = SaveNetworkNamespace();
    ASSERT_GE(m_savedNs, 0) << "cannot open this thread's network namespace";
    std::string err;
    ASSERT_TRUE(EnterNetworkNamespace(m_lab.PcNamespace(), &err)) << err;
    // Code that refuses to open real sockets outside a lab looks at this.
    setenv("FD_IN_LAB", "1", 1);
}

void LabTest::TearDown() {
    if (m_savedNs >= 0) {
        ReturnToNetworkNamespace(m_savedNs);
        m_savedNs = -1;
    }
    if (m_lab.Exists()) {
        EXPECT_TRUE(m_lab.Destroy()) << m_lab.Error();
    }
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace fd::test
