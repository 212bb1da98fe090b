#pragma once
// What a settings check gives back when it refuses the user's input: the message as a
// language key (with the numbers it shows and, for the VLAN ids, the field's label in front)
// and the field to put the focus on. The pages show it in a message box, the command line
// prints it; both through RuleFailureText.

#include <string>
#include <vector>

namespace fd {

// The input a refusal is about.
enum class SettingField {
    None,
    // wireless
    Ssid,
    Power,
    Channel,
    WepKey1,
    WepKey2,
    WepKey3,
    WepKey4,
    PskKey,
    PskInterval,
    RadiusServer,
    RadiusPort,
    RadiusKey,
    RadiusInterval,
    // addresses and name
    Ip,
    Mask,
    Gateway,
    Dns1,
    Dns2,
    Name,
    // VLAN
    VlanManage,
    VlanWlan,
    VlanPvid,
    VlanLan2,
    VlanLan3,
    VlanLan4,
    // timed reboot
    RebootTime,
    RebootDays,
};

// Which check refused. Callers that treat one refusal differently (to add a hint, to pick
// another field) branch on this, never on the message text.
enum class RuleCode {
    None,
    Other,  // a check without a code of its own
    IpInvalid,
    MaskInvalid,
    GatewayInvalid,
    IpIsGateway,
    GatewayOutsideSubnet,  // address and gateway in different subnets
    Dns1Invalid,
    Dns2Invalid,
    IpInUse,        // another known device has the address
    RangeTooSmall,  // fewer usable addresses in the range than devices
};

struct RuleFailure {
    RuleCode code = RuleCode::None;
    std::string key;        // language key of the message; empty: no failure
    std::string labelKey;   // language key of a label shown before the message, or empty
    std::vector<int> args;  // the numbers for the message's "%d" marks, in order
    SettingField field = SettingField::None;
    bool appCaption = false;  // shown with the application's name as caption

    bool Failed() const { return !key.empty(); }
};

inline RuleFailure Refuse(std::string key, SettingField field, bool appCaption = false) {
    RuleFailure f;
    f.code = RuleCode::Other;
    f.key = std::move(key);
    f.field = field;
    f.appCaption = appCaption;
    return f;
}

inline RuleFailure Refuse(RuleCode code, std::string key, SettingField field,
                          bool appCaption = false) {
    RuleFailure f = Refuse(std::move(key), field, appCaption);
    f.code = code;
    return f;
}

// The message as the user reads it: the label and the message translated, joined by a space,
// each "%d" of the translated message replaced by the next number. Translations are data, so
// they are never used as a printf format.
std::string RuleFailureText(const RuleFailure& failure);

}  // namespace fd
