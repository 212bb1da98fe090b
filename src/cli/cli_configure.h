#pragma once
// `fielddesk-cli show MAC` prints a device's whole stored configuration; `fielddesk-cli
// configure MAC [...]` changes it. configure builds the configuration dialog's forms from the
// device's record and the options given, runs the same collect steps, and sends the same
// commands in the same order with the same flags.

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_args.h"
#include "rules/configuration_fields.h"
#include "rules/device_configuration.h"

namespace fd::cli {

class Session;

// The forms for one device: a tab none of whose options is given is left out (and sends
// nothing). error: a value the device does not offer (a channel of another country, a
// bandwidth of another radio), or a list setting of the device that its lists do not hold
// and that the options would change without being asked to.
struct ConfigureRequest {
    ConfigurationForms forms;
    std::string error;
};
ConfigureRequest BuildConfigureForms(const ap_info_stu& rec, const ConfigureOptions& options);

// The device's configuration as (key, value) pairs: DescribeConfiguration
// (rules/configuration_fields.h); the keys are the JSON keys, the values the words configure
// takes.
std::string FormatConfigurationText(const ConfigurationFields& fields);
// A JSON array holding one object.
std::string FormatConfigurationJson(const ConfigurationFields& fields);

// What a configuration command does, for the report ("name", "wireless", ...).
const char* ConfigurationCommandLabel(int command);

int RunShow(Session& s, const Options& o, std::ostream& out, std::ostream& err);
int RunConfigure(Session& s, const Options& o, std::ostream& out, std::ostream& err);

}  // namespace fd::cli
