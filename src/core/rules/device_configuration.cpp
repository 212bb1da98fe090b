#include "rules/device_configuration.h"

#include "rules/configuration_fields.h"

namespace fd {

ConfigurationPlan PlanConfiguration(const ap_info_stu& rec, const ConfigurationForms& forms,
                                    const std::vector<std::string>& usedIps) {
    ConfigurationPlan plan;
    PendingConfiguration& p = plan.pending;
    auto refuse = [&plan](const RuleFailure& f, ConfigurationTab tab) {
        plan.failure = f;
        plan.failedTab = tab;
        plan.pending = {};
        return plan;
    };
    if (forms.wireless) {
        const WirelessCollect c = CollectWireless(rec, *forms.wireless);
        if (!c.ok()) return refuse(c.failure, ConfigurationTab::Wireless);
        p.wirelessChanged = c.changed;
        p.wireless = c.block;
    }
    if (forms.ip) {
        const IpSettingsCollect c = CollectIpSettings(rec, *forms.ip, usedIps);
        if (!c.ok()) return refuse(c.failure, ConfigurationTab::Ip);
        p.ipChanged = c.ipChanged;
        p.ip = c.ip;
        p.nameChanged = c.nameChanged;
        p.name = c.name;
    }
    if (forms.vlan) {
        const VlanCollect c = CollectVlan(rec, *forms.vlan);
        if (!c.ok()) return refuse(c.failure, ConfigurationTab::Vlan);
        p.vlanChanged = c.changed;
        p.vlan = c.block;
    }
    p.vlanSize = VlanBlockSize(rec.ap_type);
    if (forms.reboot) {
        const TimedRebootCollect c = CollectTimedReboot(rec, *forms.reboot);
        if (!c.ok()) return refuse(c.failure, ConfigurationTab::TimedReboot);
        p.rebootChanged = c.changed;
        p.reboot = c.block;
    }
    // A block goes out only when it changes a setting the device shows: the one "changed"
    // test of the dialog and the command line (bytes that are no setting, like the count and
    // flag bytes, do not make a change).
    auto changes = [&](SettingGroup g) { return !ChangedFields(rec, p, g).empty(); };
    if (p.wirelessChanged) p.wirelessChanged = changes(SettingGroup::Wireless);
    if (p.ipChanged) p.ipChanged = changes(SettingGroup::Address);
    if (p.nameChanged) p.nameChanged = changes(SettingGroup::Name);
    if (p.vlanChanged) p.vlanChanged = changes(SettingGroup::Vlan);
    if (p.rebootChanged) p.rebootChanged = changes(SettingGroup::TimedReboot);
    if (p.ipChanged && p.vlanChanged) {
        p.ip.reserved = 0;
        p.vlan.with_ip = 1;
    }
    return plan;
}

ConfigurationWait ChooseConfigurationWait(const PendingConfiguration& p) {
    if (p.vlanChanged) return {60, false, 0};
    if (p.ipChanged) return {15, true, 3};
    return {};
}

}  // namespace fd
