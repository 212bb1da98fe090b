// Discovery over real sockets: search, answers, device-info requests and what reaches the
// store; ageing, keepalives, the probe at stop, adapter choice, and a flood.

#include <cstring>
#include <thread>

#include "lab/engine_lab.h"

using namespace fd;
using namespace fd::test;
using devsim::EmulatedDevice;
using devsim::MakeDevice;
using devsim::PeerDatagram;

namespace {

class EngineDiscoveryTest : public EngineLabTest {};

std::string Text(const uint8_t* field, std::size_t cap, uint8_t len) {
    return std::string(FieldText(field, cap, len));
}

}  // namespace

TEST_F(EngineDiscoveryTest, SearchBringsEveryDeviceIntoTheStore) {
    auto macs = AddDevices(3);
    // The second device answers the search with the 33-byte version-only body.
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) { d.shortBrief = true; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());

    ASSERT_TRUE(SearchUntilStored(3));

    // The search went out once, as a directed broadcast of the PC's subnet.
    auto searches = m_peer->ReceivedCommands(CMD_SEARCH, "00:00:00:00:00:00");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].toIp, "198.18.255.255");
    EXPECT_EQ(searches[0].toPort, kPortSearch);
    EXPECT_EQ(searches[0].fromIp, kPc);
    EXPECT_EQ(searches[0].decoded->header.multicast, 0);
    EXPECT_EQ(searches[0].bytes.size(), kHeaderSize);

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(macs[i]);
        EmulatedDevice dev = *m_peer->GetDevice(macs[i]);
        // Each device got the search answer and the device-info request by multicast,
        // addressed by its mac, from the PC's adapter address.
        for (uint16_t cmd : {CMD_SEARCH, CMD_DEVICE_INFO}) {
            auto got = m_peer->ReceivedCommands(cmd, macs[i]);
            ASSERT_GE(got.size(), 1u) << cmd;
            EXPECT_EQ(got[0].toIp, kMulticastGroup);
            EXPECT_EQ(got[0].toPort, kPortCommand);
            EXPECT_EQ(got[0].fromIp, kPc);
            EXPECT_EQ(got[0].decoded->header.multicast, 1);
            EXPECT_TRUE(got[0].decoded->body.empty());
        }
        auto row = Row(macs[i]);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->ap_status, AP_STATUS_ONLINE);
        EXPECT_EQ(IpToText(row->ip), dev.address);
        EXPECT_EQ(row->up_time, dev.info.up_time);
        EXPECT_EQ(Text(row->ap_name, 32, row->ap_name_len), "Device-" + std::to_string(i));
        EXPECT_EQ(Text(row->ssid, 32, row->ssid_len), "lab-" + std::to_string(i));
        EXPECT_EQ(row->channel, 36);

        auto peer = Peer(macs[i]);
        ASSERT_TRUE(peer);
        EXPECT_EQ(peer->state, 2);
        EXPECT_STREQ(peer->ip, dev.address.c_str());
    }
    // The info ended every device-info request's retransmission.
    EXPECT_TRUE(PendingEmpty());
    EXPECT_TRUE(DiscoveredRows().empty());
}

TEST_F(EngineDiscoveryTest, AllZeroMacReplyOnlyGetsTheSearchAnswer) {
    auto macs = AddDevices(2);
    // Device 1 replies with an all-zero mac in its header.
    EmulatedDevice zero = *m_peer->GetDevice(macs[1]);
    std::memset(zero.info.mac, 0, sizeof zero.info.mac);
    std::strcpy(zero.info.mac, "00:00:00:00:00:00");
    m_peer->AddDevice(zero);
    m_peer->UpdateDevice(macs[1], [](EmulatedDevice& d) { d.answerSearch = false; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());

    ASSERT_TRUE(SearchUntilStored(1));
    ASSERT_TRUE(m_peer->WaitFor(
        [](const std::vector<PeerDatagram>& all) {
            for (const auto& d : all)
                if (d.toPort == kPortCommand && d.Command() == CMD_SEARCH &&
                    d.MacText() == "00:00:00:00:00:00")
                    return true;
            return false;
        },
        kWait));
    // Give a wrongly sent request time to show up: a few retransmission intervals.
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kIntervalMs));

    for (const auto& d : m_peer->ReceivedCommands(CMD_DEVICE_INFO))
        EXPECT_NE(d.MacText(), "00:00:00:00:00:00");
    EXPECT_EQ(m_engine->GetPeers().size(), 1u);
    EXPECT_EQ(StoredCount(), 1u);
    EXPECT_FALSE(Row("00:00:00:00:00:00"));
}

