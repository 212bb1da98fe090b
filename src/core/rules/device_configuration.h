#pragma once
// Saving the configuration of one device: the four collect steps in their fixed order
// (wireless, addresses and name, VLAN, timed reboot), the blocks that changed, and how long
// the user is asked to wait afterwards. The dialog and `fielddesk-cli configure` both build
// a plan here; the sender (actions/configuration_sender.h) sends it.

#include <optional>
#include <string>
#include <vector>

#include "rules/ip_settings.h"
#include "rules/rule_failure.h"
#include "rules/vlan_reboot_settings.h"
#include "rules/wireless_settings.h"
#include "wire/packet.h"

namespace fd {

// The forms of the four tabs. A tab left out (the command line's tabs without options) is
// not examined and sends nothing.
struct ConfigurationForms {
    std::optional<WirelessForm> wireless;
    std::optional<IpSettingsForm> ip;
    std::optional<VlanForm> vlan;
    std::optional<TimedRebootForm> reboot;
};

// What Save hands the sender: the changed flags and the blocks.
struct PendingConfiguration {
    bool nameChanged = false;
    bool wirelessChanged = false;
    bool ipChanged = false;
    bool vlanChanged = false;
    bool rebootChanged = false;
    DeviceNameBlock name{};
    WirelessBlock wireless{};
    IpConfigBlock ip{};
    VlanBlock vlan{};
    std::size_t vlanSize = kVlanBlockShortSize;  // bytes of the VLAN block to send
    TimedRebootBlock reboot{};

    bool Empty() const {
        return !nameChanged && !wirelessChanged && !ipChanged && !vlanChanged && !rebootChanged;
    }
};

// Which tab a refusal came from (the dialog's tabs, in their order).
enum class ConfigurationTab { Wireless, Ip, Vlan, TimedReboot };

struct ConfigurationPlan {
    RuleFailure failure;
    ConfigurationTab failedTab = ConfigurationTab::Wireless;
    PendingConfiguration pending;
    bool ok() const { return !failure.Failed(); }
};

// Runs the collect steps of the forms given, stopping at the first refusal. When the
// addresses and the VLAN change together, the device is told so through the flag bytes:
// the IP block's becomes 0 and the VLAN block's 1, so that it applies both at once.
ConfigurationPlan PlanConfiguration(const ap_info_stu& rec, const ConfigurationForms& forms,
                                    const std::vector<std::string>& usedIps);

// The wait after sending: a VLAN change restarts the device (60 s, no searches); a new
// address is searched for (15 s, 3 searches); anything else needs no wait.
struct ConfigurationWait {
    int seconds = 0;  // 0: no wait
    bool search = false;
    int searches = 0;
};
ConfigurationWait ChooseConfigurationWait(const PendingConfiguration& pending);

}  // namespace fd
