// The bulk workers against a recording engine (and a real store where they read one), their
// slots, the Set IP check and its progress.

#include "actions/device_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "store/sql_management.h"
#include "support/fake_device_engine.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using fd::SelectedDevice;
using fd::test::RecordingEngine;
using fd::test::TempDir;
using Clock = std::chrono::steady_clock;

std::vector<SelectedDevice> Devices(int count) {
    std::vector<SelectedDevice> out;
    for (int i = 0; i < count; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "00:1b:2c:00:00:%02x", i + 1);
        out.push_back({"10.0.0." + std::to_string(i + 1), mac, 1});
    }
    return out;
}

// Waits until the slot's worker has returned (bounded).
bool WaitIdle(const fd::WorkerSlot& slot, std::chrono::milliseconds limit = 5s) {
    const auto end = Clock::now() + limit;
    while (slot.Running()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

ap_info_stu StoredDevice(const SelectedDevice& d, int workMode, const char* ssidMac,
                         const char* bridgeMac) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "%s", d.mac.c_str());
    rec.ap_type = 1;
    rec.ap_status = fd::AP_STATUS_ONLINE;
    rec.work_mode = static_cast<uint8_t>(workMode);
    fd::IpFromText(d.ip, rec.ip);
    fd::MacFromText(ssidMac, rec.ssid_mac);
    fd::MacFromText(bridgeMac, rec.bridge_mac);
    return rec;
}

class RestartWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
        // Device 0 stands alone; device 1 is an access point with device 2, a station,
        // linked to it.
        m_devices = Devices(3);
        ASSERT_TRUE(m_store->SaveApInfo(StoredDevice(m_devices[0], fd::WORK_MODE_AP,
                                                     "02:00:00:00:00:aa", "00:00:00:00:00:00")));
        ASSERT_TRUE(m_store->SaveApInfo(StoredDevice(m_devices[1], fd::WORK_MODE_AP,
                                                     "02:00:00:00:00:bb", "00:00:00:00:00:00")));
        ASSERT_TRUE(m_store->SaveApInfo(StoredDevice(m_devices[2], fd::WORK_MODE_STATION,
                                                     "02:00:00:00:00:cc", "02:00:00:00:00:bb")));
        ASSERT_TRUE(m_store->HasBridgedStation(m_devices[1].mac));
        ASSERT_FALSE(m_store->HasBridgedStation(m_devices[0].mac));
    }

    TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    std::vector<SelectedDevice> m_devices;
    RecordingEngine m_engine;
};

TEST_F(RestartWorkerTest, AccessPointWithBridgedStationGoesFirst) {
    for (int command : {fd::CMD_REBOOT, fd::CMD_RESET}) {
        RecordingEngine engine;
        fd::WorkerSlot slot;
        // Selection order puts the plain device first.
        fd::StartRestartWorker(slot, engine, *m_store, command, {m_devices[0], m_devices[1]});
        ASSERT_TRUE(WaitIdle(slot));
        EXPECT_TRUE(slot.TakeFinished());
        EXPECT_FALSE(slot.TakeFinished());
        const auto sends = engine.Sends();
        ASSERT_EQ(sends.size(), 2u);
        EXPECT_EQ(sends[0].mac, m_devices[1].mac);
        EXPECT_EQ(sends[1].mac, m_devices[0].mac);
        EXPECT_GE(sends[1].at - sends[0].at, 200ms);
        for (const auto& s : sends) {
            EXPECT_EQ(s.command, command);
            EXPECT_TRUE(s.body.empty());
            EXPECT_TRUE(s.retransmit);
        }
        EXPECT_EQ(sends[1].ip, m_devices[0].ip);
    }
}

