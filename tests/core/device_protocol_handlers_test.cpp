// The engine's reply handling and requests, driven directly: no thread, no socket. Every
// datagram the engine sends is recorded; the store is a recording fake.

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "actions/answer_wait.h"
#include "core/engine_fakes.h"
#include "presentation/device_list.h"

using namespace fd;
using namespace fd::test;

namespace {

const std::string kMacA = "00:11:22:33:44:01";
const std::string kMacB = "00:11:22:33:44:02";
const std::string kMacC = "00:11:22:33:44:03";

class EngineHandlers : public ::testing::Test {
protected:
    FakeStore store;
    CommandLog commands;
    Recorder sent;
    std::vector<LocalAdapterInfo> adapters{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})};
    std::unique_ptr<CDeviceProtocol> engine;

    void SetUp() override { Make(); }

    void Make(int retransmissionMax = 3) {
        DeviceProtocolOptions o;
        o.store = &store;
        o.commands = &commands;
        o.sendHook = sent.Hook();
        o.adapterSource = [this] { return adapters; };
        o.openSockets = false;
        o.retransmissionMax = retransmissionMax;
        // The handlers write search-only rows at once; holding them back has its own test.
        o.discoveredRowHold = std::chrono::milliseconds(0);
        engine = std::make_unique<CDeviceProtocol>(o);
        std::vector<LocalAdapterInfo> list;
        engine->ReadLocalAdapters(list);
    }

    // Through the receiving filter and one worker wake-up, as a real datagram goes.
    void Deliver(CDeviceProtocol::Port port, const std::vector<uint8_t>& bytes,
                 const std::string& fromIp) {
        engine->InjectDatagram(port, bytes, fromIp);
        engine->ProcessQueue(port);
    }
    void SearchReply(const std::string& mac, const std::string& ip,
                     std::vector<uint8_t> body = BriefBody("V1", "cpe")) {
        Deliver(CDeviceProtocol::PORT_SEARCH_REPLY, DeviceDatagram(CMD_SEARCH, mac, body), ip);
    }
    void Reply(int command, const std::string& mac, const std::string& ip,
               std::vector<uint8_t> body = {}) {
        Deliver(CDeviceProtocol::PORT_REPLY, DeviceDatagram(command, mac, body), ip);
    }
    // A device answers the search and delivers its info from ip.
    void Found(const std::string& mac, const std::string& ip) {
        SearchReply(mac, ip);
        Reply(CMD_DEVICE_INFO, mac, ip, InfoBody(ip));
    }
    const PeerEntry* Peer(const std::string& mac) {
        peers = engine->GetPeers();
        for (const PeerEntry& p : peers)
            if (mac == p.mac) return &p;
        return nullptr;
    }
    std::vector<PeerEntry> peers;
};

TEST_F(EngineHandlers, ZeroMacSearchReplyGetsOnlyTheAnswer) {
    SearchReply("00:00:00:00:00:00", "198.18.1.1");
    auto all = sent.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].header.command, CMD_SEARCH);
    EXPECT_EQ(all[0].header.multicast, 1);
    EXPECT_EQ(all[0].out.destIp, "239.255.255.250");
    EXPECT_EQ(all[0].out.destPort, 9787);
    EXPECT_EQ(all[0].out.localIp, "198.18.0.1");
    EXPECT_TRUE(engine->GetPeers().empty());
    EXPECT_TRUE(engine->GetPendingRequests().empty());
}

TEST_F(EngineHandlers, SearchReplyCreatesPeerAndRequestsInfo) {
    // Old firmware answers with the version block alone.
    std::vector<uint8_t> body = BriefBody("V1.0.3", "ignored");
    body.resize(33);
    SearchReply(kMacA, "198.18.1.1", body);

    const PeerEntry* p = Peer(kMacA);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->ip, "198.18.1.1");
    EXPECT_EQ(p->state, 1);
    EXPECT_EQ(p->liveness, 3);
    // The store holds the search-only device as a row of status 10.
    const ap_info_stu* row = store.DiscoveredRow(kMacA);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->ap_status, AP_STATUS_DISCOVERED);
    EXPECT_EQ(row->ap_type, 7);
    EXPECT_EQ(IpToText(row->ip), "198.18.1.1");
    EXPECT_EQ(FieldText(row->version, 32, row->version_len), "V1.0.3");
    EXPECT_EQ(row->ap_name_len, 0);
    EXPECT_EQ(row->up_time, 0u);

    auto all = sent.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].header.command, CMD_SEARCH);
    EXPECT_EQ(all[1].header.command, CMD_DEVICE_INFO);
    EXPECT_EQ(all[1].mac, kMacA);
    auto pending = engine->GetPendingRequests();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].command, CMD_DEVICE_INFO);
    EXPECT_STREQ(pending[0].ip, "198.18.1.1");
}

