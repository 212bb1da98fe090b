// Discovery at scale over real sockets: one search of 250, 1000 and 4000 emulated devices
// (fielddesk-devsim in a network lab made for the run), timed until the store holds every
// device Online. Beside it, the same datagrams taken by a bare receive loop (search, a
// device-info request per answer, the device infos): what the path itself allows.
//
// Needs root (it makes its own lab with scripts/netlab and removes it at the end); every
// socket lives in the lab's namespaces. Run for example:
//   sudo build/bin/discovery_lab_bench --benchmark_repetitions=3 [--sizes=250,1000,4000]
// It ends with a table of medians, the bare loop beside the engine, and the two verdicts:
// the engine within 3x of the bare loop at 4000 devices, and the time per device at 4000
// within 1.5x of that at 250. The exit code is 1 when a target is missed or a datagram lost.
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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/device_protocol.h"
#include "wire/packet.h"
#include "store/sql_management.h"
#include "lab_devices.h"
#include "system/network_namespace.h"

extern char** environ;

namespace {

using namespace fd::bench;
constexpr auto kDiscoveryLimit = std::chrono::seconds(20);  // per search, whatever happens
constexpr const char* kPcBroadcast = "198.18.255.255";      // pc0 is 198.18.0.1/16

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

// Devices the store lists as Online.
std::size_t OnlineCount(CSqlManagement& store) {
    std::vector<std::string> macs;
    store.QueryApMacList(macs);
    std::size_t online = 0;
    for (const std::string& mac : macs)
        if (store.GetApStatus(mac) == fd::AP_STATUS_ONLINE) ++online;
    return online;
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
    double lost = 0, brief = 0, info = 0, overflow = 0, cpu = 0, briefs = 0, simLost = 0;
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
            const uint64_t simDropsBefore = lab->DeviceSideDrops();
            double cpuBefore = ProcessCpuMs();
            auto start = Clock::now();
            engine.SendSearch();
            // The reply worker counts a datagram as handled once its handler has returned,
            // that is once the device info is in the store. Watching that counter costs
            // nothing; querying the store while it is written would slow the writes down
            // more the fuller the table gets. The store is checked once at the end.
            const auto target = static_cast<uint64_t>(n);
            double briefsMs = 0;
            while (Clock::now() - start < kDiscoveryLimit) {
                fd::EngineStats now = engine.GetStats();
                if (briefsMs == 0 && now.handled[0] >= target)
                    briefsMs = std::chrono::duration<double, std::milli>(Clock::now() - start)
                                   .count();
                if (now.handled[2] >= target) break;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            cpu += ProcessCpuMs() - cpuBefore;
            briefs += briefsMs;
            const std::size_t stored = OnlineCount(store);
            if (stored >= static_cast<std::size_t>(n)) ++complete;
            fd::EngineStats s = engine.GetStats();
            engine.Stop();
            lost += static_cast<double>(UdpReceiveBufferErrors() - dropsBefore);
            simLost += static_cast<double>(lab->DeviceSideDrops() - simDropsBefore);
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
    // Commands the simulator missed (its receive buffer was full); the engine's retries
    // make up for them two seconds later.
    state.counters["sim_lost"] = benchmark::Counter(simLost, benchmark::Counter::kAvgIterations);
    state.counters["queue_drops"] =
        benchmark::Counter(overflow, benchmark::Counter::kAvgIterations);
    state.counters["brief"] = benchmark::Counter(brief, benchmark::Counter::kAvgIterations);
    state.counters["info"] = benchmark::Counter(info, benchmark::Counter::kAvgIterations);
    state.counters["complete"] = benchmark::Counter(complete, benchmark::Counter::kAvgIterations);
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    // When the last search answer had been handled (every device asked for its info).
    state.counters["briefs_ms"] = benchmark::Counter(briefs, benchmark::Counter::kAvgIterations);
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
    double lost = 0, simLost = 0;
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
        const uint64_t simDropsBefore = g_lab->DeviceSideDrops();
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
        simLost += static_cast<double>(g_lab->DeviceSideDrops() - simDropsBefore);
        for (int f : {search, replies, mcast}) close(f);
        state.SetIterationTime(seconds);
    }
    state.counters["lost"] = benchmark::Counter(lost, benchmark::Counter::kAvgIterations);
    state.counters["sim_lost"] = benchmark::Counter(simLost, benchmark::Counter::kAvgIterations);
    state.counters["complete"] = benchmark::Counter(complete, benchmark::Counter::kAvgIterations);
}

// What the run is judged by, from the two kinds of runs of each size: the engine's time
// against the bare loop's on the same lab, and the engine's time per device at the largest
// size against the smallest.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Figures {
        std::vector<double> engineMs, bareMs, engineCpuMs, bareCpuMs;
        double lost = 0, complete = 0, simLost = 0;
        int engineRuns = 0;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const int n = std::atoi(r.run_name.args.c_str());
            Figures& f = m_sizes[n];
            const double ms = r.GetAdjustedRealTime();
            if (r.run_name.function_name == "BM_EngineDiscovery") {
                f.engineMs.push_back(ms);
                ++f.engineRuns;
                if (auto it = r.counters.find("lost"); it != r.counters.end())
                    f.lost += it->second.value;
                if (auto it = r.counters.find("complete"); it != r.counters.end())
                    f.complete += it->second.value;
                if (auto it = r.counters.find("cpu_ms"); it != r.counters.end())
                    f.engineCpuMs.push_back(it->second.value);
                if (auto it = r.counters.find("sim_lost"); it != r.counters.end())
                    f.simLost += it->second.value;
            } else if (r.run_name.function_name == "BM_BareReceiveLoop") {
                f.bareMs.push_back(ms);
                // The bare loop does all its work on the benchmark's own thread.
                f.bareCpuMs.push_back(r.GetAdjustedCPUTime());
            }
        }
    }

    // Prints the table and the verdicts; false when a target is missed.
    bool PrintSummary() const {
        // Wall times decide; the CPU figures show what a busy machine does to them (the
        // engine's is every thread of this process, the bare loop's its one thread).
        std::printf("\n%8s %10s %10s %7s %10s %12s %12s %6s %9s\n", "devices", "engine_ms",
                    "bare_ms", "ratio", "us/device", "engine_cpu", "bare_cpu", "lost",
                    "complete");
        for (const auto& [n, f] : m_sizes) {
            const double e = Median(f.engineMs), b = Median(f.bareMs);
            std::printf("%8d %10.1f %10.1f %7.2f %10.1f %10.1fms %10.1fms %6.0f %5.0f/%-3d\n", n,
                        e, b, b > 0 ? e / b : 0.0, e > 0 ? e * 1000.0 / n : 0.0,
                        Median(f.engineCpuMs), Median(f.bareCpuMs), f.lost, f.complete,
                        f.engineRuns);
        }
        bool ok = true;
        const Figures* small = Find(250);
        const Figures* large = Find(4000);
        if (large && !large->engineMs.empty() && !large->bareMs.empty()) {
            const double ratio = Median(large->engineMs) / Median(large->bareMs);
            const bool met = ratio <= 3.0;
            ok = ok && met;
            std::printf("4000 devices, engine / bare loop: %.2fx (target <= 3x): %s\n", ratio,
                        met ? "met" : "MISSED");
        }
        if (small && large && !small->engineMs.empty() && !large->engineMs.empty()) {
            const double growth =
                (Median(large->engineMs) / 4000.0) / (Median(small->engineMs) / 250.0);
            const bool met = growth <= 1.5;
            ok = ok && met;
            std::printf("time per device, 4000 / 250: %.2fx (target <= 1.5x): %s\n", growth,
                        met ? "met" : "MISSED");
        }
        for (const auto& [n, f] : m_sizes) {
            if (f.simLost > 0)
                std::printf("%d devices: the simulator missed %.0f commands in %d searches "
                            "(its receive buffer was full); retries made up for them\n",
                            n, f.simLost, f.engineRuns);
            if (f.lost > 0 || f.complete < f.engineRuns) {
                ok = false;
                std::printf("%d devices: %.0f datagrams lost, %.0f of %d searches complete\n", n,
                            f.lost, f.complete, f.engineRuns);
            }
        }
        return ok;
    }

