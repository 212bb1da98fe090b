// Saving one device's configuration: the address/name, VLAN and timed-reboot collect steps,
// the plan over all four tabs with its flag bytes and wait, and the order the sender sends
// the commands in; every address field read strictly, list values the device has that the
// lists do not offer kept as they are, and the read-back that compares what a device
// reports with what it was sent.

#include "rules/device_configuration.h"

#include <gtest/gtest.h>

#include <cstring>

#include "actions/configuration_sender.h"
#include "actions/configuration_verify.h"
#include "actions/device_workers.h"
#include "config/labels.h"
#include "rules/configuration_fields.h"
#include "rules/country_table.h"
#include "support/fake_device_engine.h"

using namespace fd;

namespace {

ap_info_stu Record(int apType = 1) {
    ap_info_stu r{};
    std::strcpy(r.mac, "02:fd:00:00:00:07");
    r.ap_type = static_cast<uint16_t>(apType);
    r.work_mode = WORK_MODE_AP;
    r.ip_mode = 1;
    IpFromText("192.168.1.20", r.ip);
    IpFromText("255.255.255.0", r.ip_mask);
    IpFromText("192.168.1.1", r.ip_gateway);
    IpFromText("8.8.8.8", r.ip_dns1);
    r.reserved1 = 1;
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "Roof-1");
    r.rf_count = 1;
    r.rf_en = 1;
    r.rf_type = 1;
    r.network_mode = 1;
    r.bandwidth = 0;
    r.channel = 36;
    r.tx_power = 20;
    r.tx_power_min = 1;
    r.tx_power_max = 27;
    r.ssid_rf_type = 1;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab");
    r.ssid_count = 1;
    r.vlan_en = 1;
    r.vlan_id = 10;
    r.vlan_id_wlan = 20;
    r.vlan_id_lan = 30;
    r.reserved7[1] = 0x5a;  // a byte the device reports and the block keeps
    r.vlan_pvid = 40;
    r.vlan_id_lan3 = 50;
    r.vlan_id_lan4 = 60;
    r.restart_en = 0;
    r.restart_type = 0x06;
    r.restart_time = 90;
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

// A 5 GHz device in Australia on radar channel 100, which the lists never offer outside the
// test row, with RADIUS security.
ap_info_stu RadarDevice() {
    ap_info_stu r = Record();
    r.country_code = static_cast<uint8_t>(CountryCodeNumber("AU"));
    r.channel = 100;
    IpFromText("198.18.1.10", r.ip);
    IpFromText("255.255.0.0", r.ip_mask);
    IpFromText("198.18.0.254", r.ip_gateway);
    r.secure_mode = kSecureWpa2;
    IpFromText("198.18.0.2", r.wpa_radius_ip);
    r.wpa_radius_port = 1812;
    SetFieldText(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len, "radius-secret");
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

std::vector<int> Commands(const PendingConfiguration& p) {
    std::vector<int> out;
    for (const auto& c : ConfigurationCommands(p)) out.push_back(c.command);
    return out;
}

}  // namespace

TEST(DeviceConfigurationTest, UnchangedTabsSendNothingAndNeedNoWait) {
    for (int apType : {1, 4, 10, 11}) {
        const ap_info_stu rec = Record(apType);
        const ConfigurationPlan plan = PlanConfiguration(rec, FormsOf(rec), {"192.168.1.20"});
        ASSERT_TRUE(plan.ok()) << plan.failure.key;
        EXPECT_TRUE(plan.pending.Empty()) << apType;
        EXPECT_TRUE(ConfigurationCommands(plan.pending).empty());
        EXPECT_EQ(ChooseConfigurationWait(plan.pending).seconds, 0);
    }
}

TEST(DeviceConfigurationTest, OnlyTheNameChangedSendsOneNameCommand) {
    const ap_info_stu rec = Record();
    ConfigurationForms f = FormsOf(rec);
    f.ip->name = "东塔-2";
    const ConfigurationPlan plan = PlanConfiguration(rec, f, {});
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(Commands(plan.pending), (std::vector<int>{CMD_SET_NAME}));
    const auto body = ConfigurationCommands(plan.pending)[0].body;
    ASSERT_EQ(body.size(), 33u);
    EXPECT_EQ(body[32], std::strlen("东塔-2"));
    EXPECT_EQ(std::memcmp(body.data(), "东塔-2", body[32]), 0);
    EXPECT_EQ(ChooseConfigurationWait(plan.pending).seconds, 0);
}

TEST(DeviceConfigurationTest, AddressAndVlanTogetherSetTheFlagBytesAndTheLongWait) {
    const ap_info_stu rec = Record(10);
    ConfigurationForms f = FormsOf(rec);
    f.ip->ip = "192.168.1.30";
    f.vlan->wlan = "21";
    const ConfigurationPlan plan = PlanConfiguration(rec, f, {"192.168.1.20"});
    ASSERT_TRUE(plan.ok()) << plan.failure.key;
    EXPECT_EQ(Commands(plan.pending), (std::vector<int>{CMD_SET_VLAN, CMD_SET_IP}));
    const auto cmds = ConfigurationCommands(plan.pending);
    ASSERT_EQ(cmds[0].body.size(), 22u);  // model 10 takes the extension
    EXPECT_EQ(cmds[0].body[8], 1);
    EXPECT_EQ(cmds[0].body[9], 0x5a);
    ASSERT_EQ(cmds[1].body.size(), 22u);
    EXPECT_EQ(cmds[1].body[0], 1);
    EXPECT_EQ(cmds[1].body[4], 30);
    EXPECT_EQ(cmds[1].body[21], 0);
    const ConfigurationWait wait = ChooseConfigurationWait(plan.pending);
    EXPECT_EQ(wait.seconds, 60);
    EXPECT_FALSE(wait.search);

    // The address alone: flag byte 1 and the short wait with three searches.
    f.vlan = VlanFormFromRecord(rec);
    const ConfigurationPlan ipOnly = PlanConfiguration(rec, f, {});
    EXPECT_EQ(ConfigurationCommands(ipOnly.pending)[0].body[21], 1);
    const ConfigurationWait w = ChooseConfigurationWait(ipOnly.pending);
    EXPECT_EQ(w.seconds, 15);
    EXPECT_TRUE(w.search);
    EXPECT_EQ(w.searches, 3);
}

TEST(DeviceConfigurationTest, TheFirstRefusingTabStopsTheSaveWithItsMessage) {
    const ap_info_stu rec = Record();
    ConfigurationForms f = FormsOf(rec);
    f.wireless->ssid = "";
    f.ip->ip = "127.0.0.1";
    ConfigurationPlan plan = PlanConfiguration(rec, f, {});
    EXPECT_EQ(plan.failedTab, ConfigurationTab::Wireless);
    EXPECT_TRUE(plan.pending.Empty());
    f.wireless->ssid = "ok";
    plan = PlanConfiguration(rec, f, {});
    EXPECT_EQ(plan.failedTab, ConfigurationTab::Ip);
    EXPECT_EQ(plan.failure.key, "The ip address is invalid!");
    EXPECT_TRUE(plan.failure.appCaption);
    EXPECT_TRUE(plan.pending.Empty());  // nothing half-planned is left to send
}

TEST(DeviceConfigurationTest, AddressChecksOnlyAChangedBlockAndRefusesAnAddressInUse) {
    ap_info_stu rec = Record();
    // A device that reports an address the rules would refuse can still be renamed: its
    // unchanged block is not examined.
    IpFromText("10.0.0.255", rec.ip);
    IpSettingsForm f = IpSettingsFormFromRecord(rec);
    f.name = "new";
    IpSettingsCollect c = CollectIpSettings(rec, f, {"10.0.0.255"});
    ASSERT_TRUE(c.ok()) << c.failure.key;
    EXPECT_FALSE(c.ipChanged);
    EXPECT_TRUE(c.nameChanged);

    rec = Record();
    f = IpSettingsFormFromRecord(rec);
    f.ip = "192.168.1.21";
    c = CollectIpSettings(rec, f, {"192.168.1.20", "192.168.1.21"});
    EXPECT_EQ(c.failure.key, "The ip address is already in use, please respecify!");
    EXPECT_FALSE(c.ipChanged);
    // The device's own address is no conflict when only the mask changes.
    f = IpSettingsFormFromRecord(rec);
    f.mask = "255.255.0.0";
    c = CollectIpSettings(rec, f, {"192.168.1.20"});
    EXPECT_TRUE(c.ok());
    EXPECT_TRUE(c.ipChanged);
    // An empty gateway is sent as 0.0.0.0 and skips the subnet check.
    f = IpSettingsFormFromRecord(rec);
    f.gateway = "";
    f.ip = "10.9.9.9";
    c = CollectIpSettings(rec, f, {});
    ASSERT_TRUE(c.ok()) << c.failure.key;
    EXPECT_EQ(IpToText(c.ip.ip_gateway), "0.0.0.0");
    EXPECT_EQ(c.ip.reserved, 1);

    f = IpSettingsFormFromRecord(rec);
    f.name = "";
    EXPECT_EQ(CollectIpSettings(rec, f, {}).failure.key, "The device name can not be empty!");
    f.name = "十一个汉字的设备名称太长了";  // 13 CJK characters: 39 bytes
    EXPECT_EQ(CollectIpSettings(rec, f, {}).failure.field, SettingField::Name);
    f.name = "十个汉字的设备名称好";  // 10: 30 bytes
    EXPECT_TRUE(CollectIpSettings(rec, f, {}).ok());
}

TEST(DeviceConfigurationTest, VlanIdsRefusedWithTheirFieldsLabel) {
    const ap_info_stu rec = Record(1);
    VlanForm f = VlanFormFromRecord(rec);
    for (const char* bad : {"0", "4095", ""}) {
        f.wlan = bad;
        const VlanCollect c = CollectVlan(rec, f);
        EXPECT_EQ(c.failure.field, SettingField::VlanWlan) << bad;
        EXPECT_EQ(RuleFailureText(c.failure), "WLAN range:1-4094") << bad;
    }
    f.wlan = "4094";
    EXPECT_TRUE(CollectVlan(rec, f).ok());

    // Model 11 checks PVID then its one LAN port, labelled "LAN"; other models have neither.
    const ap_info_stu ap11 = Record(11);
    VlanForm g = VlanFormFromRecord(ap11);
    g.lan2 = "0";
    EXPECT_EQ(RuleFailureText(CollectVlan(ap11, g).failure), "LAN range:1-4094");
    g.pvid = "5000";
    EXPECT_EQ(RuleFailureText(CollectVlan(ap11, g).failure), "PVID range:1-4094");
    EXPECT_TRUE(CollectVlan(rec, g).ok()) << "model 1 has no PVID or LAN ids";
    const ap_info_stu ap10 = Record(10);
    VlanForm h = VlanFormFromRecord(ap10);
    h.lan4 = "x";
    EXPECT_EQ(RuleFailureText(CollectVlan(ap10, h).failure), "LAN4 range:1-4094");
}

TEST(DeviceConfigurationTest, VlanDisabledChangesOnlyTheSwitch) {
    const ap_info_stu rec = Record(10);
    VlanForm f = VlanFormFromRecord(rec);
    f.enabled = false;
    f.manage = "0";  // not examined
    f.lan3 = "99999";
    const VlanCollect c = CollectVlan(rec, f);
    ASSERT_TRUE(c.ok());
    EXPECT_TRUE(c.changed);
    VlanBlock expected = GetVlanBlock(rec);
    expected.vlan_en = 0;
    expected.with_ip = 0;
    EXPECT_EQ(std::memcmp(&c.block, &expected, sizeof expected), 0);

    // A change in the extension counts on models 10 and 11 only.
    VlanForm p = VlanFormFromRecord(rec);
    p.pvid = "41";
    EXPECT_TRUE(CollectVlan(rec, p).changed);
    EXPECT_FALSE(CollectVlan(Record(1), p).changed);
}

TEST(DeviceConfigurationTest, TimedRebootScheduleAndItsRefusals) {
    const ap_info_stu rec = Record();
    TimedRebootForm f = TimedRebootFormFromRecord(rec);
    f.enabled = true;
    f.hour = "23";
    f.minute = "59";
    f.days = {};
    f.days[6] = true;  // Sunday
    TimedRebootCollect c = CollectTimedReboot(rec, f);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.block.restart_en, 1);
    EXPECT_EQ(c.block.restart_type, 0x80);
    EXPECT_EQ(+c.block.restart_time, 1439);
    EXPECT_TRUE(c.changed);

