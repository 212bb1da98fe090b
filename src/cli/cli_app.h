#pragma once
// Running one command of fielddesk-cli: the engine and a private scratch store for the run,
// the search, and the action commands with their wait for the devices' answers.

#include <atomic>
#include <iosfwd>
#include <optional>

#include "cli/cli_args.h"

namespace fd::cli {

// Set by the signal handler; every wait of the tool looks at it.
extern std::atomic<bool> g_interrupted;

// The first of the program's UDP ports (9785..9788) that something in this network
// namespace already holds, if any.
std::optional<int> FindBusyPort();

// Runs the parsed command; the exit code. Lists and results go to `out`, progress and
// messages to `err`.
int RunCommand(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace fd::cli
