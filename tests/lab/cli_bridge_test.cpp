// fielddesk-cli scan and bridge end to end: the real binary in the lab's PC namespace
// against emulated devices that answer scans and bridge configurations.

#include <cstring>
#include <memory>
#include <string>

#include "config/language.h"
#include "devsim/device_peer.h"
#include "lab/cli_lab.h"
#include "support/lab.h"

using namespace fd;
using namespace fd::test;
using devsim::EmulatedDevice;
using devsim::MakeDevice;

namespace {

class CliBridgeLabTest : public CliPeerLabTest {
protected:
    void SetUp() override {
        CliPeerLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Device 0 is an access point, device 1 a station that hears it and 39 others.
        EmulatedDevice ap = MakeDevice(0);
        ap.info.work_mode = WORK_MODE_AP;
        ap.info.ssid_mac[0] = 0x06;  // the radio's own mac, not the device's
        ap.info.secure_mode = 3;     // WPA2-PSK with AES
        SetFieldText(ap.info.ssid, 32, ap.info.ssid_len, "mast-ap");
        EmulatedDevice sta = MakeDevice(1);
        sta.info.rf_type = 1;  // 5 GHz like the access point on channel 36
        auto heard = devsim::MakeNeighbours(39, {-61, -59, -80});
        heard.insert(heard.begin(), devsim::NeighbourOf(ap, -52));
        sta.scanBodies = devsim::ScanBodiesFor(heard);
        m_ap = ap.MacText();
        m_sta = sta.MacText();
        m_bssid = MacToText(ap.info.ssid_mac);
        m_peer->AddDevice(ap);
        m_peer->AddDevice(sta);
        ASSERT_TRUE(m_lab.AddDeviceAddresses({sta.address})) << m_lab.Error();
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
    }
    devsim::EmulatedDevice Station() const { return *m_peer->GetDevice(m_sta); }

    std::string m_ap, m_sta, m_bssid;
};

}  // namespace

TEST_F(CliBridgeLabTest, ScanListsFortyAccessPointsFromTwoResultPackets) {
    auto run = RunCli({"scan", m_sta, "--json", "--seconds", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    auto rows = FlatJsonReader::Parse(run.out);
    ASSERT_TRUE(rows) << run.out;
    ASSERT_EQ(rows->size(), 40u);
    EXPECT_EQ(m_peer->Counters().scans, 2u);  // 31 + 9 entries
    EXPECT_EQ(m_peer->CountCommand(CMD_SCAN, m_sta), 1u);
    const auto& first = rows->front();
    EXPECT_EQ(first.at("bssid"), m_bssid);
    EXPECT_EQ(first.at("ssid"), "mast-ap");
    EXPECT_EQ(first.at("signal"), "-52");
    EXPECT_EQ(first.at("security"), "WPA2-PSK/AES");
    EXPECT_EQ(first.at("channel"), "36");
    EXPECT_EQ(rows->back().at("signal"), "-80");  // strongest first, weakest last

    // The table says the same for people.
    run = RunCli({"scan", m_sta, "--seconds", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("BSSID", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(m_bssid + "  mast-ap"), std::string::npos) << run.out;
}

TEST_F(CliBridgeLabTest, BridgeLinksTheStationOnlyToAnAccessPointItHearsAndItAccepts) {
    // An access point the station does not hear: nothing is sent.
    auto run = RunCli({"bridge", m_sta, "--bssid", "02:99:00:00:00:01", "--key", "key-for-mast",
                       "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("does not hear 02:99:00:00:00:01 (40 access points heard"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(m_peer->CountCommand(CMD_BRIDGE_CONFIG), 0u);

    // A key that breaks the rules is refused before anything is sent.
    run = RunCli({"bridge", m_sta, "--bssid", m_bssid, "--key", "short", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("Please enter a key for 8~63 ASCII characters"), std::string::npos)
        << run.err;
    run = RunCli({"bridge", m_sta, "--bssid", m_bssid, "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("WPA2-PSK/AES; give --key"), std::string::npos) << run.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_BRIDGE_CONFIG), 0u);

    // A device that refuses the link says so and stays what it was.
    m_peer->UpdateDevice(m_sta, [](EmulatedDevice& d) { d.ackResult[CMD_BRIDGE_CONFIG] = 2; });
    run = RunCli({"bridge", m_sta, "--bssid", m_bssid, "--key", "key-for-mast", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("refused the link to " + m_bssid + " (mast-ap) (result 2)"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(IsZeroMac(Station().info.bridge_mac));

    // Accepted: the station is linked to the access point's radio, with the new address.
    m_peer->UpdateDevice(m_sta, [](EmulatedDevice& d) { d.ackResult.erase(CMD_BRIDGE_CONFIG); });
    ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.3.3"})) << m_lab.Error();
    run = RunCli({"bridge", m_sta, "--bssid", m_bssid, "--key", "key-for-mast", "--ip",
                  "198.18.3.3", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("station of " + m_bssid + " (mast-ap), now 198.18.3.3"),
              std::string::npos)
        << run.out;
    const ap_info_stu linked = Station().info;
    EXPECT_EQ(MacToText(linked.bridge_mac), m_bssid);
    EXPECT_EQ(FieldText(linked.bridge_ssid, 32, linked.bridge_ssid_len), "mast-ap");
    EXPECT_EQ(IpToText(linked.ip), "198.18.3.3");
    EXPECT_EQ(linked.secure_mode, 3);
    EXPECT_EQ(linked.bridge_channel, 36);
    EXPECT_EQ(FieldText(linked.wpapsk_key_value, 64, linked.wpapsk_key_value_len), "key-for-mast");

    // Another found device's address is refused before anything is sent.
    const auto sent = m_peer->CountCommand(CMD_BRIDGE_CONFIG);
    run = RunCli({"bridge", m_sta, "--bssid", m_bssid, "--key", "key-for-mast", "--ip",
                  "198.18.1.1", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("The ip address is already in use"), std::string::npos) << run.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_BRIDGE_CONFIG), sent);
}
