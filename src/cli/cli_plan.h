#pragma once
// `fielddesk-cli plan export|check|apply`: many devices configured from one plan file. Each
// row goes through the same forms and collect steps as `configure` (BuildConfigureForms,
// PlanConfiguration); the sending, the address order, the journal and the report are the
// core's.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "presentation/plan_file.h"
#include "rules/device_configuration.h"

namespace fd::cli {

class Session;

// One setting the row changes: its column, the device's value and the row's. Keys show as
// "(hidden)".
struct PlanFieldChange {
    std::string column;
    std::string from;
    std::string to;
};

enum class PlanRowKind { Unchanged, WillChange, Refused, WrongModel };
struct PlanRowCheck {
    PlanRowKind kind = PlanRowKind::Unchanged;
    std::string message;  // Refused, WrongModel: why, with the line and column
    std::vector<PlanFieldChange> changes;
    PendingConfiguration pending;
};

// The row over the device's record: the configure forms and the dialog's collect steps.
// usedIps: the addresses the new address may not take. Verification after an apply runs the
// same check on the record read back: a row that is then Unchanged was applied whole.
PlanRowCheck CheckPlanRow(const ap_info_stu& rec, const PlanRow& row,
                          const std::vector<std::string>& usedIps);

// The device's settings as a plan row (keys left out when withKeys is false).
PlanRow PlanRowOf(const ap_info_stu& rec, bool withKeys);

int RunPlan(Session& s, const Options& o, std::ostream& out, std::ostream& err);

}  // namespace fd::cli
