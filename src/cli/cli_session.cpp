#include "cli/cli_session.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <thread>

#include "actions/answer_wait.h"
#include "actions/configuration_verify.h"
#include "actions/engine_search_adapter.h"
#include "actions/search_session.h"
#include "cli/cli_app.h"
#include "cli/cli_output.h"
#include "cli/cli_settle.h"
#include "config/labels.h"
#include "config/language.h"
#include "system/local_adapters.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 50ms;
// After a request leaves the pending list, how long an answer may still be on its way
// through the engine's worker before the request counts as unanswered.

}  // namespace

std::size_t StoredCount(CSqlManagement& store) {
    std::vector<std::string> macs;
    store.QueryApMacList(macs);
    return macs.size();
}

Session::~Session() {
    if (m_engine) m_engine->Stop();
    m_engine.reset();
    m_store.reset();  // deletes its file
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

int Session::Open(std::ostream& err) {
    if (auto port = FindBusyPort()) {
        err << "fielddesk-cli: another FieldDesk is running, or port " << *port << " is in use\n";
        return kExitEnvironment;
    }
    const std::string base = GetExecutableDirectory();
    InitLanguage(base);
    m_settings = LoadSettings(base);
    m_retransmission = RetransmissionOf(m_settings);

    // A store of our own for this run, so that a FieldDesk window elsewhere keeps its
    // database.
    std::string parent = RuntimeDirectory();
    if (parent.empty()) parent = "/tmp";
    std::string templ = parent + "/fielddesk-cli-XXXXXX";
    if (!mkdtemp(templ.data())) {
        err << "fielddesk-cli: cannot make a scratch folder in " << parent << "\n";
        return kExitEnvironment;
    }
    m_dir = templ;
    std::string storeMessage;
    m_store = std::make_unique<CSqlManagement>(
        m_dir + "/data.mdb", [&storeMessage](const std::string& t) { storeMessage = t; });
    if (!m_store->IsOpen()) {
        err << "fielddesk-cli: "
            << (storeMessage.empty() ? "cannot open the database" : storeMessage) << "\n";
        return kExitEnvironment;
    }

    DeviceProtocolOptions o;
    o.store = m_store.get();
    o.commands = &m_commands;
    m_engine = std::make_unique<CDeviceProtocol>(o);
    if (!m_engine->Start(m_retransmission.max, m_retransmission.intervalMs)) {
        err << "fielddesk-cli: cannot start the protocol engine (UDP ports 9785-9788)\n";
        return kExitEnvironment;
    }
    const auto adapters = ListLocalAdapters();
    for (const auto& a : adapters)
        if (a.unplugged)
            err << "fielddesk-cli: warning: " << AdapterNameOf(a)
                << ": cable unplugged or no link; not searched on\n";
    if (std::none_of(adapters.begin(), adapters.end(), [](const auto& a) { return a.up == 1; }))
        err << "fielddesk-cli: warning: no network adapter with an IPv4 address is up\n";
    m_usableAdapter = std::any_of(adapters.begin(), adapters.end(),
                                  [](const auto& a) { return a.up == 1 && !a.unplugged; });
    return kExitOk;
}

bool Search(Session& s, int seconds, const std::function<bool()>& enough, std::ostream& err) {
    const bool live = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    EngineSearchAdapter adapter(s.Engine());
    SearchSession search(adapter, seconds);
    search.Start();
    const auto start = Clock::now();
    auto lastShown = start - 1s;
    bool shown = false;
    while (search.IsRunning()) {
        const auto nextTick = start + std::chrono::seconds(search.Ticks() + 1);
        while (Clock::now() < nextTick && search.IsRunning()) {
            if (g_interrupted || (enough && enough())) search.Stop();
            if (live && Clock::now() - lastShown >= 500ms) {
                lastShown = Clock::now();
                const auto found = StoredCount(s.Store());
                const auto discovered = s.Engine().GetPeers().size();
                err << "\rSearching... " << (seconds - search.Ticks()) << " s left, " << found
                    << " device" << (found == 1 ? "" : "s") << " found (" << discovered
                    << " answered)   " << std::flush;
                shown = true;
            }
            std::this_thread::sleep_for(kPoll);
        }
        if (search.IsRunning()) search.Tick();
    }
    if (shown) err << "\r" << std::string(60, ' ') << "\r" << std::flush;
    return !g_interrupted;
}

int FindDevices(Session& s, const std::vector<std::string>& macs, int seconds,
                std::vector<ap_info_stu>& recs, std::ostream& out, std::ostream& err,
                int settleSeconds) {
    SettleWatch settle(settleSeconds, [&s] { return s.Engine().GetPeers().size(); });
    auto enough = [&] {
        for (const auto& mac : macs)
            if (s.Store().GetApStatus(mac) == 0) return false;  // 0: no row
        return settleSeconds <= 0 || settle.Settled(Clock::now());
    };
    if (!Search(s, seconds, enough, err)) return kExitInterrupted;

    std::vector<std::string> missing;
    for (const auto& mac : macs) {
        ap_info_stu rec{};
        if (s.Store().QueryApByMac(mac, rec))
            recs.push_back(rec);
        else
            missing.push_back(mac);
    }
    if (!missing.empty()) {
        for (const auto& mac : missing) out << mac << "  -  not found by the search\n";
        err << "fielddesk-cli: nothing was sent: " << missing.size() << " of " << macs.size()
            << " device" << (macs.size() == 1 ? "" : "s") << " not found within " << seconds
            << " s\n";
        return kExitDeviceFailed;
    }
    return kExitOk;
}

void Report(std::ostream& out, const Job& j) {
    out << j.mac << "  " << (j.ip.empty() ? "-" : j.ip) << "  "
        << (j.label.empty() ? std::string() : j.label + ": ") << j.outcome << "\n"
        << std::flush;
}

void WaitForAnswers(Session& s, std::vector<Job>& jobs, uint64_t sentAfter, std::ostream& out) {
    // The commands were all sent before the wait: each one's answer (or the end of its
    // resends) is on record by the time the wait for the one before it ends.
    const auto deadline = Clock::now() + s.Retransmission().AnswerDeadline();
    for (Job& j : jobs) {
        if (j.finished) continue;
        const Answer a = AwaitAnswer(s.Commands(), j.mac, j.command, sentAfter, deadline,
                                     [] { return g_interrupted != 0; });
        j.finished = true;
        const bool isStatusCommand = j.command == CMD_REBOOT || j.command == CMD_RESET;
        // A VLAN change is answered with a result too: 0 when the device takes it.
        const bool hasResult = isStatusCommand || j.command == CMD_SET_VLAN;
        switch (a.outcome) {
            case AnswerOutcome::Acknowledged:
            case AnswerOutcome::Refused:
                if (hasResult && a.result != 0) {
                    j.outcome = "refused (result " + std::to_string(a.result) + ")";
                } else {
                    j.ok = true;
                    j.outcome = isStatusCommand ? GetStatusLabel(s.Store().GetApStatus(j.mac))
                                : j.command == CMD_SET_IP ? "acknowledged, now " + j.newIp
                                                          : "acknowledged";
                }
                break;
            case AnswerOutcome::Interrupted:
                j.outcome = "interrupted";
                break;
            case AnswerOutcome::NotSent:
                j.outcome = "cannot be sent: no adapter of this PC in the device's subnet";
                break;
            case AnswerOutcome::NoAnswer:
                j.outcome = "no answer";
                break;
        }
        Report(out, j);
    }
}

ReadBackOptions ReadBackOptionsOf(Session& s) {
    ReadBackOptions o;
    o.answerDeadline = s.Retransmission().AnswerDeadline();
    o.requestInterval = std::chrono::milliseconds(s.Retransmission().intervalMs);
    o.interrupted = [] { return g_interrupted != 0; };
    return o;
}

bool ReportVerification(std::ostream& out, const std::string& mac, const VerifyResult& r) {
    out << mac << "  " << r.ip << "  " << ForTerminal(VerifyResultText(r)) << "\n" << std::flush;
    return r.outcome == VerifyOutcome::Verified;
}

bool VerifyAndReport(Session& s, const std::string& mac, const std::string& ip,
                     const ap_info_stu& expected, const std::vector<SettingGroup>& groups,
                     std::chrono::milliseconds restartWait, uint32_t upTimeBefore,
                     std::ostream& out) {
    ReadBackOptions o = ReadBackOptionsOf(s);
    o.restartWait = restartWait;
    o.upTimeBefore = upTimeBefore;
    return ReportVerification(
        out, mac, VerifyDevice(s.Engine(), s.Commands(), mac, ip, expected, groups, o));
}

}  // namespace fd::cli
