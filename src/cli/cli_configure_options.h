#pragma once
// The options of `fielddesk-cli show` and `fielddesk-cli configure` as given on the command
// line (their meaning for one device is worked out once the device is found). The settings
// and their forms are the core's (rules/configure_request.h), shared with plan files.

#include <string>
#include <vector>

#include "rules/configure_request.h"

namespace fd::cli {

// The positional arguments: exactly one MAC (normalised into macs). An error text, or empty.
std::string FinishConfigureArguments(bool configure, const std::vector<std::string>& positional,
                                     const ConfigureOptions& options,
                                     std::vector<std::string>& macs);

std::string ShowHelp();
std::string ConfigureHelp();

}  // namespace fd::cli
