// fielddesk-cli show and configure end to end: the real binary in the lab's PC namespace,
// the real engine, and emulated devices that apply what they are sent.

#include <stdlib.h>

#include <memory>
#include <string>

#include "config/language.h"
#include "devsim/device_peer.h"
#include "lab/cli_lab.h"
#include "rules/country_table.h"
#include "support/lab.h"
#include "support/lab_devices.h"

using namespace fd;
using namespace fd::test;
using devsim::AckMode;
using devsim::EmulatedDevice;
using devsim::MakeDevice;

namespace {

class CliConfigureLabTest : public CliPeerLabTest {
protected:
    void SetUp() override {
        CliPeerLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Device 0, a model with the VLAN extension, and device 1 on the first address after.
        for (int i = 0; i < 2; ++i) {
            EmulatedDevice dev = MakeDevice(i);
            dev.info.ap_type = 10;
            m_macs.push_back(dev.MacText());
            m_peer->AddDevice(dev);
        }
        ASSERT_TRUE(m_lab.AddDeviceAddresses({"198.18.1.2", "198.18.6.6"})) << m_lab.Error();
        std::string err;
        ASSERT_TRUE(m_peer->Start(&err)) << err;
    }

    std::vector<std::string> m_macs;
};

}  // namespace

TEST_F(CliConfigureLabTest, EveryTabReachesTheDeviceAndShowsInTheNextRun) {
    const std::string& mac = m_macs[0];
    // clang-format off
    auto run = RunCli({"configure", mac,
                       "--name", "东塔-1",
                       "--ssid", "field-5g", "--channel", "149",
                       "--security", "wpa2-psk", "--key", "lab passphrase",
                       "--vlan", "100", "--vlan-wlan", "200", "--pvid", "10", "--lan", "20",
                       "--lan3", "30", "--lan4", "400",
                       "--reboot-at", "23:59", "--days", "sun",
                       "--ip", "198.18.6.6",
                       "--seconds", "10"});
    // clang-format on
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, mac + "  198.18.1.1  name (command 8): acknowledged\n" + mac +
                           "  198.18.1.1  wireless (command 4): acknowledged\n" + mac +
                           "  198.18.1.1  timed reboot (command 5): acknowledged\n" + mac +
                           "  198.18.1.1  VLAN (command 13): acknowledged\n" + mac +
                           "  198.18.1.1  address (command 3): acknowledged, now 198.18.6.6\n" +
                           mac + "  198.18.6.6  verified\n");

    // In the dialog's order, each once (the first answer ended it), the address last with
    // the flag bytes that tell the device both change together.
    const auto got = m_peer->ReceivedCommands(0, mac);
    std::vector<int> order;
    for (const auto& d : got)
        if (d.Command() != CMD_SEARCH && d.Command() != CMD_DEVICE_INFO &&
            d.Command() != CMD_PROBE && d.Command() != CMD_KEEPALIVE)
            order.push_back(d.Command());
    EXPECT_EQ(order, (std::vector<int>{CMD_SET_NAME, CMD_SET_WIRELESS, CMD_SET_TIMED_REBOOT,
                                       CMD_SET_VLAN, CMD_SET_IP}));
    const auto vlan = m_peer->ReceivedCommands(CMD_SET_VLAN, mac);
    ASSERT_EQ(vlan.size(), 1u);
    ASSERT_EQ(vlan[0].decoded->body.size(), 22u);
    EXPECT_EQ(vlan[0].decoded->body[8], 1);
    const auto ip = m_peer->ReceivedCommands(CMD_SET_IP, mac);
    ASSERT_EQ(ip.size(), 1u);
    EXPECT_EQ(ip[0].decoded->body[21], 0);

    const ap_info_stu r = m_peer->GetDevice(mac)->info;
    EXPECT_EQ(FieldText(r.ap_name, 32, r.ap_name_len), "东塔-1");
    EXPECT_EQ(FieldText(r.ssid, 32, r.ssid_len), "field-5g");
    EXPECT_EQ(r.channel, 149);
    EXPECT_EQ(r.secure_mode, 3);
    EXPECT_EQ(r.vlan_en, 1);
    EXPECT_EQ(+r.vlan_id, 100);
    EXPECT_EQ(+r.vlan_id_wlan, 200);
    EXPECT_EQ(+r.vlan_id_lan4, 400);
    EXPECT_EQ(r.restart_type, 0x80);
    EXPECT_EQ(+r.restart_time, 1439);
    EXPECT_EQ(IpToText(r.ip), "198.18.6.6");

    // A new run finds it at its new address and shows what it reports now.
    run = RunCli({"show", mac, "--json", "--seconds", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const auto objects = FlatJsonReader::Parse(run.out);
    ASSERT_TRUE(objects && objects->size() == 1) << run.out;
    auto o = objects->front();
    EXPECT_EQ(o["ip"], "198.18.6.6");
    EXPECT_EQ(o["name"], "东塔-1");
    EXPECT_EQ(o["ssid"], "field-5g");
    EXPECT_EQ(o["channel"], "149");
    EXPECT_EQ(o["security"], "wpa2-psk");
    EXPECT_EQ(o["key"], "lab passphrase");
    EXPECT_EQ(o["vlan"], "on");
    EXPECT_EQ(o["lan4"], "400");
    EXPECT_EQ(o["reboot-at"], "23:59");
    EXPECT_EQ(o["days"], "sun");

    // The same values again: nothing to change, nothing sent.
    m_peer->ClearReceived();
    run = RunCli({"configure", mac, "--ssid", "field-5g", "--vlan", "on", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, mac + "  198.18.6.6  nothing to change\n");
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_WIRELESS) + m_peer->CountCommand(CMD_SET_VLAN), 0u);
}

