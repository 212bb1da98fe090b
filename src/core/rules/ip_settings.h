#pragma once
// The address and name settings of one device: the form the IP page shows, and its collect
// step, which gives the 22-byte IP configuration block of command 3 and the 33-byte name
// block of command 8, each with its changed flag.

#include <string>
#include <vector>

#include "rules/rule_failure.h"
#include "wire/packet.h"

namespace fd {

struct IpSettingsForm {
    std::string ip;  // dotted texts as typed; "" and "0.0.0.0" both mean "none"
    std::string mask;
    std::string gateway;
    std::string dns1;
    std::string dns2;
    std::string name;  // UTF-8
};

// The record's addresses as "%d.%d.%d.%d" and its name.
IpSettingsForm IpSettingsFormFromRecord(const ap_info_stu& rec);

struct IpSettingsCollect {
    RuleFailure failure;
    bool ipChanged = false;
    IpConfigBlock ip{};  // flag byte 1
    bool nameChanged = false;
    DeviceNameBlock name{};
    bool ok() const { return !failure.Failed(); }
};

// The addresses are examined only when their block differs from the record's: then the
// one-device address check runs and a new address may not be one another stored device
// already has (usedIps: every stored device's address). The name must be given and follow
// the model's name rule.
IpSettingsCollect CollectIpSettings(const ap_info_stu& rec, const IpSettingsForm& form,
                                    const std::vector<std::string>& usedIps);

}  // namespace fd
