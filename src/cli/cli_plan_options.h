#pragma once
// The options of `fielddesk-cli plan` as given on the command line.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fd::cli {

struct PlanOptions {
    std::string action;  // export, check or apply
    std::string file;    // check, apply: the plan
    bool json = false;   // export: JSON instead of CSV
    bool noSecrets = false;
    std::string filter;    // export: only devices showing this text
    std::string encoding;  // check, apply: the plan's encoding when not UTF-8
    int parallel = 256;
    std::string journal, report;
    bool allOrNothing = false;
    std::string spareIp;
    bool verbose = false;
    bool watch = false;  // apply: configure the plan's devices as they appear
};

// One option of plan. nullopt: not one of its options; empty text: taken; other text: the
// error to report.
std::optional<std::string> ParsePlanOption(const std::string& arg,
                                           const std::function<bool(std::string&)>& takeValue,
                                           PlanOptions& options);
// The positional arguments: the action and, for check and apply, the file.
std::string FinishPlanArguments(const std::vector<std::string>& positional, PlanOptions& options);
std::string PlanHelp();

}  // namespace fd::cli
