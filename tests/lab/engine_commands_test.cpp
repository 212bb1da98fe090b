// Commands over real sockets: retransmission and acknowledgement, command results in the
// store, neighbour scans and the set-IP move.

#include <cstring>
#include <thread>

#include "lab/engine_lab.h"

using namespace fd;
using namespace fd::test;
using devsim::AckMode;
using devsim::EmulatedDevice;
using devsim::MakeDevice;

namespace {

class EngineCommandsTest : public EngineLabTest {
protected:
    // Waits a few retransmission intervals past the point where nothing more may come.
    void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(3 * kIntervalMs)); }

    std::vector<uint8_t> NameBlock(const std::string& name) {
        DeviceNameBlock b{};
        SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, name);
        auto bytes = BytesOf(b);
        return {bytes.begin(), bytes.end()};
    }
};

}  // namespace

TEST_F(EngineCommandsTest, RetransmissionEndsOnlyWithAnAckFromTheDevicesAddress) {
    auto macs = AddDevices(3);
    const std::string silent = macs[0], elsewhere = macs[1], good = macs[2];
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.1.99"})) << m_lab.Error();
    m_peer->UpdateDevice(silent, [](EmulatedDevice& d) { d.ackMode = AckMode::Silent; });
    m_peer->UpdateDevice(elsewhere, [](EmulatedDevice& d) {
        d.ackMode = AckMode::FromOtherAddress;
        d.ackAddress = "198.18.1.99";
    });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());

    auto block = NameBlock("renamed");
    for (const auto& mac : macs) {
        auto dev = *m_peer->GetDevice(mac);
        ASSERT_TRUE(m_engine->SendToDevice(dev.address, CMD_SET_NAME, block.data(),
                                           static_cast<int>(block.size()), mac, true));
    }
    // The device that never answers, and the one whose answer comes from another address,
    // get the first transmission and every retransmission; the other one exactly one.
    for (const auto& mac : {silent, elsewhere})
        ASSERT_TRUE(m_peer->WaitForCommand(CMD_SET_NAME, mac, kRetransmissionMax + 1, kWait));
    EXPECT_TRUE(PendingEmpty());
    Settle();
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_NAME, silent), std::size_t(kRetransmissionMax + 1));
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_NAME, elsewhere), std::size_t(kRetransmissionMax + 1));
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_NAME, good), 1u);

    // Each transmission is the same datagram: header to the group, the block as body.
    for (const auto& d : m_peer->ReceivedCommands(CMD_SET_NAME)) {
        EXPECT_EQ(d.toIp, kMulticastGroup);
        EXPECT_EQ(d.decoded->body, block);
    }
    // The device applied it.
    auto dev = *m_peer->GetDevice(good);
    EXPECT_EQ(FieldText(dev.info.ap_name, 32, dev.info.ap_name_len), "renamed");

    // Commands the engine never retransmits go out once whatever the caller asks.
    ASSERT_TRUE(m_engine->SendToDevice("198.18.1.1", CMD_PROBE, nullptr, 0, silent, true));
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_PROBE, silent, 1, kWait));
    EXPECT_TRUE(m_engine->GetPendingRequests().empty());
    Settle();
    EXPECT_EQ(m_peer->CountCommand(CMD_PROBE, silent), 1u);
}