TEST_F(EngineHandlers, SearchReplyTextsAreRepairedButKeepTheirLength) {
    // "端末" (6 bytes) plus the first two bytes of a third 3-byte character.
    std::string name = "\xE7\xAB\xAF\xE6\x9C\xAB\xE5\x90";
    SearchReply(kMacA, "198.18.1.1", BriefBody("V1", name, 4242));
    const ap_info_stu* p = store.DiscoveredRow(kMacA);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p->ap_name)), name.substr(0, 6));
    EXPECT_EQ(p->ap_name_len, 8);  // as the device sent it
    EXPECT_EQ(p->up_time, 4242u);
    EXPECT_EQ(p->work_mode, WORK_MODE_STATION);
    EXPECT_EQ(p->channel, 11);
    EXPECT_EQ(p->tdmaEn, 1);
}

TEST_F(EngineHandlers, ZeroPaddedTextsEndAtTheFirstZeroInTheListedRow) {
    // Firmware that gives every text the field's full size as its length.
    BriefInfoBody b{};
    SetFieldText(b.version, sizeof b.version, b.version_len, "V3.2");
    SetFieldText(b.ap_name, sizeof b.ap_name, b.ap_name_len, "Mast");
    SetFieldText(b.ssid, sizeof b.ssid, b.ssid_len, "north");
    b.version_len = b.ap_name_len = b.ssid_len = 32;
    auto bytes = BytesOf(b);
    SearchReply(kMacA, "198.18.1.1", {bytes.begin(), bytes.end()});

    ApInfoList found = store.Discovered();
    ASSERT_EQ(found.size(), 1u);
    const auto columns = StatusPageColumns();
    const DeviceRow row = MakeDeviceRow(found[0], columns, 1);
    EXPECT_TRUE(row.discoveredOnly);
    auto cell = [&](ColumnContent c) {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].content == c) return row.cells[i];
        return std::string("?");
    };
    EXPECT_EQ(cell(ColumnContent::Location), "Mast");
    EXPECT_EQ(cell(ColumnContent::Ssid), "north");
    EXPECT_EQ(cell(ColumnContent::Version), "V3.2");
}

TEST_F(EngineHandlers, DeviceInfoIsStoredWithConvertedTexts) {
    SearchReply(kMacA, "198.18.1.1");
    std::vector<uint8_t> body = InfoBody("198.18.1.1", std::string("ab\xE6\x9C", 4));
    body[FD_BODY_OFFSET(ssid_len)] = 255;  // a length byte no field can hold
    Reply(CMD_DEVICE_INFO, kMacA, "198.18.1.1", body);

    auto saved = store.Saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_STREQ(saved[0].mac, kMacA.c_str());
    EXPECT_EQ(saved[0].ap_type, 7);
    EXPECT_EQ(saved[0].ap_status, 0);
    EXPECT_EQ(saved[0].ap_name_len, 2);
    EXPECT_EQ(FieldText(saved[0].ap_name, 32, saved[0].ap_name_len), "ab");
    EXPECT_EQ(saved[0].ap_name[2], 0);
    EXPECT_LE(saved[0].ssid_len, 32);
    EXPECT_EQ(IpToText(saved[0].ip), "198.18.1.1");

    const PeerEntry* p = Peer(kMacA);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->state, 2);
    EXPECT_EQ(saved[0].up_time, 500u);
    EXPECT_TRUE(store.Discovered().empty());  // the row now holds the information
    EXPECT_TRUE(engine->GetPendingRequests().empty());  // the info request is answered
}

TEST_F(EngineHandlers, DeviceInfoFromUnknownDeviceIsRejected) {
    Reply(CMD_DEVICE_INFO, kMacA, "198.18.1.1", InfoBody("198.18.1.1"));
    EXPECT_TRUE(store.Saved().empty());
    EXPECT_TRUE(engine->GetPeers().empty());
}