private:
    static double Median(std::vector<double> v) {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        const std::size_t m = v.size() / 2;
        return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
    }
    const Figures* Find(int n) const {
        auto it = m_sizes.find(n);
        return it == m_sizes.end() ? nullptr : &it->second;
    }
    std::map<int, Figures> m_sizes;
};

// "--sizes=250,1000,4000" (the default); taken out of the arguments before the library
// sees them.
std::vector<int> TakeSizes(int& argc, char** argv) {
    std::vector<int> sizes;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        std::string_view a(argv[i]);
        if (a.rfind("--sizes=", 0) == 0) {
            std::string list(a.substr(8));
            std::replace(list.begin(), list.end(), ',', ' ');
            std::istringstream in(list);
            int n;
            while (in >> n)
                if (n > 0) sizes.push_back(n);
        } else {
            argv[out++] = argv[i];
        }
    }
    argc = out;
    if (sizes.empty()) sizes = {250, 1000, 4000};
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<int> sizes = TakeSizes(argc, argv);
    // Each size: the engine first, then the bare loop on the same lab and simulator.
    for (int n : sizes) {
        benchmark::RegisterBenchmark("BM_EngineDiscovery", BM_EngineDiscovery)
            ->Arg(n)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_BareReceiveLoop", BM_BareReceiveLoop)
            ->Arg(n)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    CloseLab();
    const bool ok = reporter.PrintSummary();
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
