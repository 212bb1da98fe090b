#include "cli/cli_plan.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "actions/configuration_sender.h"
#include "actions/configuration_verify.h"
#include "actions/plan_sender.h"
#include "cli/cli_app.h"
#include "cli/cli_configure.h"
#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "cli/cli_settle.h"
#include "config/labels.h"
#include "presentation/plan_apply.h"
#include "presentation/plan_journal.h"
#include "rules/address_moves.h"
#include "rules/address_rules.h"
#include "rules/configuration_fields.h"
#include "system/local_adapters.h"
#include "wire/address.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string ChangesText(const std::vector<PlanFieldChange>& changes) {
    std::string out;
    for (const auto& c : changes) {
        out += (out.empty() ? "" : "; ") + c.column;
        if (c.from != "(hidden)") out += " " + ForTerminal(c.from) + " -> " + ForTerminal(c.to);
    }
    return out;
}

}  // namespace

// ---- the command line ----

std::optional<std::string> ParsePlanOption(const std::string& arg,
                                           const std::function<bool(std::string&)>& takeValue,
                                           PlanOptions& o) {
    std::string v;
    if (arg == "--json") {
        o.json = true;
    } else if (arg == "--no-secrets") {
        o.noSecrets = true;
    } else if (arg == "--all-or-nothing") {
        o.allOrNothing = true;
    } else if (arg == "--verbose") {
        o.verbose = true;
    } else if (arg == "--watch") {
        o.watch = true;
    } else if (arg == "--filter") {
        if (!takeValue(o.filter)) return "--filter takes a text";
    } else if (arg == "--encoding") {
        if (!takeValue(o.encoding) || o.encoding.empty()) return "--encoding takes a name";
    } else if (arg == "--journal" || arg == "--report") {
        std::string& target = arg == "--journal" ? o.journal : o.report;
        if (!takeValue(target) || target.empty()) return arg + " takes a file name";
    } else if (arg == "--spare-ip") {
        if (!takeValue(o.spareIp) || !IsValidIpAddress(o.spareIp, false))
            return "--spare-ip takes a free address";
    } else if (arg == "--parallel") {
        if (!takeValue(v)) return "--parallel takes 1 to 1024";
        try {
            std::size_t used = 0;
            o.parallel = std::stoi(v, &used);
            if (used != v.size()) throw std::invalid_argument(v);
        } catch (...) {
            o.parallel = 0;
        }
        if (o.parallel < 1 || o.parallel > 1024) return "--parallel takes 1 to 1024";
    } else {
        return std::nullopt;
    }
    return std::string();
}

std::string FinishPlanArguments(const std::vector<std::string>& positional, PlanOptions& o) {
    if (positional.empty())
        return "give what to do: plan export, plan check FILE or plan apply FILE";
    o.action = positional[0];
    if (o.action == "export") {
        if (positional.size() > 1) return "plan export takes no file (it writes to the output)";
        if (!o.file.empty() || !o.journal.empty() || !o.report.empty() || !o.spareIp.empty() ||
            o.allOrNothing)
            return "plan export takes --filter, --no-secrets and --json";
        return {};
    }
    if (o.action != "check" && o.action != "apply")
        return "unknown plan action '" + o.action + "' (export, check or apply)";
    if (positional.size() != 2) return "give one plan file: plan " + o.action + " FILE";
    o.file = positional[1];
    if (o.json || o.noSecrets || !o.filter.empty())
        return "--json, --no-secrets and --filter belong to plan export";
    if (o.action == "check" &&
        (!o.journal.empty() || !o.report.empty() || o.allOrNothing || o.watch))
        return "--journal, --report, --all-or-nothing and --watch belong to plan apply";
    if (o.watch && o.allOrNothing)
        return "--watch applies each device as it comes: no --all-or-nothing";
    return {};
}