TEST_F(CliConfigureLabTest, RefusedInputSendsNothing) {
    const std::string& mac = m_macs[1];
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--vlan", "on", "--vlan-wlan", "4095"}, "WLAN range:1-4094"},
        {{"--security", "wpa-psk", "--key", std::string(63, 'a') + "g"},
         "Please enter a key for 8~63 ASCII characters or 8~64 HEX characters!"},
        {{"--reboot-at", "24:00", "--days", "mon"}, "The time is error!"},
        {{"--channel", "52"}, "channel 52 is not offered"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args{"configure", mac, "--name", "renamed"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"--seconds", "10"});
        const auto run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2) << message << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Nothing was sent."), std::string::npos) << run.err;
    }
    for (int cmd : {CMD_SET_NAME, CMD_SET_WIRELESS, CMD_SET_TIMED_REBOOT, CMD_SET_VLAN, CMD_SET_IP})
        EXPECT_EQ(m_peer->CountCommand(static_cast<uint16_t>(cmd)), 0u) << cmd;
}

TEST_F(CliConfigureLabTest, SilentDeviceIsNamedWithTheCommandsItDidNotAnswer) {
    const std::string& mac = m_macs[1];
    m_peer->UpdateDevice(mac, [](EmulatedDevice& d) { d.ackMode = AckMode::Silent; });
    const auto run =
        RunCli({"configure", mac, "--ssid", "quiet", "--reboot", "off", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(mac + "  198.18.1.2  wireless (command 4): no answer"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("device " + mac +
                           " (198.18.1.2) did not acknowledge every command: "
                           "wireless (command 4): no answer"),
              std::string::npos)
        << run.err;
    // The engine retried before giving up.
    EXPECT_GE(m_peer->CountCommand(CMD_SET_WIRELESS, mac), 2u);
}

namespace {

// Devices set up per test, then the peer started.
class CliVerifyLabTest : public CliPeerLabTest {
protected:
    std::vector<std::string> StartDevices(int n,
                                          const std::function<void(EmulatedDevice&)>& adjust) {
        auto macs = AddLabDevices(m_lab, *m_peer, n, 0, adjust);
        std::string err;
        EXPECT_TRUE(m_peer->Start(&err)) << err;
        return macs;
    }
    // The settings commands a device received, in order.
    std::vector<int> SettingsCommands(const std::string& mac) const {
        std::vector<int> out;
        for (const auto& d : m_peer->ReceivedCommands(0, mac))
            if (d.Command() != CMD_SEARCH && d.Command() != CMD_DEVICE_INFO &&
                d.Command() != CMD_PROBE && d.Command() != CMD_KEEPALIVE)
                out.push_back(d.Command());
        return out;
    }
};

}  // namespace

TEST_F(CliVerifyLabTest, RenameKeepsAChannelOrCountryTheListsDoNotOffer) {
    // Device 0 on radar channel 100 in Australia, device 1 in the Netherlands, which has no
    // row in the country list.
    int n = 0;
    const auto macs = StartDevices(2, [&n](EmulatedDevice& d) {
        d.info.country_code = static_cast<uint8_t>(CountryCodeNumber(n == 0 ? "AU" : "NL"));
        if (n++ == 0) d.info.channel = 100;
    });
    for (std::size_t i = 0; i < macs.size(); ++i) {
        const std::string name = "Renamed-" + std::to_string(i);
        const auto run = RunCli({"configure", macs[i], "--name", name, "--seconds", "10"});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(SettingsCommands(macs[i]), (std::vector<int>{CMD_SET_NAME})) << run.out;
        EXPECT_NE(run.out.find("  verified\n"), std::string::npos) << run.out;
    }
    EXPECT_EQ(m_peer->GetDevice(macs[0])->info.channel, 100);
    // Naming the channel it has is no change either.
    m_peer->ClearReceived();
    const auto run = RunCli({"configure", macs[0], "--channel", "100", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, macs[0] + "  198.18.1.1  nothing to change\n");
    EXPECT_EQ(m_peer->GetDevice(macs[1])->info.country_code, CountryCodeNumber("NL"));
}

TEST_F(CliVerifyLabTest, AcknowledgedButNotAppliedIsNamedFieldByField) {
    // Device 0 ignores the channel, device 1 applies another power than sent, device 2
    // comes back from the restart of a VLAN change with what it had before.
    int n = 0;
    const auto macs = StartDevices(3, [&n](EmulatedDevice& d) {
        if (n == 0) d.ignoredField = "channel";
        if (n == 1) d.alteredField = "power", d.alteredValue = 5;
        if (n == 2) d.revertOnRestart = true;
        ++n;
    });
    auto run = RunCli({"configure", macs[0], "--channel", "149", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(macs[0] + "  198.18.1.1  wireless (command 4): acknowledged\n" +
                           macs[0] +
                           "  198.18.1.1  not applied: channel (sent 149, device reports 36)\n"),
              std::string::npos)
        << run.out;

    run = RunCli({"configure", macs[1], "--power", "15", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("not applied: power (sent 15, device reports 5)"), std::string::npos)
        << run.out;

    run = RunCli({"configure", macs[2], "--ssid", "moved", "--vlan", "100", "--vlan-wlan", "200",
                  "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("not applied: ssid (sent moved, device reports lab-2); vlan (sent on, "
                           "device reports off); vlan-manage (sent 100, device reports 1); "
                           "vlan-wlan (sent 200, device reports 0)"),
              std::string::npos)
        << run.out;

    // Without the read-back an acknowledgement is taken as done.
    run = RunCli({"configure", macs[0], "--channel", "149", "--no-verify", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out.find("not applied"), std::string::npos) << run.out;
}

TEST_F(CliVerifyLabTest, ADeviceThatAnswersLateStillHoldsItsAddress) {
    int n = 0;
    const auto macs = StartDevices(2, [&n](EmulatedDevice& d) {
        if (n++ == 1) d.replyDelay = std::chrono::milliseconds(1500);
    });
    const auto run = RunCli({"configure", macs[0], "--ip", "198.18.1.2", "--seconds", "10"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("The ip address is already in use, please respecify!"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(m_peer->CountCommand(CMD_SET_IP), 0u);
}