TEST_F(RestartWorkerTest, StopDuringTheGapSendsNoSecondPass) {
    fd::WorkerSlot slot;
    fd::StartRestartWorker(slot, m_engine, *m_store, fd::CMD_REBOOT, {m_devices[0], m_devices[1]},
                           60s);
    const auto until = Clock::now() + 5s;
    while (m_engine.Sends().empty() && Clock::now() < until) std::this_thread::sleep_for(1ms);
    const auto t0 = Clock::now();
    slot.Stop();
    EXPECT_LT(Clock::now() - t0, 30s) << "the wait did not wake on the stop request";
    EXPECT_FALSE(slot.Running());
    EXPECT_FALSE(slot.TakeFinished());
    ASSERT_EQ(m_engine.Sends().size(), 1u);
    EXPECT_EQ(m_engine.Sends()[0].mac, m_devices[1].mac);
}

TEST(SleepUnlessStopped, WakesOnStopAndTellsWhy) {
    const auto t0 = Clock::now();
    EXPECT_TRUE(fd::SleepUnlessStopped({}, 30ms));
    EXPECT_GE(Clock::now() - t0, 30ms);

    std::stop_source source;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(20ms);
        source.request_stop();
    });
    const auto t1 = Clock::now();
    EXPECT_FALSE(fd::SleepUnlessStopped(source.get_token(), 60s));
    EXPECT_LT(Clock::now() - t1, 30s);
    // Already stopped: no wait at all.
    EXPECT_FALSE(fd::SleepUnlessStopped(source.get_token(), 10s));
}

TEST(WorkerSlot, NewWorkerStopsTheOldOneBetweenSends) {
    RecordingEngine engine;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    engine.SetSendHook([&](const RecordingEngine::Send&) {
        if (inside.fetch_add(1) != 0) overlapped = true;
        std::this_thread::sleep_for(10ms);
        inside.fetch_sub(1);
    });
    fd::WorkerSlot slot;
    const auto devices = Devices(60);
    fd::StartSettingWorker(slot, engine, fd::CMD_TRANSPARENT_BRIDGE, devices, {1});
    const auto until = Clock::now() + 5s;
    while (engine.Sends().size() < 3 && Clock::now() < until) std::this_thread::sleep_for(1ms);
    fd::StartSettingWorker(slot, engine, fd::CMD_AIRSLOT, Devices(2), {0, 1});
    ASSERT_TRUE(WaitIdle(slot));
    EXPECT_TRUE(slot.TakeFinished());

    const auto sends = engine.Sends();
    std::size_t oldSends = 0;
    bool newSeen = false;
    for (const auto& s : sends) {
        if (s.command == fd::CMD_AIRSLOT) {
            newSeen = true;
        } else {
            ++oldSends;
            EXPECT_FALSE(newSeen) << "the old worker sent after the new one started";
        }
    }
    EXPECT_GE(oldSends, 3u);
    EXPECT_LT(oldSends, devices.size());
    EXPECT_EQ(sends.size() - oldSends, 2u);
    EXPECT_FALSE(overlapped.load());
}

TEST(WorkerSlot, FinishedHandlerAndStopWithoutWorker) {
    fd::WorkerSlot slot;
    slot.Stop();
    std::atomic<int> calls{0};
    slot.SetFinishedHandler([&] { ++calls; });
    slot.Start([](std::stop_token) {});
    ASSERT_TRUE(WaitIdle(slot));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(slot.TakeFinished());
}