TEST_F(EngineHandlers, FirstDeviceToDeliverItsInfoOwnsTheAddress) {
    SearchReply(kMacA, "198.18.1.20");
    SearchReply(kMacB, "198.18.1.20");
    EXPECT_EQ(sent.WithCommand(CMD_DEVICE_INFO).size(), 2u);  // neither holds it yet

    Reply(CMD_DEVICE_INFO, kMacA, "198.18.1.20", InfoBody("198.18.1.20"));
    Reply(CMD_DEVICE_INFO, kMacB, "198.18.1.20", InfoBody("198.18.1.20"));
    ASSERT_EQ(store.Saved().size(), 1u);
    EXPECT_STREQ(store.Saved()[0].mac, kMacA.c_str());
    EXPECT_EQ(Peer(kMacB)->state, 1);

    // B searched again: answered, but not asked for its info while A holds the address.
    sent.Clear();
    SearchReply(kMacB, "198.18.1.20");
    EXPECT_EQ(sent.WithCommand(CMD_SEARCH).size(), 1u);
    EXPECT_TRUE(sent.WithCommand(CMD_DEVICE_INFO).empty());

    // Once A has gone silent and is swept out, B's info is accepted.
    for (int i = 0; i < 4; ++i) engine->SweepLiveness();
    EXPECT_EQ(Peer(kMacA), nullptr);
    Reply(CMD_DEVICE_INFO, kMacB, "198.18.1.20", InfoBody("198.18.1.20"));
    ASSERT_EQ(store.Saved().size(), 2u);
    EXPECT_STREQ(store.Saved()[1].mac, kMacB.c_str());
}

TEST_F(EngineHandlers, AddressOwnershipFollowsMovesAndRemovals) {
    // A holds .20, then moves to .21 by keepalive: .20 is free for B, .21 is not.
    Found(kMacA, "198.18.1.20");
    KeepaliveBody ka{};
    auto kaBytes = BytesOf(ka);
    Deliver(CDeviceProtocol::PORT_KEEPALIVE,
            DeviceDatagram(CMD_KEEPALIVE, kMacA, {kaBytes.begin(), kaBytes.end()}), "198.18.1.21");
    SearchReply(kMacB, "198.18.1.20");
    Reply(CMD_DEVICE_INFO, kMacB, "198.18.1.21", InfoBody("198.18.1.21"));
    EXPECT_EQ(Peer(kMacB)->state, 1);
    Reply(CMD_DEVICE_INFO, kMacB, "198.18.1.20", InfoBody("198.18.1.20"));
    EXPECT_EQ(Peer(kMacB)->state, 2);

    // A set-IP moves B to .30; the address it left can be claimed again, the new one not.
    engine->SetPendingAddress(kMacB, "198.18.1.20", "198.18.1.30");
    Reply(CMD_SET_IP, kMacB, "198.18.1.20");
    EXPECT_STREQ(Peer(kMacB)->ip, "198.18.1.30");
    sent.Clear();
    SearchReply(kMacC, "198.18.1.30");
    EXPECT_TRUE(sent.WithCommand(CMD_DEVICE_INFO).empty());
    SearchReply(kMacC, "198.18.1.20");
    EXPECT_EQ(sent.WithCommand(CMD_DEVICE_INFO).size(), 1u);

    // Forgetting the undelivered C and sweeping out A and B leaves lookups consistent.
    engine->ForgetDiscoveredDevices();
    EXPECT_EQ(Peer(kMacC), nullptr);
    for (int i = 0; i < 4; ++i) engine->SweepLiveness();
    EXPECT_TRUE(engine->GetPeers().empty());
    Found(kMacC, "198.18.1.30");
    EXPECT_EQ(Peer(kMacC)->state, 2);
    sent.Clear();
    Deliver(CDeviceProtocol::PORT_KEEPALIVE,
            DeviceDatagram(CMD_KEEPALIVE, kMacA, {kaBytes.begin(), kaBytes.end()}), "198.18.1.21");
    EXPECT_TRUE(sent.All().empty());  // A is no longer known
}

TEST_F(EngineHandlers, UnacknowledgedCommandIsSentRetransmissionMaxPlusOneTimes) {
    Make(2);
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_REBOOT, nullptr, 0, kMacA, true));
    for (int pass = 0; pass < 6; ++pass) engine->RetransmitPending();
    EXPECT_EQ(sent.WithCommand(CMD_REBOOT).size(), 3u);
    EXPECT_TRUE(engine->GetPendingRequests().empty());
}

TEST_F(EngineHandlers, OnlyTheMatchingAcknowledgementEndsRetransmission) {
    uint8_t block[4] = {1, 2, 3, 4};
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_SET_TIMED_REBOOT, block, 4, kMacA, true));
    Reply(CMD_SET_TIMED_REBOOT, kMacA, "198.18.1.99");  // another source address
    Reply(CMD_SET_TIMED_REBOOT, kMacB, "198.18.1.1");   // another device
    Reply(CMD_SET_NAME, kMacA, "198.18.1.1");           // another command
    EXPECT_EQ(engine->GetPendingRequests().size(), 1u);

    engine->RetransmitPending();
    auto resent = sent.WithCommand(CMD_SET_TIMED_REBOOT);
    ASSERT_EQ(resent.size(), 2u);
    EXPECT_EQ(resent[1].out.bytes, resent[0].out.bytes);  // the same body again

    Reply(CMD_SET_TIMED_REBOOT, kMacA, "198.18.1.1");
    EXPECT_TRUE(engine->GetPendingRequests().empty());
}

