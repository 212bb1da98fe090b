#include "actions/configuration_verify.h"

#include <algorithm>

#include "actions/answer_wait.h"
#include <cstring>
#include <thread>

namespace fd {

VerifyResult CompareReport(const ap_info_stu& expected, const std::optional<ap_info_stu>& report,
                           const std::vector<SettingGroup>& groups, std::string ip) {
    VerifyResult r;
    r.ip = std::move(ip);
    if (!report) return r;
    r.differences = DifferingFields(expected, *report, groups);
    r.outcome = r.differences.empty() ? VerifyOutcome::Verified : VerifyOutcome::NotApplied;
    return r;
}

std::string VerifyResultText(const VerifyResult& r) {
    switch (r.outcome) {
        case VerifyOutcome::Verified:
            return "verified";
        case VerifyOutcome::NoAnswer:
            return "no answer at " + r.ip;
        case VerifyOutcome::NotApplied:
            break;
    }
    std::string out = "not applied: ";
    for (std::size_t i = 0; i < r.differences.size(); ++i) {
        const FieldDifference& d = r.differences[i];
        out += (i ? "; " : "") + d.field + " (sent " + d.expected + ", device reports " +
               d.actual + ")";
    }
    return out;
}

namespace {

using Clock = std::chrono::steady_clock;

bool Ended(const ReadBackOptions& o) {
    return o.stop.stop_requested() || (o.interrupted && o.interrupted());
}

// One request and the wait for the report it brings; the wait looks at the interruption a
// few times a second.
std::optional<ap_info_stu> AskOnce(IDeviceEngine& engine, const CommandLog& log,
                                   const std::string& mac, const std::string& ip,
                                   const ReadBackOptions& o) {
    const uint64_t before = log.ReportCount(mac);
    if (!engine.SendToDevice(ip, CMD_DEVICE_INFO, nullptr, 0, mac, true)) return std::nullopt;
    const auto deadline = Clock::now() + o.answerDeadline;
    while (!Ended(o)) {
        const auto until = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
        if (auto report = log.WaitForReport(mac, before, until, o.stop)) return report;
        if (Clock::now() >= deadline) break;
    }
    return std::nullopt;
}

// Waits out one request interval unless ended first.
void Pause(const ReadBackOptions& o) {
    const auto until = Clock::now() + o.requestInterval;
    while (!Ended(o) && Clock::now() < until)
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(),
                                                              std::chrono::milliseconds(100)));
}

}  // namespace

std::optional<ap_info_stu> ReadBackReport(IDeviceEngine& engine, const CommandLog& log,
                                          const std::string& mac, const std::string& ip,
                                          const ReadBackOptions& o) {
    if (o.restartWait.count() <= 0) return AskOnce(engine, log, mac, ip, o);
    // A restarting device may still answer with what it had before it went down, or not
    // answer while it boots: ask again, one resend interval apart, until a report shows
    // the restart or the wait runs out; then the last report counts.
    const auto deadline = Clock::now() + o.restartWait;
    std::optional<ap_info_stu> last;
    while (!Ended(o)) {
        if (auto report = AskOnce(engine, log, mac, ip, o)) {
            if (report->up_time < o.upTimeBefore) return report;
            last = report;
        }
        if (Clock::now() >= deadline) break;
        Pause(o);
    }
    return last;
}

VerifyResult VerifyDevice(IDeviceEngine& engine, const CommandLog& log, const std::string& mac,
                          const std::string& ip, const ap_info_stu& expected,
                          const std::vector<SettingGroup>& groups, const ReadBackOptions& options) {
    return CompareReport(expected, ReadBackReport(engine, log, mac, ip, options), groups, ip);
}

ReadBackOptions ConfigurationReadBackOptions(const ap_info_stu& rec,
                                             const PendingConfiguration& pending,
                                             ReadBackOptions options) {
    if (pending.vlanChanged) {
        if (options.restartWait.count() <= 0)
            options.restartWait = std::chrono::seconds(ChooseConfigurationWait(pending).seconds);
        options.upTimeBefore = rec.up_time;
    } else {
        options.restartWait = {};
    }
    return options;
}

std::string ConfigurationReadBackAddress(const ap_info_stu& rec,
                                         const PendingConfiguration& pending) {
    return pending.ipChanged ? IpToText(pending.ip.ip) : IpToText(rec.ip);
}

VerifyResult VerifyConfiguration(IDeviceEngine& engine, const CommandLog& log,
                                 const ap_info_stu& rec, const PendingConfiguration& pending,
                                 ReadBackOptions options) {
    const std::string mac(rec.mac, strnlen(rec.mac, sizeof rec.mac));
    return VerifyDevice(engine, log, mac, ConfigurationReadBackAddress(rec, pending),
                        ExpectedRecord(rec, pending), SentGroups(pending),
                        ConfigurationReadBackOptions(rec, pending, std::move(options)));
}

Verification VerificationOfResult(const VerifyResult& r) {
    static constexpr VerificationState kStates[] = {
        VerificationState::Verified, VerificationState::NotApplied, VerificationState::NoAnswer};
    static constexpr const char* kSummaries[] = {"verified", "not applied", "no answer"};
    return {kStates[static_cast<int>(r.outcome)], VerifyResultText(r),
            kSummaries[static_cast<int>(r.outcome)]};
}

bool AwaitAndVerify(const ReadBack& rb, IDeviceEngine& engine, const std::string& mac,
                    const std::string& ip, const std::vector<int>& commands, uint64_t sentAfter,
                    const ap_info_stu& expected, const std::vector<SettingGroup>& groups) {
    if (rb.log == nullptr) return false;
    rb.log->SetVerification(mac, {VerificationState::Pending, "verifying", "verifying"});
    const auto deadline = Clock::now() + rb.options.answerDeadline;
    auto ended = [&rb] { return Ended(rb.options); };
    for (int command : commands) {
        const Answer a = AwaitAnswer(*rb.log, mac, command, sentAfter, deadline, ended);
        if (a.outcome == AnswerOutcome::Interrupted) return false;
        if (a.outcome != AnswerOutcome::Acknowledged || a.result != 0) {
            rb.log->SetVerification(mac,
                                    {VerificationState::NoAnswer, "not acknowledged", "no answer"});
            return false;
        }
    }
    const VerifyResult r = VerifyDevice(engine, *rb.log, mac, ip, expected, groups, rb.options);
    if (Ended(rb.options)) return false;
    rb.log->SetVerification(mac, VerificationOfResult(r));
    return r.outcome == VerifyOutcome::Verified;
}

}  // namespace fd
