// `fielddesk-cli show` and `configure` without a network: what the options make of a
// device's record, which values the device's lists refuse, and the printed configuration.

#include "cli/cli_configure.h"

#include <gtest/gtest.h>

#include <cstring>

#include "actions/configuration_sender.h"
#include "cli/cli_args.h"
#include "rules/country_table.h"

using namespace fd;
using namespace fd::cli;

namespace {

ap_info_stu Device(int apType = 10) {
    ap_info_stu r{};
    std::strcpy(r.mac, "02:fd:00:00:00:09");
    r.ap_type = static_cast<uint16_t>(apType);
    r.work_mode = WORK_MODE_AP;
    r.ip_mode = 1;
    IpFromText("198.18.1.9", r.ip);
    IpFromText("255.255.0.0", r.ip_mask);
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "Mast");
    r.rf_count = 1;
    r.rf_en = 1;
    r.rf_type = 1;
    r.country_code = 1;  // US
    r.network_mode = 1;
    r.bandwidth = 0;
    r.channel = 36;
    r.tx_power = 20;
    r.tx_power_min = 1;
    r.tx_power_max = 27;
    r.ssid_rf_type = 1;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab");
    r.ssid_count = 1;
    r.vlan_id = 1;
    r.vlan_id_wlan = 2;
    r.vlan_id_lan = 3;
    r.vlan_pvid = 4;
    r.vlan_id_lan3 = 5;
    r.vlan_id_lan4 = 6;
    r.restart_type = 0x02;
    r.restart_time = 150;
    return r;
}

ParseResult Parse(std::vector<std::string> args) {
    args.insert(args.begin(), {"configure", "02:FD:00:00:00:09"});
    return ParseArguments(args);
}

// The commands configure would send for these options, or the message that stops it.
struct Outcome {
    std::string error;
    std::vector<ConfigurationCommand> commands;
};
Outcome Configure(const ap_info_stu& rec, std::vector<std::string> args) {
    const ParseResult p = Parse(std::move(args));
    if (!p.error.empty()) return {"parse: " + p.error, {}};
    const ConfigureRequest req = BuildConfigureForms(rec, p.options.configure);
    if (!req.error.empty()) return {req.error, {}};
    const ConfigurationPlan plan = PlanConfiguration(rec, req.forms, {"198.18.1.9", "198.18.1.10"});
    if (!plan.ok()) return {RuleFailureText(plan.failure), {}};
    return {{}, ConfigurationCommands(plan.pending)};
}

std::vector<int> Codes(const Outcome& o) {
    std::vector<int> out;
    for (const auto& c : o.commands) out.push_back(c.command);
    return out;
}

}  // namespace

TEST(CliConfigure, EachTabsOptionsSendOnlyThatTabsCommand) {
    const ap_info_stu rec = Device();
    EXPECT_EQ(Codes(Configure(rec, {"--name", "Mast-2"})), (std::vector<int>{CMD_SET_NAME}));
    EXPECT_EQ(Codes(Configure(rec, {"--ssid", "lab-2"})), (std::vector<int>{CMD_SET_WIRELESS}));
    EXPECT_EQ(Codes(Configure(rec, {"--days", "everyday", "--reboot-at", "03:30"})),
              (std::vector<int>{CMD_SET_TIMED_REBOOT}));
    EXPECT_EQ(Codes(Configure(rec, {"--vlan", "100"})), (std::vector<int>{CMD_SET_VLAN}));
    EXPECT_EQ(Codes(Configure(rec, {"--ip", "198.18.1.50"})), (std::vector<int>{CMD_SET_IP}));
    // Values equal to the device's: nothing to send.
    EXPECT_TRUE(
        Configure(rec, {"--name", "Mast", "--channel", "36", "--vlan", "off"}).commands.empty());

    // Everything at once: the dialog's order, and the address and VLAN flag bytes.
    const Outcome all = Configure(rec, {"--ip", "198.18.1.51", "--vlan", "on", "--lan4", "9",
                                        "--name", "M", "--reboot", "off", "--power", "21"});
    ASSERT_TRUE(all.error.empty()) << all.error;
    EXPECT_EQ(Codes(all),
              (std::vector<int>{CMD_SET_NAME, CMD_SET_WIRELESS, CMD_SET_VLAN, CMD_SET_IP}));
    EXPECT_EQ(all.commands[2].body[8], 1);
    EXPECT_EQ(all.commands[2].body.size(), 22u);
    EXPECT_EQ(all.commands[2].body[16], 9);
    EXPECT_EQ(all.commands[3].body[21], 0);
}

