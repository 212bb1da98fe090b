#include "rules/configuration_fields.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

#include "config/labels.h"
#include "rules/country_table.h"
#include "rules/vlan_reboot_settings.h"
#include "rules/wireless_settings.h"
#include "wire/utf8.h"

namespace fd {

namespace {

std::string CountryWord(int codeNumber) {
    const int row = CountryRowOfCodeNumber(codeNumber);
    const auto rows = CountryTable();
    if (row < 0) return CountryCodeText(codeNumber);
    return std::string(rows[static_cast<std::size_t>(row)].code) + " (" +
           rows[static_cast<std::size_t>(row)].name + ")";
}

constexpr const char* kDayNames[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

std::string DaysWord(uint8_t bits) {
    if ((bits & kEveryDayBits) == kEveryDayBits) return "everyday";
    std::string out;
    for (std::size_t d = 0; d < 7; ++d)
        if (bits & kRebootDayBits[d]) out += (out.empty() ? "" : ",") + std::string(kDayNames[d]);
    return out.empty() ? "-" : out;
}

std::string Two(int v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

std::string Text(const uint8_t* field, std::size_t capacity, uint8_t len) {
    return std::string(FieldText(field, capacity, len));
}

}  // namespace

std::string ListWord(const ListItem& item) {
    std::string w = AsciiLower(item.text);
    if (w.size() > 3 && w.compare(w.size() - 3, 3, "mhz") == 0) w.resize(w.size() - 3);
    return w;
}

std::string ListWordOfValue(const ListItems& items, int value) {
    for (const auto& i : items)
        if (i.value == value) return ListWord(i);
    return std::to_string(value);
}

const char* SecurityWord(int mode) {
    static constexpr const char* kWords[] = {"none",         "wep", "wpa-psk", "wpa2-psk",
                                             "wpa-wpa2-psk", "wpa", "wpa2"};
    return mode >= 0 && mode <= 6 ? kWords[mode] : "none";
}

ConfigurationFields DescribeConfiguration(const ap_info_stu& r) {
    ConfigurationFields f;
    auto add = [&f](const char* key, std::string value) { f.emplace_back(key, std::move(value)); };
    add("mac", r.mac);
    add("type", GetModelLabel(r.ap_type));
    add("name", Text(r.ap_name, sizeof r.ap_name, r.ap_name_len));
    add("ip", IpToText(r.ip));
    add("mask", IpToText(r.ip_mask));
    add("gateway", IpToText(r.ip_gateway));
    add("dns1", IpToText(r.ip_dns1));
    add("dns2", IpToText(r.ip_dns2));

    add("radio", r.rf_type == 0 ? "2.4GHz" : "5GHz");
    add("mode", ListWordOfValue(NetworkModeItems(r.rf_type, r.ap_type), r.network_mode));
    add("bandwidth",
        ListWordOfValue(BandwidthItems(r.rf_type, r.ap_type, r.network_mode), r.bandwidth));
    add("country", CountryWord(r.country_code));
    add("channel", r.channel == 0 ? "auto" : std::to_string(r.channel));
    add("ext-channel", r.rf_type != 0 || r.expand_channel > 1 ? "-"
                       : r.expand_channel == 1                ? "above"
                                                              : "below");
    add("power", std::to_string(r.tx_power));
    add("power-range", std::to_string(r.tx_power_min) + "-" + std::to_string(r.tx_power_max));
    add("ssid", Text(r.ssid, sizeof r.ssid, r.ssid_len));
    add("hide-ssid", r.ssid_hide ? "on" : "off");
    add("security", SecurityWord(r.secure_mode));
    if (IsPskMode(r.secure_mode)) {
        static constexpr const char* kCiphers[] = {"aes", "tkip", "tkip+aes"};
        add("cipher", r.wpapsk_auth_type <= 2 ? kCiphers[r.wpapsk_auth_type] : "-");
        add("key", Text(r.wpapsk_key_value, sizeof r.wpapsk_key_value, r.wpapsk_key_value_len));
        add("key-interval", std::to_string(r.wpapsk_key_time));
    } else if (r.secure_mode == kSecureWep) {
        add("wep-auth", r.wep_auth_type == 1 ? "shared" : "open");
        add("wep-default-key", std::to_string(r.wep_key_index));
        const uint8_t types[4] = {r.wep_key_type0, r.wep_key_type1, r.wep_key_type2,
                                  r.wep_key_type3};
        const uint8_t* values[4] = {r.wep_key_value0, r.wep_key_value1, r.wep_key_value2,
                                    r.wep_key_value3};
        const uint8_t lengths[4] = {r.wep_key_value0_len, r.wep_key_value1_len,
                                    r.wep_key_value2_len, r.wep_key_value3_len};
        static constexpr const char* kKeys[] = {"wep-key1", "wep-key2", "wep-key3", "wep-key4"};
        for (int k = 0; k < 4; ++k)
            add(kKeys[k],
                std::string(types[k] == 1 ? "hex:" : "ascii:") + Text(values[k], 26, lengths[k]));
    } else if (IsRadiusMode(r.secure_mode)) {
        static constexpr const char* kCiphers[] = {"aes", "tkip", "aes+tkip"};
        add("cipher", r.wpa_auth_type <= 2 ? kCiphers[r.wpa_auth_type] : "-");
        add("radius-server", IpToText(r.wpa_radius_ip));
        add("radius-port", std::to_string(r.wpa_radius_port));
        add("key", Text(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len));
        add("key-interval", std::to_string(r.wpa_key_time));
    }

    add("bridge-ap", MacToText(r.bridge_mac));
    add("bridge-ssid", Text(r.bridge_ssid, sizeof r.bridge_ssid, r.bridge_ssid_len));

    const VlanFields vf = VlanFieldsOf(r.ap_type);
    add("vlan", r.vlan_en ? "on" : "off");
    add("vlan-manage", std::to_string(r.vlan_id));
    add("vlan-wlan", std::to_string(r.vlan_id_wlan));
    if (vf.pvid) {
        add("pvid", std::to_string(r.vlan_pvid));
        add("lan", std::to_string(r.vlan_id_lan));
    }
    if (vf.lanPorts == 3) {
        add("lan3", std::to_string(r.vlan_id_lan3));
        add("lan4", std::to_string(r.vlan_id_lan4));
    }
    add("reboot", r.restart_en ? "on" : "off");
    add("reboot-at", Two(r.restart_time / 60 % 100) + ":" + Two(r.restart_time % 60));
    add("days", DaysWord(r.restart_type));
    return f;
}

SettingGroup GroupOfField(std::string_view field) {
    static constexpr std::pair<const char*, SettingGroup> kGroups[] = {
        {"name", SettingGroup::Name},
        {"ip", SettingGroup::Address},
        {"mask", SettingGroup::Address},
        {"gateway", SettingGroup::Address},
        {"dns1", SettingGroup::Address},
        {"dns2", SettingGroup::Address},
        {"vlan", SettingGroup::Vlan},
        {"vlan-manage", SettingGroup::Vlan},
        {"vlan-wlan", SettingGroup::Vlan},
        {"pvid", SettingGroup::Vlan},
        {"lan", SettingGroup::Vlan},
        {"lan3", SettingGroup::Vlan},
        {"lan4", SettingGroup::Vlan},
        {"reboot", SettingGroup::TimedReboot},
        {"reboot-at", SettingGroup::TimedReboot},
        {"days", SettingGroup::TimedReboot},
        {"bridge-ap", SettingGroup::Bridge},
        {"bridge-ssid", SettingGroup::Bridge},
        {"mac", SettingGroup::None},
        {"type", SettingGroup::None},
        {"radio", SettingGroup::None},
        {"power-range", SettingGroup::None},
    };
    for (const auto& [name, group] : kGroups)
        if (field == name) return group;
    // Everything else describes the radio, the network name and its security.
    return SettingGroup::Wireless;
}

std::vector<FieldDifference> DifferingFields(const ap_info_stu& expected,
                                             const ap_info_stu& actual,
                                             const std::vector<SettingGroup>& groups) {
    const ConfigurationFields want = DescribeConfiguration(expected);
    const ConfigurationFields have = DescribeConfiguration(actual);
    auto valueIn = [](const ConfigurationFields& fields, const std::string& key) {
        for (const auto& [k, v] : fields)
            if (k == key) return v;
        return std::string("-");
    };
    std::vector<FieldDifference> out;
    auto note = [&](const std::string& key, const std::string& w, const std::string& h) {
        const SettingGroup g = GroupOfField(key);
        if (g == SettingGroup::None || w == h) return;
        if (std::find(groups.begin(), groups.end(), g) == groups.end()) return;
        for (const FieldDifference& d : out)
            if (d.field == key) return;
        out.push_back({key, w, h});
    };
    // The fields of both sides: a security mode change brings other key fields.
    for (const auto& [key, value] : want) note(key, value, valueIn(have, key));
    for (const auto& [key, value] : have) note(key, valueIn(want, key), value);
    return out;
}

std::vector<SettingGroup> SentGroups(const PendingConfiguration& p) {
    std::vector<SettingGroup> out;
    if (p.nameChanged) out.push_back(SettingGroup::Name);
    if (p.wirelessChanged) out.push_back(SettingGroup::Wireless);
    if (p.rebootChanged) out.push_back(SettingGroup::TimedReboot);
    if (p.vlanChanged) out.push_back(SettingGroup::Vlan);
    if (p.ipChanged) out.push_back(SettingGroup::Address);
    return out;
}

namespace {

void ApplyGroup(ap_info_stu& r, const PendingConfiguration& p, SettingGroup group) {
    switch (group) {
        case SettingGroup::Name:
            ApplyBlock(r, kNameBlockOffset, p.name);
            break;
        case SettingGroup::Wireless:
            ApplyBlock(r, kWirelessBlockOffset, p.wireless);
            break;
        case SettingGroup::TimedReboot:
            ApplyBlock(r, kRebootBlockOffset, p.reboot);
            break;
        case SettingGroup::Vlan: {
            // The flag byte says whether an address change follows; the extension is only
            // sent to the models that have it.
            VlanBlock v = GetVlanBlock(r);
            std::memcpy(&v, &p.vlan, offsetof(VlanBlock, with_ip));
            if (p.vlanSize == sizeof(VlanBlock))
                std::memcpy(reinterpret_cast<uint8_t*>(&v) + offsetof(VlanBlock, bridge_transparent),
                            reinterpret_cast<const uint8_t*>(&p.vlan) +
                                offsetof(VlanBlock, bridge_transparent),
                            sizeof(VlanBlock) - offsetof(VlanBlock, bridge_transparent));
            ApplyBlock(r, kVlanBlockOffset, v);
            break;
        }
        case SettingGroup::Address: {
            IpConfigBlock b = p.ip;
            b.reserved = GetIpBlock(r).reserved;  // the command's flag, no setting
            ApplyBlock(r, kIpBlockOffset, b);
            break;
        }
        case SettingGroup::Bridge:
        case SettingGroup::None:
            break;
    }
}

}  // namespace

ap_info_stu ExpectedRecord(const ap_info_stu& rec, const PendingConfiguration& p) {
    ap_info_stu r = rec;
    for (SettingGroup g : SentGroups(p)) ApplyGroup(r, p, g);
    return r;
}

std::vector<FieldDifference> ChangedFields(const ap_info_stu& rec, const PendingConfiguration& p,
                                           SettingGroup group) {
    ap_info_stu r = rec;
    ApplyGroup(r, p, group);
    return DifferingFields(r, rec, {group});
}

std::vector<FieldDifference> ChangedFields(const ap_info_stu& rec,
                                           const PendingConfiguration& p) {
    return DifferingFields(ExpectedRecord(rec, p), rec, SentGroups(p));
}

ap_info_stu ExpectedAfterBridge(const ap_info_stu& rec, const BridgeConfigBody& body) {
    ap_info_stu expected = rec;
    std::memcpy(expected.bridge_mac, body.wireless.ap_mac, sizeof expected.bridge_mac);
    std::memcpy(expected.bridge_ssid, body.wireless.ssid, sizeof expected.bridge_ssid);
    expected.bridge_ssid_len = body.wireless.ssid_len;
    IpConfigBlock ip = body.ip;
    ip.reserved = GetIpBlock(rec).reserved;
    ApplyBlock(expected, kIpBlockOffset, ip);
    return expected;
}

}  // namespace fd