std::string PlanHelp() {
    std::string h =
        "Usage: fielddesk-cli plan export [--filter TEXT] [--no-secrets] [--json]\n"
        "       fielddesk-cli plan check FILE [--encoding NAME] [--spare-ip ADDRESS]\n"
        "       fielddesk-cli plan apply FILE [--parallel N] [--journal FILE] [--report FILE]\n"
        "                                [--all-or-nothing] [--spare-ip ADDRESS] [--verbose]\n"
        "                                [--encoding NAME] [--watch]\n"
        "\n"
        "Configures many devices from one plan: a CSV file as spreadsheets save it (UTF-8,\n"
        "comma or semicolon, quoted cells) or JSON, one row per device, keyed by its MAC.\n"
        "A blank cell keeps the device's value. Every row goes through the same checks as\n"
        "the configuration dialog and `configure`.\n"
        "\n"
        "  export   searches and writes the found devices' settings as a plan to the output;\n"
        "           a file written with keys is made readable by its owner only\n"
        "  check    finds the plan's devices and says for each row: unchanged, will change\n"
        "           (each setting: current -> new), refused (line, column and why), not\n"
        "           found or wrong model. Nothing is sent\n"
        "  apply    checks, then sends the rows that can go to many devices at once, each\n"
        "           in the dialog's order with the address last, orders address changes so\n"
        "           that no device takes an address another still holds, waits for all\n"
        "           devices together, and reads every device back: verified, not applied\n"
        "           (setting, sent and reported), or no answer\n"
        "\n"
        "Columns (the header line names them; any order, any subset; mac is required):\n"
        "  ";
    std::size_t width = 2;
    bool first = true;
    for (const char* c : PlanColumns()) {
        const std::string word = std::string(first ? "" : ", ") + c;
        if (width + word.size() > 78) {
            h += ",\n  ";
            width = 2;
            h += c;
            width += std::string(c).size();
        } else {
            h += word;
            width += word.size();
        }
        first = false;
    }
    h += "\n"
         "  model guards a row against another model; the others take the values of the\n"
         "  configure options of the same name (see fielddesk-cli configure --help).\n"
         "\n"
         "Options:\n"
         "  --seconds N           the longest search for the devices, 1..3600 (default 30)\n"
         "  --filter TEXT         export: only devices showing TEXT in a column\n"
         "  --no-secrets          export: leave the key column out\n"
         "  --json                export: write JSON instead of CSV\n"
         "  --encoding NAME       the plan's encoding when it is not UTF-8 (e.g. GB18030)\n"
         "  --spare-ip ADDRESS    a free address through which devices swapping their\n"
         "                        addresses move; without it such a plan is refused\n"
         "  --parallel N          devices with commands in flight at once, 1..1024\n"
         "                        (default 256); a device restarting after a VLAN change\n"
         "                        holds its place until it answers again\n"
         "  --journal FILE        record each device's progress; running the same command\n"
         "                        again resumes: verified devices are skipped, devices\n"
         "                        left part-way are read back first\n"
         "  --report FILE         one row per device: result, settings changed, settings\n"
         "                        differing, seconds (JSON when FILE ends in .json)\n"
         "  --all-or-nothing      send nothing when any row is refused or not found\n"
         "  --verbose             a line for each device as it is sent and answered\n"
         "  --watch               the staging bench: keep searching; each device of the plan\n"
         "                        that appears is checked, applied and read back at once\n"
         "                        (a line and the terminal bell when it is done), a device\n"
         "                        not in the plan is named once; ends when every row is\n"
         "                        done, or on Ctrl-C with the journal written\n"
         "\n"
         "Keys never appear in the journal, the report or on the terminal.\n"
         "\n"
         "Exit codes:\n"
         "  0    check: every row can be applied; apply: every device verified or\n"
         "       unchanged; export: written\n"
         "  1    apply: a device failed, was not applied, did not answer or was not found\n"
         "  2    bad command line, a plan that cannot be read, or (check) a row that\n"
         "       cannot be applied; apply --all-or-nothing: the plan refused\n"
         "  3    cannot run (see fielddesk-cli --help)\n"
         "  130  interrupted (Ctrl-C); the journal holds what was done\n";
    return h;
}

