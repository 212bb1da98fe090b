#pragma once
// A device's settings as named fields ("name", "channel", "vlan-manage", ...) with their
// values as text, and the comparisons built on them:
//  - ChangedFields: what a pending configuration would change on the device. It is the one
//    "changed" test: PlanConfiguration sends a block only when it changes a field, for the
//    configuration dialog and the command line alike.
//  - DifferingFields: what a device reports differently from what it was sent; the read-back
//    after a configuration (actions/configuration_verify.h) is built on it.
// The names and value words are the ones `fielddesk-cli show` prints and configure takes.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rules/device_configuration.h"
#include "rules/wireless_settings.h"
#include "wire/packet.h"

namespace fd {

// How list entries are named as words: "20MHz" -> "20", "Auto" -> "auto".
std::string ListWord(const ListItem& item);
// The word of the entry with this value, or the number when the list has none.
std::string ListWordOfValue(const ListItems& items, int value);
// "none", "wep", "wpa-psk", "wpa2-psk", "wpa-wpa2-psk", "wpa", "wpa2".
const char* SecurityWord(int mode);

using ConfigurationFields = std::vector<std::pair<std::string, std::string>>;
// The record's settings in the order shown. A country code without a row of the country
// list shows as the code the device reports ("NL"), a channel as its number.
ConfigurationFields DescribeConfiguration(const ap_info_stu& rec);

// Which command carries a field; None for facts that are not settings (mac, type, radio).
// Bridge: the access point a station is linked to (the bridge wizard's command).
enum class SettingGroup { None, Name, Wireless, TimedReboot, Vlan, Address, Bridge };
SettingGroup GroupOfField(std::string_view field);

struct FieldDifference {
    std::string field;
    std::string expected;  // what was sent (or, for ChangedFields, the new value)
    std::string actual;    // what the device reports (or has now)
    bool operator==(const FieldDifference&) const = default;
};

// The fields of the groups given whose values differ between the two records, in the
// order DescribeConfiguration lists them.
std::vector<FieldDifference> DifferingFields(const ap_info_stu& expected,
                                             const ap_info_stu& actual,
                                             const std::vector<SettingGroup>& groups);

// The groups whose blocks the pending configuration sends.
std::vector<SettingGroup> SentGroups(const PendingConfiguration& pending);
// The device's record as it should read once the blocks the pending configuration sends
// have been applied (the flag bytes of the commands are no settings and stay).
ap_info_stu ExpectedRecord(const ap_info_stu& rec, const PendingConfiguration& pending);
// Every field the blocks the pending configuration sends would change on the device:
// expected = the new value, actual = the device's value now.
std::vector<FieldDifference> ChangedFields(const ap_info_stu& rec,
                                           const PendingConfiguration& pending);
// The same for one group's block, whatever the flags say (PlanConfiguration sets the flag of
// a block from this).
std::vector<FieldDifference> ChangedFields(const ap_info_stu& rec,
                                           const PendingConfiguration& pending,
                                           SettingGroup group);

// What a station should report once the bridge configuration is applied: the access
// point's MAC and SSID and the addresses of the body (groups Bridge and Address).
ap_info_stu ExpectedAfterBridge(const ap_info_stu& rec, const BridgeConfigBody& body);

}  // namespace fd