TEST_F(EngineHandlers, AnswerArrivingBeforeTheSendReturnsStillEndsTheCommand) {
    int rebootsSent = 0;
    DeviceProtocolOptions o;
    o.store = &store;
    o.adapterSource = [this] { return adapters; };
    o.openSockets = false;
    o.sendHook = [&](const OutgoingDatagram& out) {
        PacketHeader h;
        std::memcpy(&h, out.bytes.data(), sizeof h);
        // Only the first transmission is answered: the retransmission thread sends while
        // holding the pending list, where an answer on another thread would have to wait.
        if (h.command == CMD_REBOOT && ++rebootsSent == 1) {
            // A device next to the PC acts and answers before sendto() has returned.
            std::thread device([&] { Reply(CMD_REBOOT, kMacA, "198.18.1.1"); });
            device.join();
        }
        return true;
    };
    engine = std::make_unique<CDeviceProtocol>(o);
    std::vector<LocalAdapterInfo> list;
    engine->ReadLocalAdapters(list);

    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_REBOOT, nullptr, 0, kMacA, true));
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    for (int i = 0; i < 4; ++i) engine->RetransmitPending();
    EXPECT_EQ(rebootsSent, 1);  // a device that rebooted is not told to reboot again
    EXPECT_EQ(store.Statuses().size(), 1u);
}

TEST_F(EngineHandlers, CommandResultsMoveTheStatus) {
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_REBOOT, nullptr, 0, kMacA, true));
    Reply(CMD_REBOOT, kMacA, "198.18.1.1", {1});  // refused: no status change...
    EXPECT_TRUE(store.Statuses().empty());
    EXPECT_TRUE(engine->GetPendingRequests().empty());  // ...but no more retries either

    struct Case {
        int command;
        std::vector<uint8_t> body;
        int status;  // -1: none
    } cases[] = {
        {CMD_REBOOT, {}, AP_STATUS_RESTARTING},
        {CMD_SET_VLAN, {0}, AP_STATUS_RESTARTING},
        {CMD_SET_VLAN, {2}, -1},
        {CMD_RESET, {0}, AP_STATUS_RESETING},
        {CMD_RESET, {1}, -1},
        {CMD_BRIDGE_CONFIG, {0}, AP_STATUS_BRIDGE_SUCCESS},
        {CMD_BRIDGE_CONFIG, {5}, AP_STATUS_BRIDGE_FAIL},
        {CMD_UPGRADE_REPORT, {0}, AP_STATUS_UPGRADE_WAIT},
        {CMD_UPGRADE_REPORT, {1}, AP_STATUS_UPGRADE_FAIL},
        {CMD_UPGRADE_REPORT, {2}, AP_STATUS_UPGRADE_SUCCESS},
        {CMD_SET_NAME, {0}, -1},
        {CMD_PROBE, {0}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::size_t before = store.Statuses().size();
        Reply(c.command, kMacA, "198.18.1.1", c.body);
        auto after = store.Statuses();
        if (c.status < 0) {
            EXPECT_EQ(after.size(), before);
        } else {
            ASSERT_EQ(after.size(), before + 1);
            EXPECT_EQ(after.back().status, c.status);
            EXPECT_EQ(after.back().mac, kMacA);
        }
    }
    Reply(CMD_UPGRADE_START, kMacA, "198.18.1.1");
    EXPECT_EQ(store.Upgrading(), std::vector<std::string>{kMacA});
}

TEST_F(EngineHandlers, ScanCompletesOnlyWithTheLastPacketWhateverTheOrder) {
    config_otherwl_basic ap{};
    ap.mac[5] = 9;
    SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, "mast\xE5\x90");  // cut-short character
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_SCAN, nullptr, 0, kMacA, true));
    EXPECT_TRUE(engine->GetPendingRequests().empty());  // scans are never retransmitted

    for (int id : {2, 0, 1}) {
        // Sent again before each packet: sending a scan clears the flag.
        engine->SendToDevice("198.18.1.1", CMD_SCAN, nullptr, 0, kMacA, false);
        Reply(CMD_SCAN, kMacA, "198.18.1.1",
              EncodeScanResult(3, static_cast<uint8_t>(id), {&ap, 1}));
        EXPECT_EQ(engine->IsScanComplete(), id == 2) << "packet " << id;
    }
    auto packets = store.ScanPackets();
    ASSERT_EQ(packets.size(), 3u);
    ScanResult r = packets[0];
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(FieldText(r.entries[0].ssid, 32, r.entries[0].ssid_len), "mast");

    // A packet claiming more entries than arrived: only the whole ones are touched.
    std::vector<uint8_t> lying = EncodeScanResult(1, 0, {&ap, 1});
    lying[2] = 200;
    lying.resize(lying.size() + 10, 0xEE);
    Reply(CMD_SCAN, kMacA, "198.18.1.1", lying);
    EXPECT_TRUE(engine->IsScanComplete());
    r = store.ScanPackets().back();
    EXPECT_EQ(r.icount, 200);
    EXPECT_EQ(r.entries.size(), 1u);
}

