// The engine's threads: the transport's workers feeding the handlers under a flood, the
// liveness and retransmission threads on short periods, restarts under concurrent requests,
// and Stop ending everything promptly. No socket is opened (the transport's own tests do).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "core/engine_fakes.h"

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

TEST(EngineThreads, SearchOnlyRowsAreHeldUntilTheInformationHadItsChance) {
    const std::string answers = "02:00:00:00:00:01", silent = "02:00:00:00:00:02",
                      forgotten = "02:00:00:00:00:03";
    auto search = [](CDeviceProtocol& engine, const std::string& mac, const std::string& ip) {
        engine.InjectDatagram(CDeviceProtocol::PORT_SEARCH_REPLY,
                              DeviceDatagram(CMD_SEARCH, mac, BriefBody("V", "n")), ip);
    };
    {
        // A hold longer than the test: only the stop writes what is held.
        FakeStore store;
        Recorder sent;
        DeviceProtocolOptions o = FakeOptions(store, sent);
        o.discoveredRowHold = std::chrono::hours(1);
        CDeviceProtocol engine(o);
        ASSERT_TRUE(engine.Start(3, 2000));
        search(engine, forgotten, "198.18.1.3");
        ASSERT_TRUE(WaitFor([&] { return engine.GetPeers().size() == 1; }));
        engine.ForgetDiscoveredDevices();  // its held row goes with it

        search(engine, answers, "198.18.1.1");
        search(engine, silent, "198.18.1.2");
        ASSERT_TRUE(WaitFor([&] { return engine.GetPeers().size() == 2; }));
        engine.InjectDatagram(CDeviceProtocol::PORT_REPLY,
                              DeviceDatagram(CMD_DEVICE_INFO, answers, InfoBody("198.18.1.1")),
                              "198.18.1.1");
        ASSERT_TRUE(WaitFor([&] { return store.Saved().size() == 1; }));
        EXPECT_EQ(store.DiscoveredWrites(), 0) << "written before the hold ended";

        // What reads the store after the stop (the command line's list) has every device.
        engine.Stop();
        ASSERT_EQ(store.Discovered().size(), 1u);
        EXPECT_STREQ(store.Discovered()[0].mac, silent.c_str());
        EXPECT_EQ(store.Discovered()[0].ap_status, AP_STATUS_DISCOVERED);
        EXPECT_EQ(store.DiscoveredWrites(), 1) << "the device that answered had a row written";
    }
    {
        // A short hold: the row comes while the engine runs.
        FakeStore store;
        Recorder sent;
        DeviceProtocolOptions o = FakeOptions(store, sent);
        o.discoveredRowHold = 50ms;
        CDeviceProtocol engine(o);
        ASSERT_TRUE(engine.Start(3, 2000));
        search(engine, silent, "198.18.1.2");
        ASSERT_TRUE(WaitFor([&] { return store.Discovered().size() == 1; }));
        EXPECT_STREQ(store.Discovered()[0].mac, silent.c_str());
    }
}

}  // namespace
