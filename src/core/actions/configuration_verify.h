#pragma once
// Reading a device's settings back after a change and comparing them with what was sent.
// An acknowledgement only says that a command arrived; a device can acknowledge and not
// apply (a firmware that ignores a field, a value outside its own range, a restart that
// reverts). So after a change is acknowledged (and after the restart a VLAN change causes),
// the device is asked for its information again, with the engine's device-info request and
// its resends, and every field sent is compared with what the device now reports.
//
// The configuration dialog, the bridge wizard, rename and bulk Set IP in the desktop program
// and the command line's configure, rename, set-ip and bridge all use VerifyDevice; the
// texts come from VerifyResultText.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/device_engine.h"
#include "model/command_log.h"
#include "rules/device_configuration.h"
#include "rules/configuration_fields.h"
#include "wire/packet.h"

namespace fd {

enum class VerifyOutcome {
    Verified,    // the device reports every field as sent
    NotApplied,  // it answered, and at least one field differs
    NoAnswer,    // it did not answer (at its new address, where that changed)
};

struct VerifyResult {
    VerifyOutcome outcome = VerifyOutcome::NoAnswer;
    std::string ip;  // where the device was asked
    std::vector<FieldDifference> differences;  // NotApplied: field, sent, reported
};

// The comparison alone: NoAnswer without a report; NotApplied when a field of the groups
// reads differently in the report than in expected; Verified otherwise.
VerifyResult CompareReport(const ap_info_stu& expected, const std::optional<ap_info_stu>& report,
                           const std::vector<SettingGroup>& groups, std::string ip);

// "verified", "not applied: channel (sent 149, device reports 36)", "no answer at 198.18.1.20".
std::string VerifyResultText(const VerifyResult& result);

struct ReadBackOptions {
    // One request with all its resends (Retransmission::AnswerDeadline), and the time
    // between two requests (the resend interval).
    std::chrono::milliseconds answerDeadline{8000};
    std::chrono::milliseconds requestInterval{2000};
    // The change restarts the device: wait for a report that shows the restart (an up-time
    // below upTimeBefore), at most this long, and compare that one. Zero: no restart.
    std::chrono::milliseconds restartWait{0};
    uint32_t upTimeBefore = 0;
    // Asked a few times a second; true ends the wait (a signal handler's flag).
    std::function<bool()> interrupted;
    std::stop_token stop;
};

// Asks the device at ip for its information and waits for its report (see restartWait).
std::optional<ap_info_stu> ReadBackReport(IDeviceEngine& engine, const CommandLog& log,
                                          const std::string& mac, const std::string& ip,
                                          const ReadBackOptions& options);

// ReadBackReport, then CompareReport.
VerifyResult VerifyDevice(IDeviceEngine& engine, const CommandLog& log, const std::string& mac,
                          const std::string& ip, const ap_info_stu& expected,
                          const std::vector<SettingGroup>& groups, const ReadBackOptions& options);

// The read-back options for a configuration: with a VLAN change the device restarts, so the
// wait for it (the dialog's wait at most) and its up-time before (rec's) are filled in.
ReadBackOptions ConfigurationReadBackOptions(const ap_info_stu& rec,
                                             const PendingConfiguration& pending,
                                             ReadBackOptions base);
// Where the device answers after the configuration: its new address when that changed.
std::string ConfigurationReadBackAddress(const ap_info_stu& rec,
                                         const PendingConfiguration& pending);

// After a configuration's commands were acknowledged: VerifyDevice at the address the device
// has now (the new one when the address changed), after the restart a VLAN change causes
// (options.restartWait, when zero, becomes the dialog's wait for it; the device's up-time
// before is taken from rec).
VerifyResult VerifyConfiguration(IDeviceEngine& engine, const CommandLog& log,
                                 const ap_info_stu& rec, const PendingConfiguration& pending,
                                 ReadBackOptions options);

// The state a result puts in the command log for the lists.
Verification VerificationOfResult(const VerifyResult& result);

// What a worker needs to read its changes back; without a log it does not.
struct ReadBack {
    CommandLog* log = nullptr;
    ReadBackOptions options;
};

// A worker's part after it sent changes to one device: waits for the device's answer to
// each command (AwaitAnswer), then reads back at `ip` and compares the groups of `expected`.
// The log holds Pending meanwhile and the result at the end. False: not verified.
bool AwaitAndVerify(const ReadBack& readBack, IDeviceEngine& engine, const std::string& mac,
                    const std::string& ip, const std::vector<int>& commands, uint64_t sentAfter,
                    const ap_info_stu& expected, const std::vector<SettingGroup>& groups);

}  // namespace fd