TEST_F(EngineHandlers, ScanPacketsKeepEveryEntryThatArrivedWholeUpTo32) {
    // A device should send at most 31 entries a packet; the bytes handed on hold 32 whole
    // ones, and a 33rd reaches past them.
    for (std::size_t n : {31u, 32u, 33u}) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> body = {1, 0, static_cast<uint8_t>(n)};
        for (std::size_t i = 0; i < n; ++i) {
            config_otherwl_basic ap{};
            ap.mac[5] = static_cast<uint8_t>(i);
            SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, "ap-" + std::to_string(i));
            auto bytes = BytesOf(ap);
            body.insert(body.end(), bytes.begin(), bytes.end());
        }
        ASSERT_LE(body.size(), kMaxBody);
        Reply(CMD_SCAN, kMacA, "198.18.1.1", body);
        ScanResult stored = store.ScanPackets().back();
        EXPECT_EQ(stored.icount, n);
        ASSERT_EQ(stored.entries.size(), std::min<std::size_t>(n, 32));
        const config_otherwl_basic& last = stored.entries.back();
        EXPECT_EQ(last.mac[5], stored.entries.size() - 1);
        EXPECT_EQ(FieldText(last.ssid, 32, last.ssid_len),
                  "ap-" + std::to_string(stored.entries.size() - 1));
        // The codec reads the datagram the same way the engine handed it on.
        EXPECT_EQ(DecodeScanResult(body).entries.size(), stored.entries.size());
    }
}

TEST_F(EngineHandlers, SetIpAcknowledgementAdoptsThePendingAddress) {
    Found(kMacA, "198.18.1.20");
    engine->SetPendingAddress(kMacA, "198.18.9.9", "198.18.1.30");  // wrong current ip
    EXPECT_STREQ(Peer(kMacA)->pending_ip, "");
    engine->SetPendingAddress(kMacA, "198.18.1.20", "198.18.1.30");
    EXPECT_STREQ(Peer(kMacA)->pending_ip, "198.18.1.30");

    Reply(CMD_SET_IP, kMacA, "198.18.1.99");  // not from the device's address: ignored
    EXPECT_STREQ(Peer(kMacA)->ip, "198.18.1.20");
    Reply(CMD_SET_IP, kMacA, "198.18.1.20");
    EXPECT_STREQ(Peer(kMacA)->ip, "198.18.1.30");
    EXPECT_STREQ(Peer(kMacA)->pending_ip, "");

    // Setting the same address again clears the pending one instead.
    engine->SetPendingAddress(kMacA, "198.18.1.30", "198.18.1.40");
    engine->SetPendingAddress(kMacA, "198.18.1.30", "198.18.1.30");
    EXPECT_STREQ(Peer(kMacA)->pending_ip, "");
}

TEST_F(EngineHandlers, KeepaliveUpdatesKnownDevicesOnly) {
    KeepaliveBody ka{};
    SetFieldText(ka.version, sizeof ka.version, ka.version_len, "V9");
    ka.up_time = 777;
    auto bytes = BytesOf(ka);
    std::vector<uint8_t> body(bytes.begin(), bytes.end());

    Deliver(CDeviceProtocol::PORT_KEEPALIVE, DeviceDatagram(CMD_KEEPALIVE, kMacA, body),
            "198.18.1.5");
    EXPECT_TRUE(sent.All().empty());
    EXPECT_TRUE(store.UpTimes().empty());

    Found(kMacA, "198.18.1.5");
    for (int i = 0; i < 2; ++i) engine->SweepLiveness();
    sent.Clear();
    Deliver(CDeviceProtocol::PORT_KEEPALIVE, DeviceDatagram(CMD_KEEPALIVE, kMacA, body),
            "198.18.1.6");
    const PeerEntry* p = Peer(kMacA);
    EXPECT_STREQ(p->ip, "198.18.1.6");
    EXPECT_EQ(p->liveness, 3);
    auto echoed = sent.WithCommand(CMD_KEEPALIVE);
    ASSERT_EQ(echoed.size(), 1u);
    EXPECT_EQ(echoed[0].header.length, 0);
    auto ups = store.UpTimes();
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].ip, "198.18.1.6");
    EXPECT_EQ(ups[0].seconds, 777u);
}