TEST_F(EngineDiscoveryTest, FirstDeviceToDeliverItsInfoHoldsTheAddressWhileItStays) {
    auto macs = AddDevices(2);
    // Both devices answer from 198.18.1.1 and claim it. Their infos are sent by hand
    // below, so that the order is the test's, not the scheduler's.
    const std::string a = macs[0], b = macs[1];
    for (const auto& mac : macs) {
        m_peer->UpdateDevice(mac, [](EmulatedDevice& d) {
            d.address = "198.18.1.1";
            IpFromText("198.18.1.1", d.info.ip);
            d.answerInfo = false;
        });
    }
    ASSERT_TRUE(StartPeer());
    // Sweeps every 1.5 s: A, silent afterwards, is dropped 4.5 to 6 s after its info, which
    // leaves the steps before that ample time even on a loaded machine.
    constexpr auto kPeriod = std::chrono::milliseconds(1500);
    ASSERT_TRUE(StartEngine(kPeriod));

    // Neither holds the address yet, so both are asked for their info.
    m_engine->SendSearch();
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_DEVICE_INFO, a, 1, kWait));
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_DEVICE_INFO, b, 1, kWait));

    ASSERT_TRUE(m_peer->SendDeviceInfo(a, kPc));
    ASSERT_TRUE(WaitUntil([&] { return Row(a).has_value(); }, kWait));
    // B's info comes second and is refused. A's info right behind it on the same port
    // shows when B's has been handled.
    ASSERT_TRUE(m_peer->SendDeviceInfo(b, kPc));
    m_peer->UpdateDevice(a, [](EmulatedDevice& d) { d.info.up_time = 777; });
    ASSERT_TRUE(m_peer->SendDeviceInfo(a, kPc));
    ASSERT_TRUE(WaitUntil([&] { return Row(a) && Row(a)->up_time == 777; }, kWait));
    EXPECT_FALSE(Row(b));
    ASSERT_TRUE(Peer(b));
    EXPECT_EQ(Peer(b)->state, 1);
    EXPECT_EQ(StoredCount(), 1u);

    // A search reply of B from the held address gets no new request either.
    ASSERT_TRUE(PendingEmpty());
    std::size_t asked = m_peer->CountCommand(CMD_DEVICE_INFO, b);
    ASSERT_TRUE(m_peer->SendBriefInfo(b, kPc));
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_SEARCH, b, 2, kWait));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_peer->CountCommand(CMD_DEVICE_INFO, b), asked);

    // Once A has gone silent and aged out, B's next search reply gets it stored.
    m_peer->UpdateDevice(a, [](EmulatedDevice& d) { d.answerSearch = false; });
    m_peer->UpdateDevice(b, [](EmulatedDevice& d) { d.answerInfo = true; });
    ASSERT_TRUE(WaitUntil([&] { return !Row(a); }, 6 * kPeriod));
    m_engine->SendSearch();
    ASSERT_TRUE(WaitUntil([&] { return Row(b).has_value(); }, kWait));
    EXPECT_EQ(IpToText(Row(b)->ip), "198.18.1.1");
}

TEST_F(EngineDiscoveryTest, KeepaliveRefreshesUpTimeAndAddress) {
    auto macs = AddDevices(1);
    const std::string a = macs[0];
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.1.60"})) << m_lab.Error();
    EmulatedDevice stranger = MakeDevice(7);  // never answered a search
    stranger.address = "198.18.1.1";
    stranger.answerSearch = false;
    m_peer->AddDevice(stranger);
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(SearchUntilStored(1));

    m_peer->UpdateDevice(a, [](EmulatedDevice& d) {
        d.info.up_time = 424242;
        d.address = "198.18.1.60";
    });
    ASSERT_TRUE(m_peer->SendKeepalive(stranger.MacText()));
    ASSERT_TRUE(m_peer->SendKeepalive(a));

    ASSERT_TRUE(WaitUntil([&] { return Row(a) && Row(a)->up_time == 424242; }, kWait));
    EXPECT_EQ(IpToText(Row(a)->ip), "198.18.1.60");
    EXPECT_STREQ(Peer(a)->ip, "198.18.1.60");
    // The keepalive is echoed; the stranger's, handled before it, is ignored.
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_KEEPALIVE, a, 1, kWait));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_peer->CountCommand(CMD_KEEPALIVE, stranger.MacText()), 0u);
    EXPECT_FALSE(Row(stranger.MacText()));
    EXPECT_FALSE(Peer(stranger.MacText()));
}

