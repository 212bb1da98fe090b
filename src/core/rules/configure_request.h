#pragma once
// The settings a user can change by name ("ssid", "channel", "reboot-at"...), as
// `fielddesk-cli configure` takes them and plan files hold them in their columns, and the
// configuration dialog's forms they make for one device.

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "rules/device_configuration.h"

namespace fd {

// The dialog tab a setting belongs to: a tab none of whose settings is given sends nothing.
enum class ConfigureTab { Wireless, Ip, Vlan, Reboot };

struct ConfigureOptionInfo {
    const char* name;
    ConfigureTab tab;
    const char* values;  // for the help text
    const char* help;
};
// Every setting, in the order of the help text.
std::span<const ConfigureOptionInfo> ConfigureOptionTable();

struct ConfigureOptions {
    bool json = false;  // show: print JSON
    // Every setting given, by option name without the dashes ("ssid", "reboot-at", ...).
    std::map<std::string, std::string> values;

    bool Has(const char* name) const { return values.count(name) != 0; }
    const std::string* Get(const char* name) const {
        auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    }
};

// One option of show or configure. nullopt: not one of theirs; empty text: taken; other
// text: the error to report. takeValue reads the option's value.
std::optional<std::string> ParseConfigureOption(bool configure, const std::string& arg,
                                                const std::function<bool(std::string&)>& takeValue,
                                                ConfigureOptions& options);

// The forms for one device: a tab none of whose options is given is left out (and sends
// nothing). error: a value the device does not offer (a channel of another country, a
// bandwidth of another radio), or a list setting of the device that its lists do not hold
// and that the options would change without being asked to.
struct ConfigureRequest {
    ConfigurationForms forms;
    std::string error;
};
ConfigureRequest BuildConfigureForms(const ap_info_stu& rec, const ConfigureOptions& options);

}  // namespace fd
