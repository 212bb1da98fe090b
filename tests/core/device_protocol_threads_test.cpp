// The engine's threads: workers draining their queues under a flood, the liveness and
// retransmission threads on short periods, and Stop ending everything promptly. Only the
// last test opens real sockets, and only inside a network namespace of the project's.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "core/engine_fakes.h"
#include "engine/device_protocol_sockets.h"

using namespace fd;
using namespace fd::test;
using namespace std::chrono_literals;

namespace {

// A stop wakes the receiving threads at once; one that waited for a datagram that never
// comes would not end at all. The bound only has to tell the two apart on a loaded machine.
constexpr auto kPromptStop = std::chrono::seconds(10);

const std::string kMac = "00:11:22:33:44:55";

DeviceProtocolOptions FakeOptions(FakeStore& store, Recorder& sent) {
    DeviceProtocolOptions o;
    o.store = &store;
    o.sendHook = sent.Hook();
    o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
    o.openSockets = false;
    return o;
}

TEST(EngineThreads, OneWakeUpDrainsTheWholeQueue) {
    FakeStore store;
    Recorder sent;
    CDeviceProtocol engine(FakeOptions(store, sent));
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(engine.InjectDatagram(CDeviceProtocol::PORT_REPLY,
                                          DeviceDatagram(CMD_REBOOT, kMac), "198.18.1.1"));
    EXPECT_EQ(engine.ProcessQueue(CDeviceProtocol::PORT_REPLY), 500u);
    EXPECT_EQ(engine.QueueSize(CDeviceProtocol::PORT_REPLY), 0u);
    EXPECT_EQ(store.Statuses().size(), 500u);
}

TEST(EngineThreads, FloodIsBoundedAndFullyAccountedFor) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.queueCapacity = 1000;
    CDeviceProtocol engine(o);
    ASSERT_TRUE(engine.Start(3, 2000));

    // Ten thousand distinct devices answer one search at once.
    constexpr int kFlood = 10000;
    std::vector<std::vector<uint8_t>> datagrams;
    for (int i = 0; i < kFlood; ++i) {
        uint8_t mac[6] = {0x02, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        datagrams.push_back(EncodeDatagram(CMD_SEARCH, BriefBody("V1", "n"), mac, 0));
    }
    std::thread receiver([&] {
        for (const auto& d : datagrams)
            engine.InjectDatagram(CDeviceProtocol::PORT_SEARCH_REPLY, d, "198.18.1.1");
    });
    receiver.join();
    const auto p = CDeviceProtocol::PORT_SEARCH_REPLY;
    ASSERT_TRUE(WaitFor([&] {
        auto s = engine.GetStats();
        return s.handled[p] + s.overflow[p] == kFlood;
    }));
    auto s = engine.GetStats();
    EXPECT_EQ(s.accepted[p], s.handled[p]);
    EXPECT_LE(s.queuePeak[p], 1000u);
    EXPECT_EQ(engine.GetPeers().size(), s.handled[p]);
    EXPECT_EQ(engine.QueueSize(p), 0u);
    engine.Stop();
}

TEST(EngineThreads, FullQueueDropsAndCounts) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.queueCapacity = 64;
    CDeviceProtocol engine(o);  // not started: nothing drains
    int accepted = 0;
    for (int i = 0; i < 10000; ++i)
        accepted += engine.InjectDatagram(CDeviceProtocol::PORT_KEEPALIVE,
                                          DeviceDatagram(CMD_KEEPALIVE, kMac), "198.18.1.1");
    EXPECT_EQ(accepted, 64);
    EXPECT_EQ(engine.GetStats().overflow[CDeviceProtocol::PORT_KEEPALIVE], 10000u - 64u);
}

