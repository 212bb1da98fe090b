// Plan rows over device records without a network: an exported row, written to a file and
// read back, leaves every kind of device unchanged; a refused row names its line and column.

#include "cli/cli_plan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "presentation/plan_file.h"

using namespace fd;
using namespace fd::cli;

namespace {

ap_info_stu Device(int apType) {
    ap_info_stu r{};
    std::strcpy(r.mac, "02:fd:00:00:00:09");
    r.ap_type = static_cast<uint16_t>(apType);
    r.work_mode = WORK_MODE_AP;
    r.ip_mode = 1;
    IpFromText("198.18.1.9", r.ip);
    IpFromText("255.255.0.0", r.ip_mask);
    IpFromText("198.18.0.254", r.ip_gateway);
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "=Mast, \"north\"");
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
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab;1");
    r.ssid_count = 1;
    return r;
}

}  // namespace

TEST(PlanRows, AnExportedRowReadBackFromItsFileLeavesTheDeviceUnchanged) {
    std::vector<ap_info_stu> devices;
    devices.push_back(Device(1));  // no security, no VLAN, no timed reboot
    {
        ap_info_stu r = Device(10);  // WPA2-PSK, VLAN with every id of model 10, timed reboot
        r.secure_mode = 3;
        r.wpapsk_auth_type = 2;
        SetFieldText(r.wpapsk_key_value, sizeof r.wpapsk_key_value, r.wpapsk_key_value_len,
                     "-a passphrase");
        r.wpapsk_key_time = 3600;
        r.vlan_en = 1;
        r.vlan_id = 10, r.vlan_id_wlan = 20, r.vlan_id_lan = 30, r.vlan_pvid = 40;
        r.vlan_id_lan3 = 50, r.vlan_id_lan4 = 60;
        r.restart_en = 1;
        r.restart_type = 0x02 | 0x80;
        r.restart_time = 150;
        devices.push_back(r);
    }
    {
        ap_info_stu r = Device(11);  // WEP with the second key, in hex
        r.secure_mode = 1;
        r.wep_auth_type = 1;
        r.wep_key_index = 2;
        r.wep_key_type1 = 1;
        SetFieldText(r.wep_key_value1, sizeof r.wep_key_value1, r.wep_key_value1_len, "0123456789");
        devices.push_back(r);
    }
    {
        ap_info_stu r = Device(1);  // WPA2 with a RADIUS server
        r.secure_mode = 6;
        r.wpa_auth_type = 0;
        IpFromText("198.18.0.10", r.wpa_radius_ip);
        r.wpa_radius_port = 1812;
        SetFieldText(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len, "radius secret");
        r.wpa_key_time = 0;
        devices.push_back(r);
    }
    for (const ap_info_stu& rec : devices) {
        const PlanRow row = PlanRowOf(rec, true);
        for (const std::string& text : {WritePlanCsv({row}, true), WritePlanJson({row}, true)}) {
            const PlanFile file = ReadPlan(text);
            ASSERT_EQ(file.rows.size(), 1u) << file.refused << text;
            const PlanRowCheck check = CheckPlanRow(rec, file.rows[0], {});
            EXPECT_EQ(check.kind, PlanRowKind::Unchanged)
                << "model " << rec.ap_type << ": " << check.message << " " << text;
        }
    }
}

TEST(PlanRows, ARefusedRowNamesItsLineColumnAndTheRule) {
    const ap_info_stu rec = Device(10);
    std::vector<std::string> messages;
    for (const auto& text :
         {"mac;channel\r\n02:fd:00:00:00:09;999\r\n",
          "mac;vlan;pvid;lan;lan3;lan4;vlan-wlan\r\n02:fd:00:00:00:09;100;1;2;3;4;5000\r\n",
          "mac;key\r\n02:fd:00:00:00:09;a key\r\n"}) {
        const PlanFile one = ReadPlan(text);
        ASSERT_EQ(one.rows.size(), 1u);
        const PlanRowCheck check = CheckPlanRow(rec, one.rows[0], {});
        EXPECT_EQ(check.kind, PlanRowKind::Refused);
        messages.push_back(check.message);
    }
    EXPECT_EQ(messages[0].substr(0, 27), "line 2, column 2 (channel):");
    EXPECT_EQ(messages[1].substr(0, 28), "line 2, column 7 (vlan-wlan)");
    // A key for a device without security: refused, and the key itself is never shown.
    EXPECT_EQ(messages[2].find("a key"), std::string::npos);
    EXPECT_EQ(messages[2].substr(0, 23), "line 2, column 2 (key):");
}