TEST(WorkerSlot, DestroyingTheSlotStopsItsWorker) {
    RecordingEngine engine;
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    CSqlManagement store(dir.Path("data.mdb"), [](const std::string&) {});
    const auto t0 = Clock::now();
    {
        fd::WorkerSlot slot;
        fd::StartRestartWorker(slot, engine, store, fd::CMD_RESET, Devices(2), 120s);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(Clock::now() - t0, 60s);
    EXPECT_TRUE(engine.Sends().empty());  // neither device has a bridged station
}

TEST(SettingWorker, SendsTheBlockToEveryDeviceInOrder) {
    RecordingEngine engine;
    const auto devices = Devices(3);
    fd::RunSettingWorker({}, engine, fd::CMD_AIRSLOT, devices, {0, 1});
    const auto sends = engine.Sends();
    ASSERT_EQ(sends.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sends[i].mac, devices[i].mac);
        EXPECT_EQ(sends[i].ip, devices[i].ip);
        EXPECT_EQ(sends[i].command, fd::CMD_AIRSLOT);
        EXPECT_TRUE(sends[i].retransmit);
        EXPECT_EQ(sends[i].body, (std::vector<uint8_t>{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
}

TEST(RenameWorker, NameBlockWithLengthAndWholeCharacters) {
    RecordingEngine engine;
    const auto dev = Devices(1)[0];
    fd::RunRenameWorker({}, engine, dev, "ap-north");
    auto sends = engine.Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].command, fd::CMD_SET_NAME);
    EXPECT_TRUE(sends[0].retransmit);
    ASSERT_EQ(sends[0].body.size(), 33u);
    EXPECT_EQ(std::memcmp(sends[0].body.data(), "ap-north", 8), 0);
    EXPECT_EQ(sends[0].body[8], 0);
    EXPECT_EQ(sends[0].body[32], 8);

    // 11 three-byte characters: 33 bytes would not fit; the block keeps 10 whole ones.
    std::string cjk;
    for (int i = 0; i < 11; ++i) cjk += "\xE4\xB8\xAD";
    const auto block = fd::MakeNameBlock(cjk);
    EXPECT_EQ(block.ap_name_len, 30);
    EXPECT_EQ(block.ap_name[30], 0);
}

TEST(MultiSetIpWorker, WalksTheRangeAcrossTheSubnetBoundary) {
    RecordingEngine engine;
    fd::MultiSetIpParams p{"192.168.1.254", "192.168.2.3", "255.255.0.0", "", "8.8.8.8", ""};
    const auto devices = Devices(5);
    fd::RunMultiSetIpWorker({}, engine, p, devices);

    const std::vector<std::string> expected{"192.168.1.254", "192.168.2.1", "192.168.2.2",
                                            "192.168.2.3"};
    const auto pending = engine.PendingAddresses();
    const auto sends = engine.Sends();
    ASSERT_EQ(pending.size(), 4u);
    ASSERT_EQ(sends.size(), 4u);  // the fifth device gets nothing
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(pending[i].mac, devices[i].mac);
        EXPECT_EQ(pending[i].currentIp, devices[i].ip);
        EXPECT_EQ(pending[i].newIp, expected[i]);
        EXPECT_EQ(sends[i].ip, devices[i].ip);
        EXPECT_EQ(sends[i].mac, devices[i].mac);
        EXPECT_EQ(sends[i].command, fd::CMD_SET_IP);
        EXPECT_TRUE(sends[i].retransmit);
        ASSERT_EQ(sends[i].body.size(), sizeof(IpConfigBlock));
        IpConfigBlock b;
        std::memcpy(&b, sends[i].body.data(), sizeof b);
        EXPECT_EQ(b.ip_mode, 1);
        EXPECT_EQ(fd::IpToText(b.ip), expected[i]);
        EXPECT_EQ(fd::IpToText(b.ip_mask), "255.255.0.0");
        EXPECT_EQ(fd::IpToText(b.ip_gateway), "0.0.0.0");
        EXPECT_EQ(fd::IpToText(b.ip_dns1), "8.8.8.8");
        EXPECT_EQ(b.reserved, 1);
    }
    // The pending address is announced before each set-IP goes out.
    const auto calls = engine.Calls();
    std::vector<std::string> expectedCalls;
    for (int i = 0; i < 4; ++i) expectedCalls.insert(expectedCalls.end(), {"pending", "send"});
    EXPECT_EQ(calls, expectedCalls);
}

TEST(MultiSetIpWorker, EachDeviceIsAskedAgainAtItsNewAddress) {
    // An engine that plays three devices: the first takes its address, the second
    // acknowledges and keeps its old one, the third never answers the read-back.
    fd::CommandLog log;
    RecordingEngine engine;
    const auto devices = Devices(3);
    engine.SetSendHook([&](const RecordingEngine::Send& s) {
        if (s.command == fd::CMD_SET_IP) {
            log.RecordSent(s.mac, s.ip, s.command, s.body.data(), static_cast<int>(s.body.size()));
            log.RecordAnswer(s.mac, s.command, 0);
        } else if (s.command == fd::CMD_DEVICE_INFO && s.mac != devices[2].mac) {
            ap_info_stu report{};
            std::strcpy(report.mac, s.mac.c_str());
            fd::IpFromText(s.mac == devices[0].mac ? s.ip : "192.168.1.99", report.ip);
            fd::IpFromText("255.255.255.0", report.ip_mask);
            log.RecordReport(report);
        }
    });
    fd::ReadBack readBack{&log, {}};
    readBack.options.answerDeadline = std::chrono::milliseconds(300);
    fd::MultiSetIpParams p{"192.168.1.20", "192.168.1.40", "255.255.255.0", "", "", ""};
    fd::RunMultiSetIpWorker({}, engine, p, devices, readBack);

    std::vector<std::string> asked;
    for (const auto& s : engine.Sends())
        if (s.command == fd::CMD_DEVICE_INFO) asked.push_back(s.ip);
    EXPECT_EQ(asked, (std::vector<std::string>{"192.168.1.20", "192.168.1.21", "192.168.1.22"}));
    EXPECT_EQ(log.VerificationOf(devices[0].mac).state, fd::VerificationState::Verified);
    EXPECT_EQ(log.VerificationOf(devices[1].mac).text,
              "not applied: ip (sent 192.168.1.21, device reports 192.168.1.99)");
    EXPECT_EQ(log.VerificationOf(devices[2].mac).text, "no answer at 192.168.1.22");
}

TEST(MultiSetIpWorker, OneDeviceTakesBeginAndIgnoresEnd) {
    RecordingEngine engine;
    fd::MultiSetIpParams p{"10.1.1.9", "garbage", "255.255.255.0", "10.1.1.1", "", ""};
    fd::RunMultiSetIpWorker({}, engine, p, Devices(1));
    ASSERT_EQ(engine.PendingAddresses().size(), 1u);
    EXPECT_EQ(engine.PendingAddresses()[0].newIp, "10.1.1.9");
    ASSERT_EQ(engine.Sends().size(), 1u);

    // Several devices with an end below the beginning: nothing at all.
    RecordingEngine none;
    p.end = "10.1.1.2";
    fd::RunMultiSetIpWorker({}, none, p, Devices(2));
    EXPECT_TRUE(none.Calls().empty());
}

TEST(CheckMultiSetIp, StopsAtTheFirstFailureInOrder) {
    // Every field wrong; mending them one at a time walks through the messages in order.
    fd::MultiSetIpParams p{"127.0.0.1", "10.0.0.0",  "255.255.255.255",
                           "0.1.2.3",   "224.0.0.1", "10.0.0.255"};
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address is invalid!");
    p.begin = "10.0.0.5";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The subnet mask is invalid!");
    p.mask = "255.0.255.0";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The gateway address is invalid!");
    p.gateway = "10.0.0.5";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address and gateway address cannot be the same!");
    p.gateway = "10.0.0.20";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address is invalid!");  // end
    p.end = "10.0.0.5";                                                  // not above begin
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address is invalid!");
    p.end = "10.0.0.20";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address and gateway address cannot be the same!");
    p.end = "10.0.1.9";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key,
              "Ip address and gateway address is not in the same subnet!");
    p.end = "10.0.0.9";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The primary DNS Server is invalid!");
    p.dns1 = "";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The secondary DNS Server is invalid!");
    p.dns2 = "0.0.0.0";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "");
    // One device: the end is not looked at.
    p.end = "nonsense";
    EXPECT_EQ(fd::CheckMultiSetIp(p, 1).key, "");
    EXPECT_EQ(fd::CheckMultiSetIp(p, 2).key, "The ip address is invalid!");
}