TEST_F(EngineDiscoveryTest, SilentDeviceIsDroppedAfterThreeToFourSweeps) {
    auto macs = AddDevices(3);
    const std::string silent = macs[0], talker = macs[1], unfinished = macs[2];
    m_peer->UpdateDevice(unfinished, [](EmulatedDevice& d) { d.answerInfo = false; });
    ASSERT_TRUE(StartPeer());
    constexpr auto kPeriod = std::chrono::milliseconds(1000);
    ASSERT_TRUE(StartEngine(kPeriod));

    m_engine->SendSearch();
    ASSERT_TRUE(WaitUntil([&] { return Row(silent) && Row(talker); }, kWait));
    // The silent device's info is the last datagram it sends.
    auto lastHeard = std::chrono::steady_clock::now();

    std::jthread keepalives([&](std::stop_token st) {
        while (!st.stop_requested()) {
            m_peer->SendKeepalive(talker);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return !Row(silent); }, 10 * kPeriod));
    auto gone = std::chrono::steady_clock::now() - lastHeard;
    keepalives.request_stop();
    keepalives.join();

    // Three to four sweep periods after its last datagram. The start is when this test saw
    // the row, a little after the datagram, and a loaded machine runs the sweep late: the
    // bounds get that slack, and still tell two sweeps or five from three to four.
    EXPECT_GE(gone, 3 * kPeriod - std::chrono::milliseconds(300));
    EXPECT_LE(gone, 5 * kPeriod + std::chrono::milliseconds(500));
    EXPECT_FALSE(Peer(silent));
    // A device that keeps talking stays; one that never delivered its info is not aged.
    EXPECT_TRUE(Row(talker));
    EXPECT_TRUE(Peer(talker));
    const ApInfoList discovered = DiscoveredRows();
    ASSERT_EQ(discovered.size(), 1u);
    EXPECT_STREQ(discovered.front().mac, unfinished.c_str());
}

TEST_F(EngineDiscoveryTest, CommandLeavesOnceThroughTheFirstAdapterOfTheSubnet) {
    // pc0 holds 198.18.0.1 and 198.18.0.9, a second veth pc1 holds 198.18.0.2: all one
    // subnet.
    ASSERT_TRUE(m_lab.AddPcAddresses({"198.18.0.9"})) << m_lab.Error();
    ASSERT_TRUE(m_lab.AddLink(1, "198.18.0.2")) << m_lab.Error();
    auto macs = AddDevices(1);
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());

    // One broadcast address for all three: the search goes out once.
    m_engine->SendSearch();
    ASSERT_TRUE(WaitUntil([&] { return Row(macs[0]).has_value(); }, kWait));
    EXPECT_EQ(m_peer->CountCommand(CMD_SEARCH, "00:00:00:00:00:00"), 1u);

    ASSERT_TRUE(m_engine->SendToDevice("198.18.1.1", CMD_PROBE, nullptr, 0, macs[0], false));
    ASSERT_TRUE(m_peer->WaitForCommand(CMD_PROBE, macs[0], 1, kWait));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto probes = m_peer->ReceivedCommands(CMD_PROBE, macs[0]);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].fromIp, kPc);
    for (const auto& d : m_peer->ReceivedCommands(0, macs[0])) EXPECT_EQ(d.fromIp, kPc);

    // A device outside every adapter's subnet cannot be reached at all.
    EXPECT_FALSE(m_engine->SendToDevice("198.19.0.1", CMD_PROBE, nullptr, 0, macs[0], false));
}

TEST_F(EngineDiscoveryTest, StopProbesEveryPeer) {
    auto macs = AddDevices(3);
    m_peer->UpdateDevice(macs[2], [](EmulatedDevice& d) { d.answerInfo = false; });
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    m_engine->SendSearch();
    ASSERT_TRUE(
        WaitUntil([&] { return StoredCount() == 2 && m_engine->GetPeers().size() == 3; }, kWait));
    EXPECT_EQ(m_peer->CountCommand(CMD_PROBE), 0u);

    m_engine->Stop();
    for (const auto& mac : macs) {
        ASSERT_TRUE(m_peer->WaitForCommand(CMD_PROBE, mac, 1, kWait)) << mac;
        EXPECT_EQ(m_peer->CountCommand(CMD_PROBE, mac), 1u) << mac;
    }
    // Stop runs once: the destructor adds no second round.
    m_engine.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(m_peer->CountCommand(CMD_PROBE), 3u);
}

