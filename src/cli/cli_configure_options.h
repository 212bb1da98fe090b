#pragma once
// The options of `fielddesk-cli show` and `fielddesk-cli configure` as given on the command
// line (their meaning for one device is worked out once the device is found).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fd::cli {

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
// The positional arguments: exactly one MAC (normalised into macs). An error text, or empty.
std::string FinishConfigureArguments(bool configure, const std::vector<std::string>& positional,
                                     const ConfigureOptions& options,
                                     std::vector<std::string>& macs);

std::string ShowHelp();
std::string ConfigureHelp();

}  // namespace fd::cli
