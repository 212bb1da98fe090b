#pragma once
// A checked plan applied from one worker: the rows to be sent go out through SendPlan (many
// devices at once, the address moves in their waves), then every device that answered is
// read back at the address it has now and compared with its row. Each change of a device's
// state is reported as it happens, for a list that shows them live.

#include <chrono>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "actions/configuration_verify.h"
#include "actions/plan_sender.h"
#include "presentation/plan_check.h"
#include "presentation/plan_journal.h"

namespace fd {

struct PlanApplyOptions {
    int parallel = 256;
    ReadBackOptions readBack;  // its answerDeadline also bounds each command's wait
    // From the worker thread: a device's new state (Sending, Sent, Verified, NotApplied,
    // Failed, NoAnswer) and its detail (the fields sent, what differs, why it failed).
    std::function<void(const std::string& mac, PlanState state, const std::string& detail)>
        onState;
    // What a configuration command is called in a failure's detail.
    std::function<std::string(int command)> commandLabel;
};

// The columns a row changes, "name ssid channel".
std::string PlanChangedColumns(const std::vector<PlanFieldChange>& changes);
// "channel (sent 6, device reports 1)": what a read-back still differs in; keys hidden.
std::string PlanDifferingText(const std::vector<PlanFieldChange>& changes);

// Applies the rows in state Sending and reads them back; the others are reported as the
// check left them. One report row per row, in the order given. Stopping ends the sending
// and the read-backs early; devices not finished are reported as they were left.
std::vector<PlanReportRow> ApplyPlan(IDeviceEngine& engine, const CommandLog& log,
                                     const std::vector<PlanEvaluation>& rows,
                                     const AddressMoveOrder& order,
                                     const PlanApplyOptions& options, std::stop_token stop);

struct PlanWatchOptions {
    std::chrono::milliseconds searchEvery{3000};
    std::string spareIp;
    // From the worker thread: a device of the plan has appeared, its row checked against its
    // record (state Sending when it is about to be applied).
    std::function<void(const PlanEvaluation&)> onFound;
};

// The staging bench: the rows whose devices were not found wait for them. A search goes out
// every searchEvery; each device of these rows that the store then holds is checked against
// its record and, when its row can go, applied and read back at once. Ends when no row waits
// any more, or on stop. Returns the report rows of the devices that appeared.
std::vector<PlanReportRow> WatchPlan(IDeviceEngine& engine, IDeviceStore& store,
                                     const CommandLog& log, std::vector<PlanEvaluation> waiting,
                                     const PlanApplyOptions& options,
                                     const PlanWatchOptions& watch, std::stop_token stop);

}  // namespace fd