TEST_F(EngineDiscoveryTest, SurvivesABurstOfTenThousandDatagrams) {
    auto macs = AddDevices(4);
    ASSERT_TRUE(StartPeer());
    ASSERT_TRUE(StartEngine());
    const std::string from[4] = {"198.18.1.1", "198.18.1.2", "198.18.1.3", "198.18.1.4"};

    // 10 000 datagrams back to back: search replies of 1000 unknown devices, keepalives
    // and acknowledgements nobody waits for, and rubbish the filters must drop.
    constexpr int kSearchReplies = 1000;
    int sent = 0;
    auto fake = [](int i) {
        uint8_t mac[6] = {0x02, 0xee, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        return std::vector<uint8_t>(mac, mac + 6);
    };
    std::vector<uint8_t> brief = devsim::BriefInfoBodyOf(MakeDevice(0));
    for (int i = 0; i < 10000; ++i) {
        std::vector<uint8_t> bytes;
        uint16_t port = kPortInfo;
        auto mac = fake(i);
        switch (i % 10) {
            case 0:
                bytes = EncodeDatagram(CMD_SEARCH, brief, mac.data(), 0, 1);
                port = kPortSearchReply;
                break;
            case 1:
            case 2:
                bytes = EncodeDatagram(CMD_KEEPALIVE, {}, mac.data(), 0, 1);
                port = kPortKeepalive;
                break;
            case 3:
            case 4:
            case 5:
                bytes = EncodeDatagram(CMD_SET_WIRELESS, {}, mac.data(), 0, 1);
                break;
            case 6:
                bytes.assign(15, 0x86);  // too short
                break;
            case 7:
                bytes = EncodeDatagram(CMD_SEARCH, brief, mac.data(), 0, 1);
                std::swap(bytes[0], bytes[1]);  // magic in the wrong byte order
                port = kPortSearchReply;
                break;
            case 8:
                bytes.assign(1473, 0);  // too long
                bytes[0] = 0x86, bytes[1] = 0x19;
                break;
            default:
                bytes = EncodeDatagram(CMD_KEEPALIVE, {}, mac.data(), 0, 1);  // wrong port
                port = kPortSearchReply;
                break;
        }
        if (m_peer->SendFrom(from[i % 4], kPc, port, bytes)) ++sent;
    }
    EXPECT_EQ(sent, 10000);

    // Whatever the kernel let through was queued or dropped by a filter, and everything
    // queued gets handled.
    ASSERT_TRUE(WaitUntil(
        [&] {
            auto s = m_engine->GetStats();
            for (int p = 0; p < 3; ++p)
                if (s.handled[p] != s.accepted[p]) return false;
            return true;
        },
        std::chrono::milliseconds(20000)));
    auto s = m_engine->GetStats();
    uint64_t arrived = 0;
    for (int p = 0; p < 3; ++p) arrived += s.accepted[p] + s.filtered[p] + s.overflow[p];
    std::printf(
        "burst: %llu of 10000 arrived; queued %llu/%llu/%llu, filtered %llu/%llu/%llu, "
        "overflow %llu/%llu/%llu, queue peaks %zu/%zu/%zu\n",
        (unsigned long long)arrived, (unsigned long long)s.accepted[0],
        (unsigned long long)s.accepted[1], (unsigned long long)s.accepted[2],
        (unsigned long long)s.filtered[0], (unsigned long long)s.filtered[1],
        (unsigned long long)s.filtered[2], (unsigned long long)s.overflow[0],
        (unsigned long long)s.overflow[1], (unsigned long long)s.overflow[2], s.queuePeak[0],
        s.queuePeak[1], s.queuePeak[2]);
    EXPECT_LE(arrived, 10000u);
    EXPECT_LE(s.accepted[0], uint64_t(kSearchReplies));
    // Every accepted search reply made a peer (all of them distinct devices), and a row once
    // its hold ended (a late datagram of the burst may still be counted meanwhile).
    EXPECT_TRUE(WaitUntil(
        [&] { return DiscoveredRows().size() == m_engine->GetStats().accepted[0]; }, kWait));
    EXPECT_EQ(StoredCount(), 0u);

    // And the engine still does its job.
    ASSERT_TRUE(SearchUntilStored(4));
}
