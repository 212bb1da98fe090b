// What a configuration changes and how that is proven: every address field read strictly,
// untouched lists on values they do not offer kept as the device has them, and the read-back
// that compares what a device reports with what it was sent.

#include <gtest/gtest.h>

#include <cstring>

#include "actions/configuration_sender.h"
#include "actions/configuration_verify.h"
#include "actions/device_workers.h"
#include "rules/configuration_fields.h"
#include "rules/country_table.h"
#include "rules/device_configuration.h"
#include "support/fake_device_engine.h"

using namespace fd;

namespace {

// A 5 GHz device in Australia on radar channel 100, which the lists never offer outside the
// test row, with RADIUS security.
ap_info_stu RadarDevice() {
    ap_info_stu r{};
    std::strcpy(r.mac, "02:fd:00:00:01:00");
    r.ap_type = 1;
    r.work_mode = WORK_MODE_AP;
    r.ip_mode = 1;
    IpFromText("198.18.1.10", r.ip);
    IpFromText("255.255.0.0", r.ip_mask);
    IpFromText("198.18.0.254", r.ip_gateway);
    r.reserved1 = 1;
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "Roof-1");
    r.rf_count = r.rf_en = r.ssid_count = 1;
    r.rf_type = r.ssid_rf_type = 1;
    r.country_code = static_cast<uint8_t>(CountryCodeNumber("AU"));
    r.network_mode = 1;
    r.bandwidth = 0;
    r.channel = 100;
    r.tx_power = 20;
    r.tx_power_min = 1;
    r.tx_power_max = 27;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab");
    r.secure_mode = kSecureWpa2;
    IpFromText("198.18.0.2", r.wpa_radius_ip);
    r.wpa_radius_port = 1812;
    SetFieldText(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len, "radius-secret");
    r.vlan_id = r.vlan_id_wlan = 1;
    return r;
}

// A device whose country (the Netherlands) has no row in the country list.
ap_info_stu UnlistedCountryDevice() {
    ap_info_stu r = RadarDevice();
    std::strcpy(r.mac, "02:fd:00:00:01:01");
    r.country_code = static_cast<uint8_t>(CountryCodeNumber("NL"));
    r.channel = 36;
    return r;
}

ConfigurationForms FormsOf(const ap_info_stu& rec) {
    ConfigurationForms f;
    f.wireless = WirelessFormFromRecord(rec);
    f.ip = IpSettingsFormFromRecord(rec);
    f.vlan = VlanFormFromRecord(rec);
    f.reboot = TimedRebootFormFromRecord(rec);
    return f;
}

std::vector<int> Commands(const PendingConfiguration& p) {
    std::vector<int> out;
    for (const auto& c : ConfigurationCommands(p)) out.push_back(c.command);
    return out;
}

}  // namespace

TEST(ConfigurationChangesTest, LooseAddressTextIsRefusedWithItsFieldsMessage) {
    const ap_info_stu rec = RadarDevice();
    // A RADIUS server read loosely went out as 10.44.0.5 or 10.0.0.5.
    for (const char* server : {"10.300.0.5", "10.0.0.5.7.8", "10.0.0.05", " 10.0.0.5"}) {
        ConfigurationForms forms = FormsOf(rec);
        forms.wireless->radiusServer = server;
        const ConfigurationPlan plan = PlanConfiguration(rec, forms, {});
        EXPECT_EQ(plan.failure.key, "Please enter a valid RADIUS Server address!") << server;
        EXPECT_EQ(plan.failure.field, SettingField::RadiusServer);
        EXPECT_TRUE(plan.pending.Empty());
    }
    // Address texts that read loosely as the device's own values (255.255.0 as 255.255.0.0,
    // 198.18.0.254.7 as 198.18.0.254) were taken as "nothing to change".
    struct Case {
        std::string IpSettingsForm::*field;
        const char* text;
        RuleCode code;
        SettingField focus;
    };
    for (const Case& c : {Case{&IpSettingsForm::mask, "255.255.0", RuleCode::MaskInvalid,
                               SettingField::Mask},
                          Case{&IpSettingsForm::ip, "198.18.1.266", RuleCode::IpInvalid,
                               SettingField::Ip},
                          Case{&IpSettingsForm::gateway, "198.18.0.254.7",
                               RuleCode::GatewayInvalid, SettingField::Gateway},
                          Case{&IpSettingsForm::dns1, "8.8.8.8.", RuleCode::Dns1Invalid,
                               SettingField::Dns1}}) {
        ConfigurationForms forms = FormsOf(rec);
        (*forms.ip).*c.field = c.text;
        const ConfigurationPlan plan = PlanConfiguration(rec, forms, {});
        EXPECT_EQ(plan.failure.code, c.code) << c.text;
        EXPECT_EQ(plan.failure.field, c.focus) << c.text;
        EXPECT_EQ(plan.failedTab, ConfigurationTab::Ip) << c.text;
    }
    // The bulk range and the bridge step read the same way.
    MultiSetIpParams bulk{"198.18.1.20", "198.18.1.300", "255.255.0.0", "", "", ""};
    EXPECT_EQ(CheckMultiSetIp(bulk, 2).code, RuleCode::IpInvalid);
    bulk.end = "198.18.1.30";
    bulk.mask = "255.255.0";
    EXPECT_EQ(CheckMultiSetIp(bulk, 2).code, RuleCode::MaskInvalid);
    // An empty field is "none", read as 0.0.0.0.
    EXPECT_EQ(ReadIpField(""), IpBytes{});
    EXPECT_FALSE(ReadIpField("1.2.3.4.5"));
}

