#pragma once
// A plan's rows checked against the devices before anything is sent: each row goes through
// the same forms and collect steps as the configuration dialog and `fielddesk-cli
// configure` (BuildConfigureForms, PlanConfiguration); then the rows as a whole (two rows
// with one address, an address of this PC, the spare address taken) and the order of their
// address moves. The CLI's plan commands and the desktop program's Apply plan both use it.

#include <string>
#include <vector>

#include "actions/plan_sender.h"
#include "model/device_store.h"
#include "presentation/plan_file.h"
#include "presentation/plan_journal.h"
#include "rules/address_moves.h"
#include "rules/configuration_fields.h"
#include "rules/device_configuration.h"

namespace fd {

// One setting the row changes: its column, the device's value and the row's. Keys show as
// "(hidden)".
struct PlanFieldChange {
    std::string column;
    std::string from;
    std::string to;
};

// What the one "changed" test finds between a device and its pending configuration (or a
// read-back and what was sent), as columns; keys hidden.
std::vector<PlanFieldChange> PlanChangesOf(const std::vector<FieldDifference>& differences);

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

// One row of a plan and what the check found for its device.
struct PlanEvaluation {
    const PlanRow* row = nullptr;
    bool found = false;
    ap_info_stu rec{};
    PlanRowCheck check;
    // Unchanged, Sending (to be sent), Refused, NotFound or WrongModel.
    PlanState state = PlanState::Refused;
    std::string detail;
    std::string ip;  // where the device is now
};

// Reads the devices' records from the store and checks their rows, then the rows as a whole:
// two rows with one address, an address this PC holds, the spare taken; and orders the
// address moves of the rows to be sent (its error: a cycle without a spare, the spare held).
AddressMoveOrder EvaluatePlanRows(IDeviceStore& store, const std::vector<PlanEvaluation*>& entries,
                                  const std::string& spareIp);

}  // namespace fd
