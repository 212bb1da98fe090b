#include "rules/vlan_reboot_settings.h"

#include <cstring>

#include "rules/wireless_settings.h"

namespace fd {

namespace {

// lang-keys:begin
constexpr const char* kMsgVlanRange = "range:1-4094";
constexpr const char* kMsgTimeEmpty = "The time can not be empty!";
constexpr const char* kMsgTimeError = "The time is error!";
constexpr const char* kMsgNoDay = "Please selectting the day that you want to reboot!";
// lang-keys:end

// One VLAN id edit: its value, or the failure naming its label.
bool ReadVlanId(const std::string& text, const char* label, SettingField field, uint16_t& out,
                RuleFailure& failure) {
    const long long v = LeadingNumber(text);
    if (text.empty() || v < 1 || v > 4094) {
        failure = Refuse(kMsgVlanRange, field);
        failure.labelKey = label;
        return false;
    }
    out = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

VlanFields VlanFieldsOf(int apType) {
    if (apType == 10) return {true, 3, "LAN2"};
    if (apType == 11) return {true, 1, "LAN"};
    return {};
}

VlanForm VlanFormFromRecord(const ap_info_stu& rec) {
    VlanForm f;
    f.enabled = rec.vlan_en != 0;
    f.manage = std::to_string(rec.vlan_id);
    f.wlan = std::to_string(rec.vlan_id_wlan);
    f.pvid = std::to_string(rec.vlan_pvid);
    f.lan2 = std::to_string(rec.vlan_id_lan);
    f.lan3 = std::to_string(rec.vlan_id_lan3);
    f.lan4 = std::to_string(rec.vlan_id_lan4);
    return f;
}

VlanCollect CollectVlan(const ap_info_stu& rec, const VlanForm& f) {
    VlanCollect out;
    const VlanBlock old = GetVlanBlock(rec);
    VlanBlock b = old;
    if (f.enabled) {
        b.vlan_en = 1;
        const VlanFields fields = VlanFieldsOf(rec.ap_type);
        // lang-keys:begin
        bool ok = ReadVlanId(f.manage, "VLAN", SettingField::VlanManage, b.vlan_id, out.failure) &&
                  ReadVlanId(f.wlan, "WLAN", SettingField::VlanWlan, b.vlan_id_wlan, out.failure);
        if (ok && fields.pvid)
            ok = ReadVlanId(f.pvid, "PVID", SettingField::VlanPvid, b.vlan_pvid, out.failure) &&
                 ReadVlanId(f.lan2, fields.lanLabel, SettingField::VlanLan2, b.vlan_id_lan,
                            out.failure);
        if (ok && fields.lanPorts == 3)
            ok = ReadVlanId(f.lan3, "LAN3", SettingField::VlanLan3, b.vlan_id_lan3, out.failure) &&
                 ReadVlanId(f.lan4, "LAN4", SettingField::VlanLan4, b.vlan_id_lan4, out.failure);
        // lang-keys:end
        if (!ok) return out;
    } else {
        b.vlan_en = 0;
    }
    b.with_ip = 0;
    const std::size_t compared = VlanBlockSize(rec.ap_type);
    VlanBlock oldCompared = old;
    oldCompared.with_ip = 0;
    // The record's byte 8 is whatever the device reports there; only the settings count.
    out.changed = std::memcmp(&b, &oldCompared, compared) != 0;
    out.block = b;
    return out;
}

TimedRebootForm TimedRebootFormFromRecord(const ap_info_stu& rec) {
    TimedRebootForm f;
    f.enabled = rec.restart_en != 0;
    f.hour = std::to_string(rec.restart_time / 60);
    f.minute = std::to_string(rec.restart_time % 60);
    for (std::size_t d = 0; d < 7; ++d) f.days[d] = (rec.restart_type & kRebootDayBits[d]) != 0;
    f.everyday = (rec.restart_type & kEveryDayBits) == kEveryDayBits;
    return f;
}

TimedRebootCollect CollectTimedReboot(const ap_info_stu& rec, const TimedRebootForm& f) {
    TimedRebootCollect out;
    const TimedRebootBlock old = GetRebootBlock(rec);
    TimedRebootBlock b = old;
    if (f.enabled) {
        if (f.hour.empty() || f.minute.empty()) {
            out.failure = Refuse(kMsgTimeEmpty, SettingField::RebootTime);
            return out;
        }
        const long long hour = LeadingNumber(f.hour);
        const long long minute = LeadingNumber(f.minute);
        if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
            out.failure = Refuse(kMsgTimeError, SettingField::RebootTime);
            return out;
        }
        uint8_t days = 0;
        for (std::size_t d = 0; d < 7; ++d)
            if (f.days[d] || f.everyday) days |= kRebootDayBits[d];
        if (days == 0) {
            out.failure = Refuse(kMsgNoDay, SettingField::RebootDays);
            return out;
        }
        b.restart_en = 1;
        b.restart_type = days;
        b.restart_time = static_cast<uint16_t>(hour * 60 + minute);
    } else {
        b.restart_en = 0;
    }
    out.changed = std::memcmp(&b, &old, sizeof b) != 0;
    out.block = b;
    return out;
}

}  // namespace fd