TEST(EngineThreads, TimersRetransmitAndAgeOnTheirOwn) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.livenessPeriod = 20ms;
    CDeviceProtocol engine(o);
    ASSERT_TRUE(engine.Start(2, 10));

    ASSERT_TRUE(engine.SendToDevice("198.18.1.1", CMD_RESET, nullptr, 0, kMac, true));
    ASSERT_TRUE(WaitFor([&] { return engine.GetPendingRequests().empty(); }));
    EXPECT_EQ(sent.WithCommand(CMD_RESET).size(), 3u);

    engine.InjectDatagram(CDeviceProtocol::PORT_SEARCH_REPLY,
                          DeviceDatagram(CMD_SEARCH, kMac, BriefBody("V", "n")), "198.18.1.1");
    // The two ports have their own workers; the device answers the info request only after
    // its search reply was handled.
    ASSERT_TRUE(WaitFor([&] { return !engine.GetPeers().empty(); }));
    engine.InjectDatagram(CDeviceProtocol::PORT_REPLY,
                          DeviceDatagram(CMD_DEVICE_INFO, kMac, InfoBody("198.18.1.1")),
                          "198.18.1.1");
    ASSERT_TRUE(WaitFor([&] { return store.Saved().size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return !store.Deleted().empty(); }));
    EXPECT_EQ(store.Deleted()[0], kMac);
    EXPECT_TRUE(engine.GetPeers().empty());

    auto t0 = std::chrono::steady_clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kPromptStop);
}

TEST(EngineThreads, RestartAndConcurrentRequestsAreSafe) {
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.livenessPeriod = 1ms;
    std::atomic<uint64_t> sends{0};
    o.sendHook = [&sends](const OutgoingDatagram&) {  // counts only: probes add up fast
        ++sends;
        return true;
    };
    CDeviceProtocol engine(o);
    ASSERT_TRUE(engine.Start(1, 1));
    ASSERT_TRUE(engine.Start(1, 1));  // replaces the running threads

    std::atomic<bool> done{false};
    std::vector<std::thread> pages;
    pages.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            char mac[18];
            std::snprintf(mac, sizeof mac, "02:00:00:00:%02x:%02x", (i >> 8) & 0xFF, i & 0xFF);
            engine.InjectDatagram(CDeviceProtocol::PORT_SEARCH_REPLY,
                                  DeviceDatagram(CMD_SEARCH, mac, BriefBody("V", "n")),
                                  "198.18.1." + std::to_string(i % 200 + 1));
            engine.InjectDatagram(
                CDeviceProtocol::PORT_REPLY,
                DeviceDatagram(CMD_DEVICE_INFO, mac,
                               InfoBody("198.18.1." + std::to_string(i % 200 + 1))),
                "198.18.1." + std::to_string(i % 200 + 1));
        }
    });
    pages.emplace_back([&] {
        while (!done) {
            store.Discovered();
            engine.ProbeDiscoveredDevices();
            engine.SendSearch();
            engine.SendToDevice("198.18.1.1", CMD_SET_NAME, "abc", 3, kMac, true);
        }
    });
    pages.emplace_back([&] {
        while (!done) {
            engine.ForgetDiscoveredDevices();
            engine.PurgeStaleDevices();
            std::vector<LocalAdapterInfo> a;
            engine.ReadLocalAdapters(a);
        }
    });
    std::this_thread::sleep_for(300ms);
    done = true;
    for (auto& t : pages) t.join();
    engine.Stop();
    EXPECT_GT(engine.GetStats().handled[CDeviceProtocol::PORT_REPLY], 0u);
    EXPECT_GT(sends.load(), 0u);
}

// True when this process runs in a network namespace with nothing but loopback, as the
// test command and the lab make; a developer's own namespace always has more.
bool InIsolatedNamespace() {
    const char* lab = std::getenv("FD_IN_LAB");
    if (lab && std::string(lab) == "1") return true;
    struct if_nameindex* names = if_nameindex();
    if (!names) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n)
        if (std::string(n->if_name) != "lo") onlyLoopback = false;
    if_freenameindex(names);
    return onlyLoopback;
}