    f.days = {};
    f.everyday = true;
    EXPECT_EQ(CollectTimedReboot(rec, f).block.restart_type, 0xFE);
    f.everyday = false;
    EXPECT_EQ(CollectTimedReboot(rec, f).failure.key,
              "Please selectting the day that you want to reboot!");
    f.days[0] = true;
    f.hour = "24";
    EXPECT_EQ(CollectTimedReboot(rec, f).failure.key, "The time is error!");
    f.hour = "23";
    f.minute = "60";
    EXPECT_EQ(CollectTimedReboot(rec, f).failure.key, "The time is error!");
    f.minute = "";
    EXPECT_EQ(CollectTimedReboot(rec, f).failure.key, "The time can not be empty!");

    // Switched off: only restart_en; the record's time and days stay and nothing is checked.
    ap_info_stu on = rec;
    on.restart_en = 1;
    TimedRebootForm off = TimedRebootFormFromRecord(on);
    off.enabled = false;
    off.hour = "99";
    c = CollectTimedReboot(on, off);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.block.restart_en, 0);
    EXPECT_EQ(c.block.restart_type, 0x06);
    EXPECT_EQ(+c.block.restart_time, 90);
}

TEST(DeviceConfigurationTest, SenderSendsInOrderAndMovesTheAddressLast) {
    const ap_info_stu rec = Record(11);
    ConfigurationForms f = FormsOf(rec);
    f.ip->ip = "192.168.1.99";
    f.ip->name = "renamed";
    f.wireless->ssid = "new-ssid";
    f.vlan->manage = "11";
    f.reboot->enabled = true;
    f.reboot->days[2] = true;
    const ConfigurationPlan plan = PlanConfiguration(rec, f, {});
    ASSERT_TRUE(plan.ok()) << plan.failure.key;

    test::RecordingEngine engine;
    ConfigurationTarget target{"192.168.1.20", rec.mac, rec.ap_type};
    RunConfigurationSender({}, engine, target, plan.pending);
    const auto sends = engine.Sends();
    ASSERT_EQ(sends.size(), 5u);
    const int order[] = {CMD_SET_NAME, CMD_SET_WIRELESS, CMD_SET_TIMED_REBOOT, CMD_SET_VLAN,
                         CMD_SET_IP};
    const std::size_t sizes[] = {33, 328, 4, 22, 22};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(sends[i].command, order[i]);
        EXPECT_EQ(sends[i].body.size(), sizes[i]);
        EXPECT_EQ(sends[i].ip, "192.168.1.20");  // all to the address it has now
        EXPECT_EQ(sends[i].mac, rec.mac);
        EXPECT_TRUE(sends[i].retransmit);
    }
    // The engine learns of the move just before the address command.
    const auto calls = engine.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[4], "pending");
    const auto pending = engine.PendingAddresses();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].currentIp, "192.168.1.20");
    EXPECT_EQ(pending[0].newIp, "192.168.1.99");

    // A model without the extension gets 10 VLAN bytes.
    const ap_info_stu small = Record(1);
    ConfigurationForms g = FormsOf(small);
    g.vlan->enabled = false;
    const auto cmds = ConfigurationCommands(PlanConfiguration(small, g, {}).pending);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].body.size(), 10u);
}

// ---- what a configuration changes, and the read-back that proves it ----

TEST(DeviceConfigurationTest, LooseAddressTextIsRefusedWithItsFieldsMessage) {
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

TEST(DeviceConfigurationTest, RenameOnADeviceWithUnlistedValuesSendsOnlyTheName) {
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

TEST(DeviceConfigurationTest, ReadBackComparesWhatTheDeviceReportsWithWhatWasSent) {
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