// The one planner behind the Set IP dialog and the command line's set-ip.
TEST(PlanBulkAddresses, RefusesWhatWouldLeaveADeviceWrongOrUnaddressed) {
    const std::vector<SelectedDevice> three{
        {"10.0.0.7", "00:1b:2c:00:00:07", 1},
        {"10.0.0.8", "00:1b:2c:00:00:08", 1},
        {"10.0.0.9", "00:1b:2c:00:00:09", 1}};
    fd::MultiSetIpParams p{"10.0.0.20", "10.0.0.40", "255.255.255.0", "10.0.0.1", "", ""};
    auto plan = fd::PlanBulkAddresses(p, three, {"10.0.0.7", "10.0.0.8", "10.0.0.9"});
    ASSERT_TRUE(plan.ok());
    ASSERT_EQ(plan.assignments.size(), 3u);
    EXPECT_EQ(plan.assignments[2].newIp, "10.0.0.22");
    EXPECT_EQ(plan.assignments[2].device.mac, "00:1b:2c:00:00:09");

    // The form's own checks come first, with their codes.
    p.gateway = "10.0.9.1";
    EXPECT_EQ(fd::PlanBulkAddresses(p, three, {}).failure.code, fd::RuleCode::GatewayOutsideSubnet);
    p.gateway = "";
    // Two addresses for three devices.
    p.end = "10.0.0.21";
    plan = fd::PlanBulkAddresses(p, three, {});
    EXPECT_EQ(plan.failure.code, fd::RuleCode::RangeTooSmall);
    EXPECT_EQ(plan.detail, "2");
    // Without a gateway only the two ends are checked; the addresses between them that leave
    // the first one's subnet are caught here (.255 and 10.0.1.0 are skipped).
    p.begin = "10.0.0.253";
    p.end = "10.0.1.9";
    plan = fd::PlanBulkAddresses(p, three, {});
    EXPECT_EQ(plan.failure.code, fd::RuleCode::IpInvalid);
    EXPECT_EQ(plan.detail, "10.0.1.1");
    // Another device's address is in use; the device's own address is not.
    p.begin = "10.0.0.30";
    p.end = "10.0.0.40";
    plan = fd::PlanBulkAddresses(p, three, {"10.0.0.31"});
    EXPECT_EQ(plan.failure.code, fd::RuleCode::IpInUse);
    EXPECT_EQ(plan.detail, "10.0.0.31");
    EXPECT_TRUE(plan.assignments.empty());
    p.begin = "10.0.0.7";
    EXPECT_TRUE(fd::PlanBulkAddresses(p, {three[0]}, {"10.0.0.7"}).ok());
}

class CountingSearcher : public fd::IWaitSearcher {
public:
    void ProbeDiscoveredDevices() override { calls.push_back("probe@" + std::to_string(at)); }
    void SendSearch() override { calls.push_back("search@" + std::to_string(at)); }
    std::vector<std::string> calls;
    int at = 0;
};

TEST(IpSetProgress, SearchesAtEightAndAHalfElevenAndAHalfAndFourteenAndAHalfSeconds) {
    CountingSearcher searcher;
    fd::IpSetProgress progress(searcher);
    int ticks = 0;
    bool done = false;
    while (!done && ticks < 100) {
        searcher.at = (ticks + 1) * 500;  // milliseconds after Save at this tick
        done = progress.Tick();
        ++ticks;
        if (!done) {
            EXPECT_EQ(progress.Position(), ticks + 1);
        }
    }
    EXPECT_EQ(ticks, 29);  // closes at 14.5 s
    EXPECT_EQ(progress.Position(), 30);
    EXPECT_EQ(searcher.calls, (std::vector<std::string>{"probe@8500", "search@8500", "search@11500",
                                                        "search@14500"}));
    EXPECT_EQ(progress.SearchesLeft(), 0);
}

}  // namespace