TEST_F(EngineHandlers, SilentDevicesLeaveAfterFourSweeps) {
    Found(kMacA, "198.18.1.1");
    SearchReply(kMacB, "198.18.1.2");  // never delivers its info: never aged
    for (int i = 0; i < 3; ++i) engine->SweepLiveness();
    EXPECT_NE(Peer(kMacA), nullptr);
    EXPECT_TRUE(store.Deleted().empty());
    engine->SweepLiveness();
    EXPECT_EQ(Peer(kMacA), nullptr);
    EXPECT_EQ(store.Deleted(), std::vector<std::string>{kMacA});
    for (int i = 0; i < 10; ++i) engine->SweepLiveness();
    EXPECT_NE(Peer(kMacB), nullptr);
}

TEST_F(EngineHandlers, CommandLeavesThroughTheFirstAdapterOfTheSubnet) {
    adapters = {MakeAdapter({{"10.0.0.5", "255.0.0.0"}}),
                MakeAdapter({{"198.18.0.7", "255.255.0.0"}}),
                MakeAdapter({{"198.18.0.1", "255.255.0.0"}})};
    Make();
    ASSERT_TRUE(engine->SendToDevice("198.18.3.3", CMD_REBOOT, nullptr, 0, kMacA, false));
    auto all = sent.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].out.localIp, "198.18.0.7");
    EXPECT_EQ(all[0].mac, kMacA);

    // No adapter in the device's subnet: nothing leaves and nothing is queued.
    sent.Clear();
    EXPECT_FALSE(engine->SendToDevice("192.168.1.1", CMD_REBOOT, nullptr, 0, kMacA, true));
    EXPECT_FALSE(engine->SendToDevice("0.0.0.0", CMD_REBOOT, nullptr, 0, kMacA, true));
    EXPECT_TRUE(sent.All().empty());
    EXPECT_TRUE(engine->GetPendingRequests().empty());

    // A failed send is not queued either; a body that cannot fit is refused.
    sent.succeed = false;
    EXPECT_FALSE(engine->SendToDevice("198.18.3.3", CMD_REBOOT, nullptr, 0, kMacA, true));
    EXPECT_TRUE(engine->GetPendingRequests().empty());
    sent.succeed = true;
    std::vector<uint8_t> huge(kMaxBody + 1);
    EXPECT_FALSE(engine->SendToDevice("198.18.3.3", CMD_SET_VLAN, huge.data(),
                                      static_cast<int>(huge.size()), kMacA, true));
    EXPECT_FALSE(engine->SendToDevice("198.18.3.3", CMD_SET_VLAN, huge.data(), -1, kMacA, true));
}

TEST_F(EngineHandlers, SearchGoesToEachDirectedBroadcastOnce) {
    adapters = {MakeAdapter({{"192.168.0.10", "255.255.255.0"}, {"192.168.0.11", "255.255.255.0"}}),
                MakeAdapter({{"10.0.0.5", "255.0.0.0"}}),
                MakeAdapter({{"172.16.0.1", "255.255.0.0"}}, 0),                // down
                MakeAdapter({{"0.0.0.0", "255.255.0.0"}}),                      // no address yet
                MakeAdapter({{"172.17.0.1", ""}, {"172.18.0.1", "0.0.0.0"}})};  // no mask
    Make();
    engine->SendSearch();
    std::vector<std::string> targets;
    for (const auto& s : sent.All()) {
        EXPECT_EQ(s.header.command, CMD_SEARCH);
        EXPECT_EQ(s.header.multicast, 0);
        EXPECT_EQ(s.out.destPort, 9786);
        EXPECT_EQ(s.out.bytes.size(), 16u);
        targets.push_back(s.out.destIp);
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"192.168.0.255", "10.255.255.255"}));

    adapters.clear();
    sent.Clear();
    engine->SendSearch();
    ASSERT_EQ(sent.All().size(), 1u);
    EXPECT_EQ(sent.All()[0].out.destIp, "255.255.255.255");
    // The adapter list follows the search's reading: no adapter, no command.
    EXPECT_FALSE(engine->SendToDevice("10.1.1.1", CMD_REBOOT, nullptr, 0, kMacA, false));
}