TEST(CliConfigure, WirelessOptionsLandInTheBlock) {
    const ap_info_stu rec = Device();
    const Outcome o =
        Configure(rec, {"--country", "Australia", "--mode", "11ac", "--bandwidth", "80MHz",
                        "--channel", "149", "--security", "wpa2-psk", "--key", "a passphrase",
                        "--cipher", "aes", "--key-interval", "600", "--hide-ssid", "on"});
    ASSERT_TRUE(o.error.empty()) << o.error;
    ASSERT_EQ(o.commands.size(), 1u);
    const auto& b = o.commands[0].body;
    EXPECT_EQ(b[3], CountryCodeNumber("AU"));
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b[5], 3);
    EXPECT_EQ(b[6], 149);
    EXPECT_EQ(b[24], 1);
    EXPECT_EQ(b[64], 3);
    EXPECT_EQ(b[65], 0);
    EXPECT_EQ(b[130], std::strlen("a passphrase"));
    EXPECT_EQ(b[131] | (b[132] << 8), 600);

    const Outcome radius =
        Configure(rec, {"--security", "wpa", "--radius-server", "198.18.0.2", "--radius-port",
                        "1812", "--key", "k", "--key-interval", "0", "--cipher", "tkip"});
    ASSERT_TRUE(radius.error.empty()) << radius.error;
    EXPECT_EQ(radius.commands[0].body[256], 1);
    EXPECT_EQ(radius.commands[0].body[321], 1);

    const Outcome wep = Configure(rec, {"--security", "wep", "--wep-default-key", "2", "--key",
                                        "0123456789", "--wep-key-format", "hex"});
    ASSERT_TRUE(wep.error.empty()) << wep.error;
    EXPECT_EQ(wep.commands[0].body[136], 2);
    EXPECT_EQ(wep.commands[0].body[137 + 28], 1);
    EXPECT_EQ(wep.commands[0].body[164 + 28], 10);
}

TEST(CliConfigure, RefusalsCarryTheDialogsMessages) {
    const ap_info_stu rec = Device();
    EXPECT_EQ(Configure(rec, {"--security", "wpa-psk", "--key", std::string(63, 'a') + "g"}).error,
              "Please enter a key for 8~63 ASCII characters or 8~64 HEX characters!");
    EXPECT_EQ(Configure(rec, {"--security", "wep", "--key", "ab de"}).error,
              "WEP key includes invalid characters (It should only include 0-9,a-z,A-Z,@,*,- and "
              "_.)!");
    EXPECT_EQ(Configure(rec, {"--security", "wpa2", "--radius-server", "10.0.0.255", "--key", "k",
                              "--radius-port", "1812"})
                  .error,
              "Please enter a valid RADIUS Server address!");
    EXPECT_EQ(Configure(rec, {"--security", "wpa2", "--radius-server", "10.0.0.5", "--key", "k",
                              "--radius-port", "0"})
                  .error,
              "Please specify a valid RADIUS Port!");
    EXPECT_EQ(Configure(rec, {"--vlan", "on", "--vlan-wlan", "4095"}).error, "WLAN range:1-4094");
    EXPECT_EQ(Configure(rec, {"--vlan", "0"}).error, "VLAN range:1-4094");
    EXPECT_EQ(Configure(rec, {"--reboot-at", "24:00", "--days", "mon"}).error,
              "The time is error!");
    EXPECT_EQ(Configure(rec, {"--reboot-at", "02:00", "--days", ""}).error,
              "Please selectting the day that you want to reboot!");
    EXPECT_EQ(Configure(rec, {"--power", "28"}).error, "Power value range:1-27");
    EXPECT_EQ(Configure(rec, {"--ip", "198.18.1.10"}).error,
              "The ip address is already in use, please respecify!");
    EXPECT_EQ(Configure(rec, {"--key-interval", "59", "--security", "wpa-psk", "--key", "12345678"})
                  .error,
              "The key update interval range: 60~99999 or 0!");
}

