#pragma once
// The VLAN and timed-reboot settings of one device: what their pages show, and their
// collect steps, which give the VLAN block of command 13 and the 4-byte timed-reboot block of
// command 5, each with its changed flag.

#include <array>
#include <string>

#include "rules/rule_failure.h"
#include "wire/packet.h"

namespace fd {

// ---- VLAN ----

// Which VLAN ids a model has: all have the management and WLAN ids; model 11 adds the PVID
// and one LAN port ("LAN"), model 10 the PVID and three ports ("LAN2" to "LAN4").
struct VlanFields {
    bool pvid = false;
    int lanPorts = 0;  // 0, 1 or 3
    const char* lanLabel = "LAN2";
};
VlanFields VlanFieldsOf(int apType);

struct VlanForm {
    bool enabled = false;
    std::string manage;  // the management VLAN
    std::string wlan;
    std::string pvid;
    std::string lan2;  // "LAN" on model 11
    std::string lan3;
    std::string lan4;
};
VlanForm VlanFormFromRecord(const ap_info_stu& rec);

struct VlanCollect {
    RuleFailure failure;
    bool changed = false;
    VlanBlock block{};  // with_ip 0; send VlanBlockSize(ap_type) bytes of it
    bool ok() const { return !failure.Failed(); }
};
// When enabled, every id the model has must be 1 to 4094 (the message names the field);
// when not, nothing is examined and only vlan_en changes. Models 10 and 11 also compare the
// extension bytes for the changed flag.
VlanCollect CollectVlan(const ap_info_stu& rec, const VlanForm& form);

// ---- timed reboot ----

// Day bits of restart_type, Monday first.
inline constexpr std::array<uint8_t, 7> kRebootDayBits{0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
inline constexpr uint8_t kEveryDayBits = 0xFE;

struct TimedRebootForm {
    bool enabled = false;
    std::string hour;
    std::string minute;
    std::array<bool, 7> days{};  // Monday .. Sunday
    bool everyday = false;       // ticks all seven
};
TimedRebootForm TimedRebootFormFromRecord(const ap_info_stu& rec);

struct TimedRebootCollect {
    RuleFailure failure;
    bool changed = false;
    TimedRebootBlock block{};
    bool ok() const { return !failure.Failed(); }
};
// When enabled: both times given, hour 0-23 and minute 0-59, at least one day. When not
// enabled only restart_en becomes 0; the time and the days stay as the record has them.
TimedRebootCollect CollectTimedReboot(const ap_info_stu& rec, const TimedRebootForm& form);

}  // namespace fd
