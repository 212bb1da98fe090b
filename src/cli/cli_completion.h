#pragma once
// Bash completion for fielddesk-cli, generated from the help texts: the commands the
// general help lists and the options each command's help lists, so that completion never
// offers what --help does not document, nor misses what it does.

#include <string>
#include <vector>

namespace fd::cli {

struct CompletionCommand {
    std::string name;
    std::vector<std::string> options;       // "--seconds", "--json", ...
    std::vector<std::string> valueOptions;  // those among them that take a value
};

std::vector<CompletionCommand> CompletionTable();
std::string BashCompletion();

}  // namespace fd::cli
