#include "presentation/plan_apply.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace fd {

namespace {

using Clock = std::chrono::steady_clock;

// Read-backs that run at once: each waits for one device's answer (or its restart).
constexpr std::size_t kReadBackThreads = 32;

}  // namespace

std::string PlanChangedColumns(const std::vector<PlanFieldChange>& changes) {
    std::string out;
    for (const auto& c : changes) out += (out.empty() ? "" : " ") + c.column;
    return out;
}

std::string PlanDifferingText(const std::vector<PlanFieldChange>& changes) {
    std::string out;
    for (const auto& c : changes) {
        out += (out.empty() ? "" : "; ") + c.column;
        if (c.from != "(hidden)") out += " (sent " + c.to + ", device reports " + c.from + ")";
    }
    return out;
}

std::vector<PlanReportRow> ApplyPlan(IDeviceEngine& engine, const CommandLog& log,
                                     const std::vector<PlanEvaluation>& rows,
                                     const AddressMoveOrder& order,
                                     const PlanApplyOptions& options, std::stop_token stop) {
    std::vector<PlanReportRow> report;
    std::map<std::string, std::size_t> byMac;
    std::vector<PlanDeviceSend> sends;
    std::vector<Clock::time_point> started(rows.size());
    for (const PlanEvaluation& e : rows) {
        report.push_back({e.row->mac, e.row->line, e.ip, e.state,
                          PlanChangedColumns(e.check.changes),
                          e.state == PlanState::Unchanged ? "" : e.detail, 0});
        if (e.state != PlanState::Sending) continue;
        byMac[e.row->mac] = report.size() - 1;
        sends.push_back({e.row->mac, e.ip, e.check.pending});
    }
    auto set = [&](std::size_t i, PlanState state, const std::string& detail) {
        report[i].state = state;
        if (state != PlanState::Sending && state != PlanState::Sent) report[i].differing = detail;
        report[i].seconds = std::chrono::duration<double>(Clock::now() - started[i]).count();
        if (options.onState) options.onState(report[i].mac, state, detail);
    };
    if (sends.empty()) return report;

    PlanSendOptions so;
    so.parallel = options.parallel;
    so.answerDeadline = options.readBack.answerDeadline;
    so.interrupted = [&] { return stop.stop_requested(); };
    so.commandLabel = options.commandLabel;
    so.onEvent = [&](const PlanSendEvent& ev) {
        const std::size_t i = byMac.at(ev.mac);
        if (ev.state == PlanSendState::Sending && report[i].state != PlanState::Sending) return;
        if (ev.state == PlanSendState::Sending) {
            if (started[i] == Clock::time_point{}) started[i] = Clock::now();
            set(i, PlanState::Sending, report[i].changed);
        } else if (ev.state == PlanSendState::Sent) {
            report[i].ip = ev.detail;
        }
    };
    // Every device is Sending until its commands are answered.
    for (auto& [mac, i] : byMac) report[i].state = PlanState::Sending;
    const PlanSendResult sent = SendPlan(engine, log, sends, order, so);

    std::vector<std::size_t> toRead;
    for (const PlanDeviceSend& d : sends) {
        const std::size_t i = byMac.at(d.mac);
        const auto it = sent.devices.find(d.mac);
        if (it == sent.devices.end()) continue;  // not reached before the stop
        if (!it->second.ok) {
            set(i, PlanState::Failed, it->second.detail);
            continue;
        }
        set(i, PlanState::Sent, {});
        toRead.push_back(i);
    }
    if (stop.stop_requested()) return report;

    // The read-backs, many at once; the states are reported one at a time.
    std::mutex lock;
    std::size_t next = 0;
    auto readBack = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard<std::mutex> g(lock);
                if (next >= toRead.size() || stop.stop_requested()) return;
                i = toRead[next++];
            }
            const PlanEvaluation& e = rows[i];
            ReadBackOptions ro = options.readBack;
            ro.stop = stop;
            const VerifyResult r = VerifyConfiguration(engine, log, e.rec, e.check.pending, ro);
            std::lock_guard<std::mutex> g(lock);
            report[i].ip = r.ip;
            if (r.outcome == VerifyOutcome::Verified)
                set(i, PlanState::Verified, {});
            else if (r.outcome == VerifyOutcome::NotApplied)
                set(i, PlanState::NotApplied, PlanDifferingText(PlanChangesOf(r.differences)));
            else
                set(i, PlanState::NoAnswer, "no answer at " + r.ip);
        }
    };
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < std::min(kReadBackThreads, toRead.size()); ++t)
        threads.emplace_back(readBack);
    threads.clear();
    return report;
}

std::vector<PlanReportRow> WatchPlan(IDeviceEngine& engine, IDeviceStore& store,
                                     const CommandLog& log, std::vector<PlanEvaluation> waiting,
                                     const PlanApplyOptions& options,
                                     const PlanWatchOptions& watch, std::stop_token stop) {
    std::vector<PlanReportRow> report;
    std::mutex timerLock;
    std::condition_variable_any timer;
    while (!waiting.empty() && !stop.stop_requested()) {
        engine.SendSearch();
        {
            std::unique_lock l(timerLock);
            timer.wait_for(l, stop, watch.searchEvery, [] { return false; });
        }
        if (stop.stop_requested()) break;
        // A device counts once its information is stored: then its record can be checked.
        std::vector<std::string> macs;
        store.QueryApMacList(macs);
        const std::set<std::string> present(macs.begin(), macs.end());
        std::vector<PlanEvaluation> arrived;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (present.count(it->row->mac)) {
                arrived.push_back(*it);
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        if (arrived.empty()) continue;
        std::vector<PlanEvaluation*> entries;
        for (PlanEvaluation& e : arrived) entries.push_back(&e);
        const AddressMoveOrder order = EvaluatePlanRows(store, entries, watch.spareIp);
        for (PlanEvaluation& e : arrived) {
            if (!order.error.empty() && e.state == PlanState::Sending) {
                e.state = PlanState::Refused;
                e.detail = order.error;
            }
            if (watch.onFound) watch.onFound(e);
        }
        const auto rows = ApplyPlan(engine, log, arrived, order, options, stop);
        report.insert(report.end(), rows.begin(), rows.end());
    }
    return report;
}

}  // namespace fd
