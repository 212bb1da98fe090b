#pragma once
// fielddesk-cli scan and bridge: the access points a device hears, and linking a station to
// one of them with the same checks and the same command body as the bridge wizard.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace fd::cli {

class Session;

// Runs scan or bridge in the open session.
int RunBridgeCommand(Session& session, const Options& options, std::ostream& out,
                     std::ostream& err);

// ---- argument parsing, called by ParseArguments ----

// Takes an option of scan or bridge. Returns false when the option is not one of theirs;
// otherwise true, with error set when its value is refused.
bool ParseBridgeOption(Command command, const std::string& option,
                       const std::function<bool(std::string&)>& takeValue, Options& options,
                       std::string& error);
// Checks the positional arguments of scan and bridge; the error, or empty.
std::string CheckBridgeArguments(Options& options, const std::vector<std::string>& positional);
std::string BridgeCommandHelp(Command command);

}  // namespace fd::cli
