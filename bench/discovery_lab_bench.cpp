// Discovery at scale over real sockets: one search of 250, 1000 and 4000 emulated devices
// (fielddesk-devsim in a network lab made for the run), timed until the store holds every
// device Online. Beside it, the same datagrams taken by a bare receive loop (search, a
// device-info request per answer, the device infos): what the path itself allows.
//
// Needs root (it makes its own lab with scripts/netlab and removes it at the end); every
// socket lives in the lab's namespaces. Run for example:
//   sudo build/bin/discovery_lab_bench --benchmark_repetitions=3
// Counters: lost = datagrams the PC side never took in (kernel receive-buffer drops plus
// the engine's own queue drops), brief/info = answers taken in, cpu_ms = CPU time of all
// the engine's threads (and the polling) during the search, rss_mb = peak resident
// memory of this process so far (run one size per process for a per-size figure).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/device_protocol.h"
#include "wire/packet.h"
#include "store/sql_management.h"
#include "system/network_namespace.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDiscoveryLimit = std::chrono::seconds(20);  // per search, whatever happens
constexpr const char* kPcBroadcast = "198.18.255.255";      // pc0 is 198.18.0.1/16

std::string BinDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    return std::filesystem::path(buf).parent_path().string();
}

std::string Netlab() {
    const char* src = std::getenv("FD_SOURCE_DIR");
    return std::string(src ? src : FD_SOURCE_DIR_DEFAULT) + "/scripts/netlab";
}