TEST(CliConfigure, ListValuesTheDeviceDoesNotOfferAreRefusedWithTheOffer) {
    const ap_info_stu rec = Device(1);
    // A radar channel, a bandwidth of another model, a mode of the other radio.
    const std::string ch = Configure(rec, {"--channel", "52"}).error;
    EXPECT_NE(ch.find("channel 52 is not offered"), std::string::npos) << ch;
    EXPECT_NE(ch.find("auto, 36, 40, 44, 48, 149"), std::string::npos) << ch;
    EXPECT_NE(Configure(rec, {"--bandwidth", "80"}).error.find("auto, 20, 40"), std::string::npos);
    EXPECT_NE(Configure(rec, {"--mode", "11b/g"}).error.find("11a, 11n, 11a/n"), std::string::npos);
    // A new country without the device's channel must name a channel instead of moving it.
    EXPECT_NE(Configure(rec, {"--country", "AE"}).error.find("give --channel"), std::string::npos);
    EXPECT_TRUE(Configure(rec, {"--country", "AE", "--channel", "auto"}).error.empty());
    EXPECT_NE(Configure(rec, {"--pvid", "5"}).error.find("no PVID"), std::string::npos);
    EXPECT_NE(Configure(rec, {"--radius-port", "5"}).error.find("applies to --security"),
              std::string::npos);
    EXPECT_NE(Configure(rec, {"--ext-channel", "above"}).error.find("2.4 GHz"), std::string::npos);

    // What needs no device is refused while parsing.
    EXPECT_FALSE(Parse({"--security", "wpa3"}).error.empty());
    EXPECT_FALSE(Parse({"--reboot-at", "7"}).error.empty());
    EXPECT_FALSE(Parse({"--days", "mon,funday"}).error.empty());
    EXPECT_FALSE(Parse({"--reboot", "off", "--days", "mon"}).error.empty());
    EXPECT_FALSE(Parse({"--ssid", "a", "--ssid", "b"}).error.empty());
    EXPECT_FALSE(ParseArguments({"configure", "02:fd:00:00:00:09"}).error.empty());
    EXPECT_FALSE(ParseArguments({"show", "02:fd:00:00:00:09", "--ssid", "x"}).error.empty());
    EXPECT_TRUE(ParseArguments({"show", "02:fd:00:00:00:09", "--json"}).options.configure.json);
}

TEST(CliConfigure, ShowWritesValuesConfigureTakesBack) {
    ap_info_stu rec = Device(10);
    rec.secure_mode = 4;
    rec.wpapsk_auth_type = 2;
    rec.vlan_en = 1;
    SetFieldText(rec.wpapsk_key_value, sizeof rec.wpapsk_key_value, rec.wpapsk_key_value_len,
                 "pass \"quoted\"");
    const ConfigurationFields fields = DescribeConfiguration(rec);
    std::map<std::string, std::string> m(fields.begin(), fields.end());
    EXPECT_EQ(m["country"], "US (United States)");
    EXPECT_EQ(m["mode"], "11a/n");
    EXPECT_EQ(m["bandwidth"], "20");
    EXPECT_EQ(m["security"], "wpa-wpa2-psk");
    EXPECT_EQ(m["cipher"], "tkip+aes");
    EXPECT_EQ(m["reboot-at"], "02:30");
    EXPECT_EQ(m["days"], "mon");
    EXPECT_EQ(m["lan4"], "6");
    // Feeding the shown values back changes nothing.
    const Outcome same =
        Configure(rec, {"--mode", m["mode"], "--bandwidth", m["bandwidth"], "--channel",
                        m["channel"], "--security", m["security"], "--cipher", m["cipher"], "--key",
                        m["key"], "--lan4", m["lan4"], "--vlan", m["vlan"]});
    EXPECT_TRUE(same.error.empty()) << same.error;
    EXPECT_TRUE(same.commands.empty());
    const std::string json = FormatConfigurationJson(fields);
    EXPECT_NE(json.find("\"key\": \"pass \\\"quoted\\\"\""), std::string::npos) << json;
    EXPECT_EQ(FormatConfigurationText(fields).rfind("mac:", 0), 0u);
}