TEST(EngineSockets, ReceivesOverLoopbackAndStopsPromptly) {
    if (!InIsolatedNamespace())
        GTEST_SKIP() << "opens the engine's sockets: runs only in an isolated network namespace";
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.openSockets = true;
    CDeviceProtocol engine(o);
    ASSERT_TRUE(engine.Start(3, 2000));
    EXPECT_GT(engine.GetStats().replyReceiveBuffer, 1 << 20);

    int sock = OpenUdpSocket("127.0.0.1", 0, false, false, 1 << 16);
    ASSERT_GE(sock, 0);
    std::vector<uint8_t> search = DeviceDatagram(CMD_SEARCH, kMac, BriefBody("V", "n"));
    std::vector<uint8_t> bad(1500, 0);
    std::memcpy(bad.data(), search.data(), 16);
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, bad));        // too big
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, {1, 2, 3}));  // too short
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortSearchReply, search));
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_REBOOT, kMac)));
    close(sock);

    ASSERT_TRUE(
        WaitFor([&] { return store.Statuses().size() == 1 && !engine.GetPeers().empty(); }));
    EXPECT_STREQ(engine.GetPeers()[0].ip, "127.0.0.1");
    EXPECT_EQ(engine.GetStats().filtered[CDeviceProtocol::PORT_SEARCH_REPLY], 2u);

    auto t0 = std::chrono::steady_clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kPromptStop);
}

}  // namespace

namespace {

TEST(EngineSockets, ReceiveErrorsAreCountedAndTheLoopGoesOn) {
    if (!InIsolatedNamespace())
        GTEST_SKIP() << "opens the engine's sockets: runs only in an isolated network namespace";
    FakeStore store;
    Recorder sent;
    DeviceProtocolOptions o = FakeOptions(store, sent);
    o.openSockets = true;
    // The reply port's thread: its poll() fails with EIO for 300 ms, then its first
    // recvfrom() fails with ENOMEM. The other ports are left alone.
    const auto failUntil = std::chrono::steady_clock::now() + 300ms;
    std::atomic<int> failedPolls{0}, failedRecvs{0};
    auto isReplySocket = [](int fd) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        return getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
               ntohs(a.sin_port) == kPortInfo;
    };
    o.receiveCalls.poll = [&](pollfd* fds, nfds_t n, int timeout) {
        if (isReplySocket(fds[0].fd) && std::chrono::steady_clock::now() < failUntil) {
            ++failedPolls;
            errno = EIO;
            return -1;
        }
        return poll(fds, n, timeout);
    };
    o.receiveCalls.recvfrom = [&](int fd, void* buf, std::size_t size, int flags, sockaddr* from,
                                  socklen_t* len) -> ssize_t {
        if (isReplySocket(fd) && failedRecvs == 0) {
            ++failedRecvs;
            errno = ENOMEM;
            return -1;
        }
        return recvfrom(fd, buf, size, flags, from, len);
    };
    CDeviceProtocol engine(o);
    ASSERT_TRUE(engine.Start(3, 2000));

    int sock = OpenUdpSocket("127.0.0.1", 0, false, false, 1 << 16);
    ASSERT_GE(sock, 0);
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_REBOOT, kMac)));
    // The datagram that was waiting while recvfrom() failed is read on the next wake-up,
    // and later ones as usual.
    ASSERT_TRUE(WaitFor([&] { return store.Statuses().size() == 1; }, 5s));
    EXPECT_TRUE(SendUdp(sock, "127.0.0.1", kPortInfo, DeviceDatagram(CMD_RESET, kMac)));
    ASSERT_TRUE(WaitFor([&] { return store.Statuses().size() == 2; }, 5s));
    close(sock);

    const EngineStats s = engine.GetStats();
    EXPECT_EQ(s.errors[CDeviceProtocol::PORT_REPLY], std::size_t(failedPolls + failedRecvs));
    EXPECT_EQ(failedRecvs, 1);
    // Waited out, not spun on: backing off from 2 ms to 100 ms allows about a dozen tries in
    // 300 ms, a busy loop millions.
    EXPECT_GE(failedPolls, 2);
    EXPECT_LE(failedPolls, 40);
    EXPECT_EQ(s.errors[CDeviceProtocol::PORT_SEARCH_REPLY], 0u);

    auto t0 = std::chrono::steady_clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, kPromptStop);
}

}  // namespace