TEST_F(EngineHandlers, DiscoveredDevicesListProbeForgetAndPurge) {
    Found(kMacA, "198.18.1.1");
    for (int i = 0; i < 8; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "00:aa:00:00:00:%02x", i);
        std::vector<uint8_t> body = BriefBody(i % 2 ? "V1\nbuild 7" : "V2", "n");
        SearchReply(mac, "198.18.2." + std::to_string(i + 1), body);
    }
    // A delivered device that answers the search again keeps its row as it is.
    SearchReply(kMacA, "198.18.1.1");
    ApInfoList list = store.Discovered();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0].ap_status, AP_STATUS_DISCOVERED);
    EXPECT_EQ(IpToText(list[0].ip), "198.18.2.1");
    EXPECT_EQ(FieldText(list[1].version, 32, list[1].version_len), "V1\nbuild 7");
    EXPECT_STREQ(list[7].mac, "00:aa:00:00:00:07");

    sent.Clear();
    engine->ProbeDiscoveredDevices();
    EXPECT_EQ(sent.WithCommand(CMD_PROBE).size(), 8u);
    EXPECT_EQ(sent.All().size(), 8u);

    store.SetStoredMacs({kMacA, kMacB});
    engine->ForgetDiscoveredDevices();
    EXPECT_EQ(engine->GetPeers().size(), 1u);
    EXPECT_TRUE(store.Discovered().empty());
    engine->PurgeStaleDevices();
    EXPECT_EQ(store.Deleted(), std::vector<std::string>{kMacB});
}

// Every command sent with retransmission is on record with its values and what became of
// it; a change the device acknowledged waits for the device's own report to confirm it.
TEST_F(EngineHandlers, CommandsAreRecordedFromSendingToTheDevicesReport) {
    Found(kMacA, "198.18.1.1");
    EXPECT_TRUE(commands.All().empty());  // the engine's own info requests are not recorded

    DeviceNameBlock name{};
    SetFieldText(name.ap_name, sizeof name.ap_name, name.ap_name_len, "roof");
    const uint64_t before = commands.LastSeq();
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_SET_NAME, &name, sizeof name, kMacA, true));
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_REBOOT, nullptr, 0, kMacA, true));
    auto log = commands.Commands(kMacA);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].state, CommandState::Sent);
    EXPECT_EQ(log[0].body.size(), sizeof name);
    EXPECT_EQ(log[0].ip, "198.18.1.1");

    Reply(CMD_SET_NAME, kMacA, "198.18.1.1");
    Reply(CMD_REBOOT, kMacA, "198.18.1.1", {3});
    const auto deadline = std::chrono::steady_clock::now();  // already answered: no waiting
    EXPECT_EQ(AwaitAnswer(commands, kMacA, CMD_SET_NAME, before, deadline).outcome,
              AnswerOutcome::Acknowledged);
    const Answer reboot = AwaitAnswer(commands, kMacA, CMD_REBOOT, before, deadline);
    EXPECT_EQ(reboot.outcome, AnswerOutcome::Refused);
    EXPECT_EQ(reboot.result, 3);
    EXPECT_EQ(commands.PendingChanges(kMacA).size(), 1u);

    // A report with the old name leaves the change pending; one with the new name confirms it.
    Reply(CMD_DEVICE_INFO, kMacA, "198.18.1.1", InfoBody("198.18.1.1"));
    EXPECT_EQ(commands.PendingChanges(kMacA).size(), 1u);
    Reply(CMD_DEVICE_INFO, kMacA, "198.18.1.1", InfoBody("198.18.1.1", "roof"));
    EXPECT_TRUE(commands.PendingChanges(kMacA).empty());
    EXPECT_EQ(commands.Commands(kMacA)[0].state, CommandState::Confirmed);

    // Resends that run out are on record as such, and a command that could not leave too.
    const uint64_t later = commands.LastSeq();
    ASSERT_TRUE(engine->SendToDevice("198.18.1.1", CMD_SET_VLAN, nullptr, 0, kMacA, true));
    EXPECT_FALSE(engine->SendToDevice("10.9.9.9", CMD_RESET, nullptr, 0, kMacA, true));
    for (int i = 0; i < 4; ++i) engine->RetransmitPending();  // three resends, then given up
    EXPECT_EQ(AwaitAnswer(commands, kMacA, CMD_SET_VLAN, later, deadline).outcome,
              AnswerOutcome::NoAnswer);
    EXPECT_EQ(AwaitAnswer(commands, kMacA, CMD_RESET, later, deadline).outcome,
              AnswerOutcome::NotSent);
    EXPECT_EQ(commands.Commands(kMacA)[2].state, CommandState::NoAnswer);
    // A late answer after the give-up changes nothing.
    Reply(CMD_SET_VLAN, kMacA, "198.18.1.1");
    EXPECT_EQ(commands.Commands(kMacA)[2].state, CommandState::NoAnswer);
}

