#pragma once
// Shared by the lab benchmarks: a network lab made for the run with one fielddesk-devsim in
// its devices' namespace, and the counters they report. Needs root; every socket lives in
// the lab's namespaces.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "system/network_namespace.h"

extern char** environ;

namespace fd::bench {

using Clock = std::chrono::steady_clock;

inline std::string BinDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    return std::filesystem::path(buf).parent_path().string();
}

inline std::string Netlab() {
    const char* src = std::getenv("FD_SOURCE_DIR");
    return std::string(src ? src : FD_SOURCE_DIR_DEFAULT) + "/scripts/netlab";
}

inline int Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kernel counter of UDP datagrams dropped for a full receive buffer, in the calling
// thread's namespace.
inline uint64_t UdpReceiveBufferErrors(const std::string& snmp = "/proc/thread-self/net/snmp") {
    std::ifstream f(snmp);
    std::string line, header;
    while (std::getline(f, line)) {
        if (line.rfind("Udp:", 0) != 0) continue;
        if (header.empty()) {
            header = line;
            continue;
        }
        std::istringstream h(header), v(line);
        std::string name, value;
        while (h >> name && v >> value)
            if (name == "RcvbufErrors") return std::stoull(value);
    }
    return 0;
}

// User and system time of every thread of this process, in milliseconds.
inline double ProcessCpuMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

inline double PeakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// One lab with one simulator of n devices; the thread that makes it is left in the PC
// namespace until the lab goes.
class LabWithDevices {
public:
    // extraArgs go to fielddesk-devsim after the defaults (no keepalives, 30 minutes).
    explicit LabWithDevices(int n, std::vector<std::string> extraArgs = {})
        : m_n(n), m_extra(std::move(extraArgs)), m_name("fdbench" + std::to_string(getpid())) {}
    ~LabWithDevices() { Close(); }

    bool Open(std::string& error) {
        if (Run({Netlab(), "create", m_name}) != 0) {
            error = "netlab create failed (root needed)";
            return false;
        }
        m_created = true;
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            error = "pipe";
            return false;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        std::vector<std::string> args = {Netlab(),      "exec",
                                         m_name,        "dev",
                                         "--",          BinDir() + "/fielddesk-devsim",
                                         "--count",     std::to_string(m_n),
                                         "--keepalive", "0",
                                         "--duration",  "1800",
                                         "--stats"};
        args.insert(args.end(), m_extra.begin(), m_extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&m_sim, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(err[1]);
        m_simOut = out[0];
        if (rc != 0) {
            m_sim = -1;
            close(err[0]);
            error = "cannot start fielddesk-devsim";
            return false;
        }
        // Ready once it says how many devices it runs (bounded wait).
        std::string said;
        auto deadline = Clock::now() + std::chrono::seconds(30);
        while (said.find(" devices from ") == std::string::npos && Clock::now() < deadline) {
            pollfd p{err[0], POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buf[512];
            ssize_t k = read(err[0], buf, sizeof buf);
            if (k <= 0) break;
            said.append(buf, static_cast<std::size_t>(k));
        }
        close(err[0]);
        if (said.find(" devices from ") == std::string::npos) {
            error = "fielddesk-devsim did not come up: " + said;
            return false;
        }
        m_saved = fd::SaveNetworkNamespace();
        if (!fd::EnterNetworkNamespace(m_name + "-pc", &error)) return false;
        m_inside = true;
        return true;
    }

    // Stops the simulator and returns what it says it sent.
    std::string Close() {
        std::string said;
        if (m_inside) {
            fd::ReturnToNetworkNamespace(m_saved);
            m_inside = false;
        }
        if (m_sim > 0) {
            kill(m_sim, SIGTERM);
            auto deadline = Clock::now() + std::chrono::seconds(10);
            while (Clock::now() < deadline) {
                pollfd p{m_simOut, POLLIN, 0};
                if (poll(&p, 1, 200) <= 0) continue;
                char buf[512];
                ssize_t k = read(m_simOut, buf, sizeof buf);
                if (k <= 0) break;
                said.append(buf, static_cast<std::size_t>(k));
            }
            waitpid(m_sim, nullptr, 0);
            m_sim = -1;
        }
        if (m_simOut >= 0) close(m_simOut);
        m_simOut = -1;
        if (m_created) Run({Netlab(), "destroy", m_name});
        m_created = false;
        return said;
    }

    int Count() const { return m_n; }
    // Datagrams the devices' side dropped for a full receive buffer: what the simulator,
    // one thread for all its devices, could not take in.
    uint64_t DeviceSideDrops() const {
        return m_sim > 0 ? UdpReceiveBufferErrors("/proc/" + std::to_string(m_sim) + "/net/snmp")
                         : 0;
    }
    uint64_t engineBrief = 0, engineInfo = 0;  // what the engines took in, all searches

private:
    int m_n;
    std::vector<std::string> m_extra;
    std::string m_name;
    bool m_created = false, m_inside = false;
    int m_saved = -1;
    pid_t m_sim = -1;
    int m_simOut = -1;
};

}  // namespace fd::bench
