// fielddesk-cli: search the LAN for devices and act on them from a terminal or a script.

#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_args.h"
#include "cli/cli_completion.h"
#include "fielddesk_version.h"

namespace {

void OnSignal(int) {
    fd::cli::g_interrupted = true;
}

}  // namespace

int main(int argc, char** argv) {
    // From the first instruction, so that a stop asked for at any moment of a run ends it
    // the normal way (the engine stopped, the scratch folder removed, exit status 130).
    // No SA_RESTART: a signal cuts the waits short, and the waits look at the flag.
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> args(argv + 1, argv + argc);
    // For the build: the completion script, made from the help texts.
    if (args.size() == 1 && args[0] == "--bash-completion") {
        std::cout << fd::cli::BashCompletion();
        return fd::cli::kExitOk;
    }
    const fd::cli::ParseResult parsed = fd::cli::ParseArguments(args);
    const fd::cli::Options& o = parsed.options;
    if (!parsed.error.empty()) {
        std::cerr << "fielddesk-cli: " << parsed.error << "\n";
        std::cerr << "Try 'fielddesk-cli "
                  << (o.command == fd::cli::Command::None
                          ? std::string()
                          : std::string(fd::cli::CommandName(o.command)) + " ")
                  << "--help'.\n";
        return fd::cli::kExitUsage;
    }
    if (o.help) {
        std::cout << fd::cli::CommandHelp(o.command);
        return fd::cli::kExitOk;
    }
    if (o.version) {
        std::cout << "fielddesk-cli " << FIELDDESK_VERSION << "\n";
        return fd::cli::kExitOk;
    }

    return fd::cli::RunCommand(o, std::cout, std::cerr);
}