// ---- running ----

namespace {

int RunExport(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    SettleWatch settle(3, [&] { return s.Engine().GetPeers().size() + StoredCount(s.Store()); });
    if (!Search(
            s, o.seconds, [&] { return settle.Settled(Clock::now()); }, err))
        return kExitInterrupted;
    const auto rows = ListEveryDevice(s.Store(), ListColumns(), 1, true, o.plan.filter).rows;
    std::vector<PlanRow> plan;
    for (const DeviceRow& r : rows) {
        ap_info_stu rec{};
        if (r.discoveredOnly || !s.Store().QueryApByMac(r.mac, rec)) continue;
        plan.push_back(PlanRowOf(rec, !o.plan.noSecrets));
    }
    const bool keys = std::any_of(plan.begin(), plan.end(), [](auto& r) { return r.HasKeys(); });
    struct stat st {};
    if (keys && fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        fchmod(STDOUT_FILENO, 0600);  // the keys are the owner's alone
    out << (o.plan.json ? WritePlanJson(plan, !o.plan.noSecrets)
                        : WritePlanCsv(plan, !o.plan.noSecrets));
    out.flush();
    err << "fielddesk-cli: " << plan.size() << " device" << (plan.size() == 1 ? "" : "s")
        << " written" << (keys ? " with their keys" : "") << "\n";
    return kExitOk;
}

// The plan read, converted and checked for its own sake.
bool LoadPlan(const PlanOptions& o, PlanFile& plan, std::ostream& err) {
    std::ifstream in(o.file, std::ios::binary);
    if (!in) {
        err << "fielddesk-cli: cannot read the plan " << o.file << "\n";
        return false;
    }
    std::string bytes(kPlanMaxBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (!o.encoding.empty() && bytes.size() <= kPlanMaxBytes) {
        std::string error;
        bytes = ConvertToUtf8(bytes, o.encoding, error);
        if (!error.empty()) {
            err << "fielddesk-cli: " << o.file << ": " << error << "\nNothing was sent.\n";
            return false;
        }
    }
    plan = ReadPlan(bytes);
    if (!plan.refused.empty()) {
        err << "fielddesk-cli: " << o.file << ": " << ForTerminal(plan.refused)
            << "\nNothing was sent.\n";
        return false;
    }
    struct stat st {};
    if (plan.HasKeys() && stat(o.file.c_str(), &st) == 0 && (st.st_mode & 077))
        err << "fielddesk-cli: warning: " << o.file
            << " holds keys and can be read by other users (chmod 600 " << o.file << ")\n";
    return true;
}

struct Entry : PlanEvaluation {
    Clock::time_point started{};
    double seconds = 0;
    bool doneBefore = false;  // verified by an earlier run of the same journal
};

std::string IpOf(const Entry& e) {
    return e.ip.empty() ? "-" : e.ip;
}

void PrintProblems(const PlanFile& plan, std::ostream& out) {
    for (const PlanProblem& p : plan.problems)
        out << (p.mac.empty() ? "-" : p.mac) << "  -  refused: " << ForTerminal(PlanProblemText(p))
            << "\n";
}

// The rows checked (see EvaluatePlanRows).
void EvaluateRows(Session& s, const Options& o, const std::vector<Entry*>& entries,
                  AddressMoveOrder& order) {
    order = EvaluatePlanRows(s.Store(), {entries.begin(), entries.end()}, o.plan.spareIp);
}

// Searches until every row's device is stored (or the time is up); false when interrupted.
bool FindPlanDevices(Session& s, const Options& o, const std::vector<Entry>& entries,
                     std::ostream& err) {
    auto allFound = [&] {
        for (const Entry& e : entries)
            if (s.Store().GetApStatus(e.row->mac) == 0) return false;
        return true;
    };
    return entries.empty() || Search(s, o.seconds, allFound, err);
}

std::vector<Entry> EntriesOf(const PlanFile& plan) {
    std::vector<Entry> entries;
    for (const PlanRow& r : plan.rows) {
        Entry e;
        e.row = &r;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<Entry*> Pointers(std::vector<Entry>& entries) {
    std::vector<Entry*> out;
    for (Entry& e : entries) out.push_back(&e);
    return out;
}

void PrintCheck(const Entry& e, std::ostream& out) {
    out << e.row->mac << "  " << IpOf(e) << "  ";
    switch (e.state) {
        case PlanState::Unchanged:
            out << "unchanged\n";
            break;
        case PlanState::Sending:
            out << "will change: " << ChangesText(e.check.changes) << "\n";
            break;
        default:
            out << PlanStateWord(e.state) << ": " << ForTerminal(e.detail) << "\n";
    }
}

struct Counts {
    int unchanged = 0, change = 0, bad = 0;
};
Counts CountOf(const std::vector<Entry>& entries, const PlanFile& plan) {
    Counts c;
    c.bad = static_cast<int>(plan.problems.size());
    for (const Entry& e : entries) {
        if (e.state == PlanState::Unchanged)
            ++c.unchanged;
        else if (e.state == PlanState::Sending)
            ++c.change;
        else
            ++c.bad;
    }
    return c;
}

int RunCheck(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    PlanFile plan;
    if (!LoadPlan(o.plan, plan, err)) return kExitUsage;
    std::vector<Entry> entries = EntriesOf(plan);
    if (!FindPlanDevices(s, o, entries, err)) return kExitInterrupted;
    AddressMoveOrder order;
    EvaluateRows(s, o, Pointers(entries), order);
    PrintProblems(plan, out);
    for (const Entry& e : entries) PrintCheck(e, out);
    const Counts c = CountOf(entries, plan);
    err << "fielddesk-cli: " << (entries.size() + plan.problems.size()) << " rows: " << c.unchanged
        << " unchanged, " << c.change << " will change, " << c.bad << " cannot be applied\n";
    if (!order.error.empty()) {
        err << "fielddesk-cli: " << order.error << "\n";
        return kExitUsage;
    }
    return c.bad == 0 ? kExitOk : kExitUsage;
}

class Progress {
public:
    Progress(std::ostream& err, int total) : m_err(err), m_total(total) {
        m_live = isatty(STDERR_FILENO);
        m_start = Clock::now();
    }
    void SetTotal(int total) { m_total = total; }
    int sent = 0, verified = 0, failed = 0;
    void Show(const char* phase) {
        if (!m_live) return;
        const auto now = Clock::now();
        if (now - m_shown < std::chrono::milliseconds(250)) return;
        m_shown = now;
        const int done = verified + failed;
        std::string left;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const int progressed = std::max(sent, done);
        if (progressed > 0 && progressed < m_total) {
            const double rest = elapsed / progressed * (m_total - progressed);
            left = ", about " + std::to_string(static_cast<int>(rest) + 1) + " s left";
        }
        m_err << "\r" << phase << ": " << sent << " sent, " << verified << " verified, " << failed
              << " failed, " << (m_total - done) << " remaining" << left << "      " << std::flush;
        m_drawn = true;
    }
    void Clear() {
        if (m_drawn) m_err << "\r" << std::string(78, ' ') << "\r" << std::flush;
        m_drawn = false;
    }

private:
    std::ostream& m_err;
    int m_total;
    bool m_live = false, m_drawn = false;
    Clock::time_point m_start, m_shown{};
};

struct BatchTimes {
    bool interrupted = false;
    double sending = 0, readBack = 0;
    int peak = 0;
};

// Sends the batch's rows (state Sending), then reads every device back: its row in the store
// is deleted so that only a report made after the change counts, and the search runs until
// each one shows its row or the longest wait and a search after it are over. Each finished
// device gets its line (and the terminal bell when bell is set).
BatchTimes ApplyBatch(Session& s, const Options& o, const std::vector<Entry*>& batch,
                      const AddressMoveOrder& order, PlanJournal& journal, Progress& progress,
                      bool bell, std::ostream& out, std::ostream& err) {
    BatchTimes times;
    std::map<std::string, Entry*> byMac;
    std::vector<PlanDeviceSend> sends;
    for (Entry* e : batch) {
        if (e->state != PlanState::Sending) continue;
        byMac[e->row->mac] = e;
        sends.push_back({e->row->mac, e->ip, e->check.pending});
    }
    if (sends.empty()) return times;
    auto line = [&](const Entry& e, const std::string& text) {
        progress.Clear();
        out << e.row->mac << "  " << IpOf(e) << "  " << text << (bell ? "\a" : "") << "\n"
            << std::flush;
    };

    std::set<std::string> answered;  // counted once, also a device that moves twice
    PlanSendOptions so;
    so.parallel = o.plan.parallel;
    so.answerDeadline = s.Retransmission().AnswerDeadline();
    so.interrupted = [] { return g_interrupted != 0; };
    so.commandLabel = [](int command) { return std::string(ConfigurationCommandLabel(command)); };
    so.onEvent = [&](const PlanSendEvent& ev) {
        Entry& e = *byMac[ev.mac];
        if (ev.state == PlanSendState::Sending && e.started == Clock::time_point{}) {
            e.started = Clock::now();
            journal.Write(ev.mac, PlanState::Sending, PlanChangedColumns(e.check.changes));
            if (o.plan.verbose) line(e, "sending: " + PlanChangedColumns(e.check.changes));
        } else if (ev.state == PlanSendState::Sent) {
            if (answered.insert(ev.mac).second) ++progress.sent;
            e.ip = ev.detail;
            if (o.plan.verbose) line(e, "answered");
        }
        progress.Show("sending");
    };
    const auto sendStart = Clock::now();
    const PlanSendResult sent = SendPlan(s.Engine(), s.Commands(), sends, order, so);
    times.sending = std::chrono::duration<double>(Clock::now() - sendStart).count();
    times.peak = sent.peakInFlight;

    std::set<std::string> pending;
    std::map<std::string, std::string> unanswered;  // mac -> the address command's failure
    ConfigurationWait longest;
    for (const PlanDeviceSend& d : sends) {
        Entry& e = *byMac[d.mac];
        const auto it = sent.devices.find(d.mac);
        if (it == sent.devices.end()) continue;  // not reached before an interruption
        const std::string addressUnanswered =
            std::string(ConfigurationCommandLabel(CMD_SET_IP)) + ": no answer";
        if (!it->second.ok && it->second.detail == addressUnanswered) {
            // Its answer may be what was lost: the read-back tells whether it moved.
            unanswered[d.mac] = it->second.detail;
            pending.insert(d.mac);
            longest.seconds = std::max(longest.seconds, ChooseConfigurationWait(d.pending).seconds);
            continue;
        }
        if (!it->second.ok) {
            e.state = PlanState::Failed;
            e.detail = it->second.detail;
            e.seconds = std::chrono::duration<double>(Clock::now() - e.started).count();
            ++progress.failed;
            journal.Write(d.mac, e.state, e.detail);
            line(e, "failed: " + ForTerminal(e.detail));
            continue;
        }
        e.state = PlanState::Sent;
        journal.Write(d.mac, PlanState::Sent, {});
        pending.insert(d.mac);
        longest.seconds = std::max(longest.seconds, ChooseConfigurationWait(d.pending).seconds);
    }
    if (sent.interrupted || g_interrupted) {
        times.interrupted = true;
        return times;
    }

    for (const auto& mac : pending) s.Store().DeleteApByMac(mac);
    auto lastLook = Clock::now() - std::chrono::seconds(1);
    auto look = [&] {
        if (Clock::now() - lastLook < std::chrono::milliseconds(500)) return pending.empty();
        lastLook = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            Entry& e = *byMac[*it];
            ap_info_stu rec{};
            if (!s.Store().QueryApByMac(*it, rec)) {
                ++it;
                continue;
            }
            e.ip = IpToText(rec.ip);
            // Every field sent, compared with what the device reports now.
            const VerifyResult result = CompareReport(ExpectedRecord(e.rec, e.check.pending), rec,
                                                      SentGroups(e.check.pending), e.ip);
            if (result.outcome == VerifyOutcome::Verified) {
                e.state = PlanState::Verified;
                e.seconds = std::chrono::duration<double>(Clock::now() - e.started).count();
                ++progress.verified;
                journal.Write(*it, PlanState::Verified, {});
                line(e, "verified: " + PlanChangedColumns(e.check.changes));
                it = pending.erase(it);
            } else {
                e.state = PlanState::NotApplied;
                e.detail = ForTerminal(PlanDifferingText(PlanChangesOf(result.differences)));
                ++it;
            }
        }
        progress.Show("verifying");
        return pending.empty();
    };
    const int verifySeconds = std::min(3600, longest.seconds + std::max(15, o.seconds));
    const auto verifyStart = Clock::now();
    if (!pending.empty() && !Search(s, verifySeconds, look, err)) {
        times.interrupted = true;
        return times;
    }
    lastLook = Clock::now() - std::chrono::seconds(1);
    look();
    for (const auto& mac : pending) {
        Entry& e = *byMac[mac];
        if (const auto u = unanswered.find(mac); u != unanswered.end()) {
            e.state = PlanState::Failed;
            e.detail = u->second;
        } else if (e.state != PlanState::NotApplied) {
            e.state = PlanState::NoAnswer;
            e.detail = "not found again within " + std::to_string(verifySeconds) + " s";
        }
        ++progress.failed;
        e.seconds = std::chrono::duration<double>(Clock::now() - e.started).count();
        journal.Write(mac, e.state, e.detail);
        line(e, std::string(PlanStateWord(e.state)) + ": " + ForTerminal(e.detail));
    }
    times.readBack = std::chrono::duration<double>(Clock::now() - verifyStart).count();
    progress.Clear();
    return times;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The report file and the closing line; the exit code.
int Finish(const Options& o, const PlanFile& plan, const std::vector<Entry>& entries,
           const BatchTimes& times, double wall, std::ostream& err) {
    int good = 0, bad = 0, verified = 0, unchanged = 0, before = 0;
    std::vector<PlanReportRow> report;
    for (const PlanProblem& p : plan.problems) {
        ++bad;
        report.push_back({p.mac, p.line, "", PlanState::Refused, "", PlanProblemText(p), 0});
    }
    for (const Entry& e : entries) {
        const bool ok = e.state == PlanState::Verified || e.state == PlanState::Unchanged;
        (ok ? good : bad)++;
        verified += e.state == PlanState::Verified && !e.doneBefore;
        before += e.doneBefore;
        unchanged += e.state == PlanState::Unchanged;
        report.push_back({e.row->mac, e.row->line, e.ip, e.state, PlanChangedColumns(e.check.changes),
                          ok ? "" : e.detail, e.seconds});
    }
    if (!o.plan.report.empty()) {
        const bool json = o.plan.report.size() > 5 &&
                          o.plan.report.compare(o.plan.report.size() - 5, 5, ".json") == 0;
        std::ofstream file(o.plan.report, std::ios::binary | std::ios::trunc);
        file << FormatPlanReport(report, json);
        if (!file) err << "fielddesk-cli: cannot write the report " << o.plan.report << "\n";
    }
    char timing[240];
    std::snprintf(timing, sizeof timing,
                  "sending %.1f s (at most %d commands in flight), reading back %.1f s, "
                  "%.1f s in all; CPU %.2f s",
                  times.sending, times.peak, times.readBack, wall, CpuSeconds());
    err << "fielddesk-cli: " << (good + bad) << " rows: " << verified << " verified, " << unchanged
        << " unchanged, " << before << " verified before, " << bad << " not done; " << timing
        << "\n";
    return bad == 0 ? kExitOk : kExitDeviceFailed;
}

// The journal opened, and the states of an earlier run read from it.
bool OpenJournal(const Options& o, PlanJournal& journal, std::map<std::string, PlanState>& earlier,
                 std::ostream& err) {
    if (o.plan.journal.empty()) return true;
    earlier = ReadPlanJournal(o.plan.journal);
    std::string error;
    if (journal.Open(o.plan.journal, error)) return true;
    err << "fielddesk-cli: " << error << "\nNothing was sent.\n";
    return false;
}

// What an earlier run of the journal did: verified devices are left alone; a device it left
// part-way was read back by the check, and one that holds its row now is verified.
void Resume(Entry& e, const std::map<std::string, PlanState>& earlier, int& resumed,
            int& readBack) {
    const auto was = earlier.find(e.row->mac);
    if (was == earlier.end()) return;
    if (IsPlanStateFinal(was->second) && e.state == PlanState::Sending) {
        e.state = PlanState::Verified;
        e.detail = "verified by an earlier run";
        e.doneBefore = true;
        ++resumed;
    } else if (was->second == PlanState::Sending || was->second == PlanState::Sent) {
        ++readBack;
        if (e.state == PlanState::Unchanged) {
            e.state = PlanState::Verified;
            e.detail = "read back: the earlier run had applied it";
        }
    }
}

int RunApply(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    const auto start = Clock::now();
    PlanFile plan;
    if (!LoadPlan(o.plan, plan, err)) return kExitUsage;
    PlanJournal journal;
    std::map<std::string, PlanState> earlier;
    if (!OpenJournal(o, journal, earlier, err)) return kExitEnvironment;
    std::vector<Entry> entries = EntriesOf(plan);
    if (!FindPlanDevices(s, o, entries, err)) return kExitInterrupted;
    AddressMoveOrder order;
    EvaluateRows(s, o, Pointers(entries), order);
    PrintProblems(plan, out);
    const Counts counts = CountOf(entries, plan);
    if (!order.error.empty()) {
        err << "fielddesk-cli: " << order.error << "\nNothing was sent.\n";
        return kExitUsage;
    }
    if (o.plan.allOrNothing && counts.bad > 0) {
        for (const Entry& e : entries)
            if (e.state != PlanState::Unchanged && e.state != PlanState::Sending)
                PrintCheck(e, out);
        err << "fielddesk-cli: " << counts.bad
            << " rows cannot be applied; with --all-or-nothing nothing was sent\n";
        return kExitUsage;
    }
    int resumed = 0, readBack = 0;
    for (Entry& e : entries) Resume(e, earlier, resumed, readBack);
    if (!earlier.empty())
        err << "fielddesk-cli: resuming from " << o.plan.journal << ": " << resumed
            << " device(s) verified before are left alone, " << readBack
            << " left part-way were read back and checked again\n";
    for (Entry& e : entries) {
        if (e.state == PlanState::Sending) continue;
        if (!e.doneBefore) journal.Write(e.row->mac, e.state, e.detail);
        if (e.state != PlanState::Unchanged) PrintCheck(e, out);
    }
    Progress progress(err, counts.change - resumed);
    const BatchTimes times =
        ApplyBatch(s, o, Pointers(entries), order, journal, progress, false, out, err);
    if (times.interrupted) {
        progress.Clear();
        err << "fielddesk-cli: interrupted; run the same command again to resume"
            << (o.plan.journal.empty() ? " (with --journal FILE next time)" : "") << "\n";
        return kExitInterrupted;
    }
    return Finish(o, plan, entries, times,
                  std::chrono::duration<double>(Clock::now() - start).count(), err);
}

// The staging bench: searches on and on; each device of the plan that appears is checked,
// applied and read back at once, a device not in the plan is named once, and the run ends
// when every row is done.
int RunWatch(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    const auto start = Clock::now();
    PlanFile plan;
    if (!LoadPlan(o.plan, plan, err)) return kExitUsage;
    PrintProblems(plan, out);
    PlanJournal journal;
    std::map<std::string, PlanState> earlier;
    if (!OpenJournal(o, journal, earlier, err)) return kExitEnvironment;
    std::vector<Entry> entries = EntriesOf(plan);
    std::map<std::string, Entry*> byMac;
    std::set<std::string> waiting, named;
    for (Entry& e : entries) {
        byMac[e.row->mac] = &e;
        const auto was = earlier.find(e.row->mac);
        if (was != earlier.end() && IsPlanStateFinal(was->second)) {
            e.state = PlanState::Verified;
            e.detail = "verified by an earlier run";
            e.doneBefore = true;
        } else {
            waiting.insert(e.row->mac);
        }
    }
    err << "fielddesk-cli: waiting for " << waiting.size() << " device(s) of the plan"
        << (entries.size() > waiting.size() ? " (the others were verified before)" : "")
        << "; plug them in one by one, Ctrl-C ends\n";
    Progress progress(err, static_cast<int>(waiting.size()));
    BatchTimes total;
    while (!waiting.empty() && !g_interrupted) {
        // Search until one of the awaited devices or a stranger shows up.
        std::vector<Entry*> arrived;
        auto look = [&] {
            std::vector<std::string> macs;
            s.Store().QueryApMacList(macs);
            for (const auto& mac : macs) {
                if (waiting.count(mac)) {
                    if (std::none_of(arrived.begin(), arrived.end(),
                                     [&](Entry* e) { return e->row->mac == mac; }))
                        arrived.push_back(byMac[mac]);
                } else if (!byMac.count(mac) && named.insert(mac).second) {
                    ap_info_stu rec{};
                    s.Store().QueryApByMac(mac, rec);
                    progress.Clear();
                    out << mac << "  " << IpToText(rec.ip) << "  not in the plan\n" << std::flush;
                }
            }
            return !arrived.empty();
        };
        if (!Search(s, 3600, look, err)) break;
        if (arrived.empty()) continue;
        AddressMoveOrder order;
        EvaluateRows(s, o, arrived, order);
        if (!order.error.empty()) {
            for (Entry* e : arrived) {
                e->state = PlanState::Refused;
                e->detail = order.error;
            }
        }
        for (Entry* e : arrived) {
            int resumed = 0, readBack = 0;  // not shown: each device gets its own line
            Resume(*e, earlier, resumed, readBack);
            if (e->state == PlanState::Sending) continue;
            waiting.erase(e->row->mac);
            journal.Write(e->row->mac, e->state, e->detail);
            if (e->state == PlanState::Verified || e->state == PlanState::Unchanged)
                ++progress.verified;
            else
                ++progress.failed;
            PrintCheck(*e, out);
            out << "\a" << std::flush;
        }
        const BatchTimes times =
            ApplyBatch(s, o, arrived, order, journal, progress, true, out, err);
        total.sending += times.sending;
        total.readBack += times.readBack;
        total.peak = std::max(total.peak, times.peak);
        for (Entry* e : arrived) waiting.erase(e->row->mac);
        if (times.interrupted) break;
    }
    progress.Clear();
    if (g_interrupted) {
        err << "fielddesk-cli: interrupted with " << waiting.size()
            << " device(s) of the plan still to come; the same command resumes\n";
        return kExitInterrupted;
    }
    return Finish(o, plan, entries, total,
                  std::chrono::duration<double>(Clock::now() - start).count(), err);
}

}  // namespace

int RunPlan(Session& s, const Options& o, std::ostream& out, std::ostream& err) {
    if (o.plan.action == "export") return RunExport(s, o, out, err);
    if (o.plan.action == "check") return RunCheck(s, o, out, err);
    return o.plan.watch ? RunWatch(s, o, out, err) : RunApply(s, o, out, err);
}

}  // namespace fd::cli
