#pragma once
// fielddesk-cli doctor: why does a search find nothing? Checks the adapters, the receive
// ports, reverse-path filtering and the firewall, then runs a short search and reports per
// adapter what went out and what came back. Each check ends in a verdict and a fix hint.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace fd::cli {

enum class Verdict { Ok, Problem, Unknown };

struct DoctorCheck {
    std::string name;  // "adapters", "ports", "rp_filter", "firewall", "search", "subnets"
    Verdict verdict = Verdict::Ok;
    std::string message;
    std::string hint;  // how to fix it; empty when nothing to do
};

// Runs the checks; `out` gets the report (text or, with --json, one JSON object). The exit
// code: 0 when nothing is wrong, 1 when a check found a problem.
int RunDoctor(const Options& options, std::ostream& out, std::ostream& err);

std::string FormatDoctorText(const std::vector<DoctorCheck>& checks);
std::string FormatDoctorJson(const std::vector<DoctorCheck>& checks);

}  // namespace fd::cli