TEST(ConfigurationChangesTest, RenameOnADeviceWithUnlistedValuesSendsOnlyTheName) {
    for (const ap_info_stu& rec : {RadarDevice(), UnlistedCountryDevice()}) {
        ConfigurationForms forms = FormsOf(rec);
        // The lists show the device's own values as their current entries.
        EXPECT_EQ(forms.wireless->channel, rec.channel);
        const ListItems channels =
            ChannelChoices(rec, forms.wireless->countryRow, forms.wireless->bandwidth);
        EXPECT_TRUE(HasValue(channels, rec.channel)) << rec.mac;
        forms.ip->name = "Roof-2";
        const ConfigurationPlan plan = PlanConfiguration(rec, forms, {});
        ASSERT_TRUE(plan.ok()) << plan.failure.key;
        EXPECT_EQ(Commands(plan.pending), (std::vector<int>{CMD_SET_NAME})) << rec.mac;
        EXPECT_EQ(ChangedFields(rec, plan.pending),
                  (std::vector<FieldDifference>{{"name", "Roof-2", "Roof-1"}}));
    }
    // On the radar device the channel entry reads "100 (current)"; the NL device shows its
    // code as the country.
    const ap_info_stu radar = RadarDevice();
    const ListItems radarChannels = ChannelChoices(radar, FindCountryRow("AU"), 0);
    EXPECT_EQ(radarChannels.back().text, "100 (current)");
    const ListItems countries = WithCurrentValue(CountryItems(), kCurrentCountryRow, "NL");
    EXPECT_EQ(countries.back().text, "NL (current)");

    // Picking another channel sends it and keeps the country the device reports.
    const ap_info_stu nl = UnlistedCountryDevice();
    ConfigurationForms forms = FormsOf(nl);
    forms.wireless->channel = 0;
    const ConfigurationPlan plan = PlanConfiguration(nl, forms, {});
    ASSERT_TRUE(plan.ok()) << plan.failure.key;
    EXPECT_EQ(Commands(plan.pending), (std::vector<int>{CMD_SET_WIRELESS}));
    EXPECT_EQ(plan.pending.wireless.bytes[3], CountryCodeNumber("NL"));
    EXPECT_EQ(ChangedFields(nl, plan.pending),
              (std::vector<FieldDifference>{{"channel", "auto", "36"}}));
}

TEST(ConfigurationChangesTest, ReadBackComparesWhatTheDeviceReportsWithWhatWasSent) {
    const ap_info_stu before = RadarDevice();
    ConfigurationForms forms = FormsOf(before);
    forms.wireless->countryRow = FindCountryRow("AU");
    forms.wireless->channel = 149;
    forms.ip->name = "Roof-2";
    const ConfigurationPlan plan = PlanConfiguration(before, forms, {});
    ASSERT_TRUE(plan.ok()) << plan.failure.key;
    const ap_info_stu expected = ExpectedRecord(before, plan.pending);
    const auto groups = SentGroups(plan.pending);

    // The device took everything.
    VerifyResult r = CompareReport(expected, expected, groups, "198.18.1.10");
    EXPECT_EQ(VerifyResultText(r), "verified");
    // It acknowledged but kept another channel; a field that was not sent (the VLAN) does
    // not count.
    ap_info_stu report = expected;
    report.channel = 36;
    report.vlan_id = 5;
    r = CompareReport(expected, report, groups, "198.18.1.10");
    EXPECT_EQ(r.outcome, VerifyOutcome::NotApplied);
    EXPECT_EQ(VerifyResultText(r), "not applied: channel (sent 149, device reports 36)");
    // It did not answer.
    r = CompareReport(expected, std::nullopt, groups, "198.18.1.10");
    EXPECT_EQ(VerifyResultText(r), "no answer at 198.18.1.10");

    // Through the engine: the request goes out as a device-info request with resends, and
    // the report that answers it is the one compared; a silent device ends at the deadline.
    CommandLog log;
    log.RecordSent(before.mac, "198.18.1.10", CMD_SET_NAME, nullptr, 0);
    test::RecordingEngine engine;
    ap_info_stu answer = expected;
    answer.channel = 36;
    engine.SetSendHook([&](const test::RecordingEngine::Send& s) {
        if (s.command == CMD_DEVICE_INFO) log.RecordReport(answer);
    });
    ReadBackOptions o;
    o.answerDeadline = std::chrono::milliseconds(300);
    r = VerifyDevice(engine, log, before.mac, "198.18.1.10", expected, groups, o);
    EXPECT_EQ(VerifyResultText(r), "not applied: channel (sent 149, device reports 36)");
    ASSERT_EQ(engine.Sends().size(), 1u);
    EXPECT_TRUE(engine.Sends()[0].retransmit);
    EXPECT_EQ(engine.Sends()[0].command, CMD_DEVICE_INFO);

    engine.SetSendHook({});
    r = VerifyDevice(engine, log, before.mac, "198.18.1.20", expected, groups, o);
    EXPECT_EQ(VerifyResultText(r), "no answer at 198.18.1.20");

    // A change that restarts the device: a report from before the restart (its up-time
    // still running) is not taken; the one after the restart is.
    answer = expected;
    answer.up_time = 500;
    int asked = 0;
    engine.SetSendHook([&](const test::RecordingEngine::Send& s) {
        if (s.command != CMD_DEVICE_INFO) return;
        ap_info_stu now = ++asked < 3 ? answer : before;  // came back with the old values
        if (asked >= 3) now.up_time = 2;
        log.RecordReport(now);
    });
    o.restartWait = std::chrono::seconds(5);
    o.requestInterval = std::chrono::milliseconds(10);
    o.upTimeBefore = 400;
    r = VerifyDevice(engine, log, before.mac, "198.18.1.10", expected, groups, o);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(r.outcome, VerifyOutcome::NotApplied);
}
