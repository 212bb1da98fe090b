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