TEST_F(EngineCommandsTest, CommandResultsMoveTheStatusOnlyOnSuccess) {
    auto macs = AddDevices(4);
    const std::string ok = macs[0], refused = macs[1], resetOk = macs[2], bridgeFail = macs[3];
    m_peer->UpdateDevice(refused, [](EmulatedDevice& d) { d.ackResult[CMD_REBOOT] = 1; });
    m_peer->UpdateDevice(bridgeFail, [](EmulatedDevice& d) { d.ackResult[CMD_BRIDGE_CONFIG] = 1; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(4));

    auto send = [&](const std::string& mac, int cmd, std::vector<uint8_t> body = {}) {
        auto dev = *m_peer->GetDevice(mac);
        return m_engine->SendToDevice(dev.address, cmd, body.empty() ? nullptr : body.data(),
                                      static_cast<int>(body.size()), mac, true);
    };
    ASSERT_TRUE(send(ok, CMD_REBOOT));
    ASSERT_TRUE(send(refused, CMD_REBOOT));
    ASSERT_TRUE(send(resetOk, CMD_RESET));
    ASSERT_TRUE(send(bridgeFail, CMD_BRIDGE_CONFIG, std::vector<uint8_t>(326, 0)));

    ASSERT_TRUE(WaitUntil([&] { return m_store->GetApStatus(ok) == AP_STATUS_RESTARTING; }, kWait));
    ASSERT_TRUE(
        WaitUntil([&] { return m_store->GetApStatus(resetOk) == AP_STATUS_RESETING; }, kWait));
    ASSERT_TRUE(WaitUntil([&] { return m_store->GetApStatus(bridgeFail) == AP_STATUS_BRIDGE_FAIL; },
                          kWait));
    // A refused reboot is still an answer: no retransmission, and the status stays.
    EXPECT_TRUE(PendingEmpty());
    Settle();
    EXPECT_EQ(m_peer->CountCommand(CMD_REBOOT, refused), 1u);
    EXPECT_EQ(m_store->GetApStatus(refused), AP_STATUS_ONLINE);
    EXPECT_EQ(m_peer->CountCommand(CMD_REBOOT, ok), 1u);
}

TEST_F(EngineCommandsTest, ScanCompletesOnTheLastPacketWhateverTheOrder) {
    auto macs = AddDevices(1);
    const std::string mac = macs[0];
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));

    const std::vector<std::vector<int>> orders = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}};
    int neighbour = 0;
    std::size_t stored = 0;
    for (const auto& order : orders) {
        SCOPED_TRACE(::testing::PrintToString(order));
        // Three packets of 31 + 31 + 5 neighbours, all new to the store.
        std::vector<config_otherwl_basic> aps;
        for (int i = 0; i < 67; ++i) aps.push_back(devsim::MakeNeighbour(neighbour++));
        auto bodies = devsim::ScanBodiesFor(aps);
        ASSERT_EQ(bodies.size(), 3u);

        // The scan command clears the flag; the device answers only when told to here.
        ASSERT_TRUE(m_engine->SendToDevice("198.18.1.1", CMD_SCAN, nullptr, 0, mac, true));
        EXPECT_FALSE(m_engine->IsScanComplete());
        bool lastSeen = false;
        for (int id : order) {
            ASSERT_TRUE(m_peer->SendScanResult(mac, bodies[id], kPc));
            stored += id == 2 ? 5 : 31;
            lastSeen = lastSeen || id == 2;
            // The flag goes up just after the last packet's neighbours are stored: wait for
            // both, so the check never races the worker.
            ASSERT_TRUE(WaitUntil(
                [&] {
                    OtherApList list;
                    m_store->QueryOtherApList(0, list, true);
                    return list.size() == stored && m_engine->IsScanComplete() == lastSeen;
                },
                kWait))
                << "after packet " << id;
        }
    }
    // The scan is never retransmitted. The peer records on its own thread: the last scan
    // command may still be on its way when the test's own answers are done.
    EXPECT_TRUE(m_peer->WaitForCommand(CMD_SCAN, mac, orders.size(), kWait));
    Settle();  // a retransmission would have come by now
    EXPECT_EQ(m_peer->CountCommand(CMD_SCAN, mac), orders.size());
    EXPECT_TRUE(m_engine->GetPendingRequests().empty());
}

TEST_F(EngineCommandsTest, SetIpAckMovesTheDeviceToItsPendingAddress) {
    auto macs = AddDevices(2);
    const std::string a = macs[0], b = macs[1];
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.1.50"})) << m_lab.Error();
    // B will later answer a search from the address A moves to.
    m_peer->UpdateDevice(b, [](EmulatedDevice& d) { d.answerSearch = false; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));

    EmulatedDevice dev = *m_peer->GetDevice(a);
    IpConfigBlock block = GetIpBlock(dev.info);
    IpFromText("198.18.1.50", block.ip);

    m_engine->SetPendingAddress(a, "198.18.1.1", "198.18.1.50");
    EXPECT_STREQ(Peer(a)->pending_ip, "198.18.1.50");
    ASSERT_TRUE(m_engine->SendToDevice("198.18.1.1", CMD_SET_IP, &block, sizeof block, a, true));

    // The device acknowledges from its old address and moves; the engine follows.
    ASSERT_TRUE(WaitUntil([&] { return std::string(Peer(a)->ip) == "198.18.1.50"; }, kWait));
    EXPECT_STREQ(Peer(a)->pending_ip, "");
    EXPECT_TRUE(PendingEmpty());
    EXPECT_EQ(m_peer->GetDevice(a)->address, "198.18.1.50");
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_IP, a), 1u);

    // The new address now belongs to A: B answering from it gets no device-info request.
    m_peer->UpdateDevice(b, [](EmulatedDevice& d) {
        d.answerSearch = true;
        d.address = "198.18.1.50";
        IpFromText("198.18.1.50", d.info.ip);
    });
    m_peer->UpdateDevice(a, [](EmulatedDevice& d) { d.answerSearch = false; });
    m_engine->SendSearch();
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_SEARCH, b, 1, kWait));
    Settle();
    EXPECT_EQ(m_peer->CountCommand(CMD_DEVICE_INFO, b), 0u);
    EXPECT_FALSE(Row(b));

    // A set-IP acknowledged without an announced address leaves the address alone.
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.1.51"})) << m_lab.Error();
    IpFromText("198.18.1.51", block.ip);
    ASSERT_TRUE(m_engine->SendToDevice("198.18.1.50", CMD_SET_IP, &block, sizeof block, a, true));
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_SET_IP, a, 2, kWait));
    EXPECT_TRUE(PendingEmpty());
    EXPECT_STREQ(Peer(a)->ip, "198.18.1.50");
}