int Run(const std::vector<std::string>& args) {
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
uint64_t UdpReceiveBufferErrors() {
    std::ifstream f("/proc/thread-self/net/snmp");
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
double ProcessCpuMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

double PeakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// One lab with one simulator of n devices; the thread that makes it is left in the PC
// namespace until the lab goes.
class LabWithDevices {
public:
    explicit LabWithDevices(int n) : m_n(n), m_name("fdbench" + std::to_string(getpid())) {}
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
    uint64_t engineBrief = 0, engineInfo = 0;  // what the engines took in, all searches

private:
    int m_n;
    std::string m_name;
    bool m_created = false, m_inside = false;
    int m_saved = -1;
    pid_t m_sim = -1;
    int m_simOut = -1;
};

std::unique_ptr<LabWithDevices> g_lab;

void CloseLab() {
    if (!g_lab) return;
    std::string said = g_lab->Close();
    std::fprintf(stderr,
                 "[%d devices] simulator: %s[%d devices] engines took in: brief_info=%llu "
                 "device_info_and_acks=%llu\n",
                 g_lab->Count(), said.c_str(), g_lab->Count(),
                 static_cast<unsigned long long>(g_lab->engineBrief),
                 static_cast<unsigned long long>(g_lab->engineInfo));
    g_lab.reset();
}

// The lab for n devices, replacing one of another size.
LabWithDevices* LabFor(int n, std::string& error) {
    if (g_lab && g_lab->Count() == n) return g_lab.get();
    CloseLab();
    g_lab = std::make_unique<LabWithDevices>(n);
    if (!g_lab->Open(error)) {
        CloseLab();
        return nullptr;
    }
    return g_lab.get();
}

std::size_t StoredCount(CSqlManagement& store) {
    std::vector<std::string> macs;
    store.QueryApMacList(macs);
    return macs.size();
}

void BM_EngineDiscovery(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    if (geteuid() != 0) {
        state.SkipWithError("needs the network lab: run it inside scripts/netlab shell");
        return;
    }
    std::string error;
    LabWithDevices* lab = LabFor(n, error);
    if (!lab) {
        state.SkipWithError(error.c_str());
        return;
    }
    double lost = 0, brief = 0, info = 0, overflow = 0, cpu = 0;
    int complete = 0;
    for (auto _ : state) {
        char dir[] = "/tmp/fd-bench-XXXXXX";
        if (!mkdtemp(dir)) {
            state.SkipWithError("mkdtemp");
            break;
        }
        double seconds = 0;
        {
            CSqlManagement store(std::string(dir) + "/data.mdb");
            fd::DeviceProtocolOptions o;
            o.store = &store;
            CDeviceProtocol engine(o);
            if (!engine.Start(3, 2000)) {  // the settings file's defaults
                state.SkipWithError("engine did not start");
                break;
            }
            uint64_t dropsBefore = UdpReceiveBufferErrors();
            double cpuBefore = ProcessCpuMs();
            auto start = Clock::now();
            engine.SendSearch();
            std::size_t stored = 0;
            while (Clock::now() - start < kDiscoveryLimit) {
                stored = StoredCount(store);
                if (stored >= static_cast<std::size_t>(n)) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            cpu += ProcessCpuMs() - cpuBefore;
            if (stored >= static_cast<std::size_t>(n)) ++complete;
            fd::EngineStats s = engine.GetStats();
            engine.Stop();
            lost += static_cast<double>(UdpReceiveBufferErrors() - dropsBefore);
            for (int p = 0; p < 3; ++p) overflow += static_cast<double>(s.overflow[p]);
            brief += static_cast<double>(s.accepted[0]);
            info += static_cast<double>(s.accepted[2]);
            lab->engineBrief += s.accepted[0];
            lab->engineInfo += s.accepted[2];
        }
        std::filesystem::remove_all(dir);
        state.SetIterationTime(seconds);
    }
    state.counters["lost"] =
        benchmark::Counter(lost + overflow, benchmark::Counter::kAvgIterations);
    state.counters["queue_drops"] =
        benchmark::Counter(overflow, benchmark::Counter::kAvgIterations);
    state.counters["brief"] = benchmark::Counter(brief, benchmark::Counter::kAvgIterations);
    state.counters["info"] = benchmark::Counter(info, benchmark::Counter::kAvgIterations);
    state.counters["complete"] = benchmark::Counter(complete, benchmark::Counter::kAvgIterations);
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    state.counters["rss_mb"] = PeakRssMb();
}

int OpenBound(uint16_t port, int buffer, bool broadcast) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SendTo(int fd, const std::vector<uint8_t>& bytes, const char* ip, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, ip, &to.sin_addr);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// The same exchange with nothing but recvfrom and sendto: broadcast the search, ask every
// device that answers for its info by multicast, count the infos.
void BM_BareReceiveLoop(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    if (geteuid() != 0) {
        state.SkipWithError("needs the network lab: run it inside scripts/netlab shell");
        return;
    }
    std::string error;
    if (!LabFor(n, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    double lost = 0;
    int complete = 0;
    for (auto _ : state) {
        // The engine's buffer sizes: 10 MiB for search answers and for infos.
        int search = OpenBound(fd::kPortSearchReply, 10 << 20, true);
        int replies = OpenBound(fd::kPortInfo, 10 << 20, false);
        int mcast = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (search < 0 || replies < 0 || mcast < 0) {
            state.SkipWithError("cannot open the bare loop's sockets");
            for (int f : {search, replies, mcast})
                if (f >= 0) close(f);
            break;
        }
        in_addr pc{};
        inet_pton(AF_INET, "198.18.0.1", &pc);
        setsockopt(mcast, IPPROTO_IP, IP_MULTICAST_IF, &pc, sizeof pc);
        unsigned char off = 0;
        setsockopt(mcast, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);

        uint64_t dropsBefore = UdpReceiveBufferErrors();
        uint8_t zero[6] = {};
        auto start = Clock::now();
        SendTo(search, fd::EncodeDatagram(fd::CMD_SEARCH, {}, zero, 0, 0), kPcBroadcast,
               fd::kPortSearch);
        std::set<std::string> infos;
        uint8_t buf[2048];
        while (infos.size() < static_cast<std::size_t>(n) &&
               Clock::now() - start < kDiscoveryLimit) {
            pollfd fds[2] = {{search, POLLIN, 0}, {replies, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t k =
                    recvfrom(search, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (k >= 16) {
                    auto dg = fd::DecodeDatagram(std::span<const uint8_t>(buf, k));
                    if (dg && dg->header.command == fd::CMD_SEARCH)
                        SendTo(mcast,
                               fd::EncodeDatagram(fd::CMD_DEVICE_INFO, {}, dg->header.mac, 1, 0),
                               fd::kMulticastGroup, fd::kPortCommand);
                }
            }
            if (fds[1].revents & POLLIN) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t k =
                    recvfrom(replies, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (k >= 16) {
                    auto dg = fd::DecodeDatagram(std::span<const uint8_t>(buf, k));
                    if (dg && dg->header.command == fd::CMD_DEVICE_INFO)
                        infos.insert(fd::MacToText(dg->header.mac));
                }
            }
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (infos.size() >= static_cast<std::size_t>(n)) ++complete;
        lost += static_cast<double>(UdpReceiveBufferErrors() - dropsBefore);
        for (int f : {search, replies, mcast}) close(f);
        state.SetIterationTime(seconds);
    }
    state.counters["lost"] = benchmark::Counter(lost, benchmark::Counter::kAvgIterations);
    state.counters["complete"] = benchmark::Counter(complete, benchmark::Counter::kAvgIterations);
}

// Each size: the engine first, then the bare loop on the same lab and simulator.
BENCHMARK(BM_EngineDiscovery)
    ->Arg(250)
    ->Arg(1000)
    ->Arg(4000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareReceiveLoop)
    ->Arg(250)
    ->Arg(1000)
    ->Arg(4000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    CloseLab();
    benchmark::Shutdown();
    return 0;
}