TEST_F(EngineHandlers, StopProbesEveryPeerOnce) {
    Found(kMacA, "198.18.1.1");
    SearchReply(kMacB, "198.18.1.2");
    sent.Clear();
    engine->Stop();
    engine->Stop();
    auto probes = sent.WithCommand(CMD_PROBE);
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(probes[0].mac, kMacA);
    EXPECT_EQ(probes[1].mac, kMacB);
    EXPECT_EQ(sent.All().size(), 2u);
}

TEST_F(EngineHandlers, MalformedDatagramsAreDroppedOrReadSafely) {
    using P = CDeviceProtocol;
    std::vector<uint8_t> good = DeviceDatagram(CMD_SEARCH, kMacA, BriefBody("V", "x"));
    for (std::size_t n = 0; n < 16; ++n)
        EXPECT_FALSE(engine->InjectDatagram(P::PORT_SEARCH_REPLY, {good.data(), n}, "198.18.1.1"));
    std::vector<uint8_t> big(1473, 0);
    std::memcpy(big.data(), good.data(), 16);
    EXPECT_FALSE(engine->InjectDatagram(P::PORT_REPLY, big, "198.18.1.1"));
    std::vector<uint8_t> swapped = good;
    std::swap(swapped[0], swapped[1]);
    EXPECT_FALSE(engine->InjectDatagram(P::PORT_SEARCH_REPLY, swapped, "198.18.1.1"));
    // Each listening port carries one command only (the reply port carries all).
    EXPECT_FALSE(engine->InjectDatagram(P::PORT_KEEPALIVE, good, "198.18.1.1"));
    EXPECT_FALSE(engine->InjectDatagram(P::PORT_SEARCH_REPLY, DeviceDatagram(CMD_KEEPALIVE, kMacA),
                                        "198.18.1.1"));
    EXPECT_EQ(engine->GetStats().filtered[P::PORT_SEARCH_REPLY], 18u);
    EXPECT_EQ(engine->QueueSize(P::PORT_SEARCH_REPLY), 0u);

    // Header only, and headers whose length disagrees with what arrived.
    EXPECT_TRUE(engine->InjectDatagram(P::PORT_SEARCH_REPLY, {good.data(), 16}, "198.18.1.1"));
    std::vector<uint8_t> longClaim = DeviceDatagram(CMD_DEVICE_INFO, kMacA, {1, 2, 3});
    longClaim[14] = 0xFF;
    longClaim[15] = 0xFF;
    EXPECT_TRUE(engine->InjectDatagram(P::PORT_REPLY, longClaim, "198.18.1.1"));
    std::vector<uint8_t> shortClaim =
        DeviceDatagram(CMD_SCAN, kMacA, std::vector<uint8_t>(400, 0xFF));
    shortClaim[14] = 2;
    shortClaim[15] = 0;
    EXPECT_TRUE(engine->InjectDatagram(P::PORT_REPLY, shortClaim, "198.18.1.1"));
    // Every length byte 255 and invalid UTF-8 throughout.
    std::vector<uint8_t> junk(109, 0xFF);
    EXPECT_TRUE(engine->InjectDatagram(P::PORT_SEARCH_REPLY,
                                       DeviceDatagram(CMD_SEARCH, kMacB, junk), "198.18.1.2"));
    std::vector<uint8_t> junkInfo(750, 0xFF);
    EXPECT_TRUE(engine->InjectDatagram(
        P::PORT_REPLY, DeviceDatagram(CMD_DEVICE_INFO, kMacB, junkInfo), "198.18.1.2"));
    EXPECT_EQ(engine->ProcessQueue(P::PORT_SEARCH_REPLY), 2u);
    ASSERT_NE(store.DiscoveredRow(kMacB), nullptr);
    EXPECT_EQ(store.DiscoveredRow(kMacB)->ap_name[0], 0);  // nothing valid survived the repair
    EXPECT_EQ(engine->ProcessQueue(P::PORT_REPLY), 3u);

    ASSERT_NE(Peer(kMacB), nullptr);
    // A's three-byte info reads as zero beyond what arrived; B's body ip 255.255.255.255 is
    // taken as its address. Both are stored with texts that fit their fields.
    auto saved = store.Saved();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(IpToText(saved[0].ip), "0.0.0.0");
    EXPECT_EQ(saved[0].work_mode, 1);
    EXPECT_EQ(saved[0].up_time, 0u);
    for (const ap_info_stu& rec : saved) {
        EXPECT_LE(rec.ap_name_len, 32);
        EXPECT_LE(rec.ssid_len, 32);
        EXPECT_LE(rec.bridge_ssid_len, 32);
    }
    // The scan packet whose header claims 2 body bytes (packet 255 of 255): dropped.
    EXPECT_TRUE(store.ScanPackets().empty());
    EXPECT_FALSE(engine->IsScanComplete());
}

}  // namespace
