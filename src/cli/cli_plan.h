#pragma once
// `fielddesk-cli plan export|check|apply`: many devices configured from one plan file. The
// check of each row (presentation/plan_check.h), the sending, the address order, the journal
// and the report are the core's.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "presentation/plan_check.h"

namespace fd::cli {

class Session;

int RunPlan(Session& s, const Options& o, std::ostream& out, std::ostream& err);

}  // namespace fd::cli
