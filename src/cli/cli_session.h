#pragma once
// What every fielddesk-cli subcommand runs on: the engine and a private scratch store for
// one run, the settings, the acknowledgements the engine reported, and the search.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "config/settings.h"
#include "actions/configuration_verify.h"
#include "engine/device_protocol.h"
#include "rules/configuration_fields.h"
#include "store/sql_management.h"

namespace fd::cli {

class Session {
public:
    ~Session();
    // Starts the engine over a fresh store; kExitOk or the exit code to end with (the reason
    // written to err).
    int Open(std::ostream& err);

    CDeviceProtocol& Engine() { return *m_engine; }
    CSqlManagement& Store() { return *m_store; }
    const AppSettings& Settings() const { return m_settings; }
    // The engine's resends, bounded as every front end bounds them.
    const fd::Retransmission& Retransmission() const { return m_retransmission; }

    // What was sent and what became of it.
    const fd::CommandLog& Commands() const { return m_commands; }
    // Whether an adapter is up with an IPv4 address and a link: one a search can go out on.
    bool HasUsableAdapter() const { return m_usableAdapter; }

private:
    std::string m_dir;
    bool m_usableAdapter = false;
    AppSettings m_settings;
    fd::Retransmission m_retransmission;
    std::unique_ptr<CSqlManagement> m_store;
    fd::CommandLog m_commands;  // outlives the engine, which writes it until it stops
    std::unique_ptr<CDeviceProtocol> m_engine;
};

// How many devices the store holds.
std::size_t StoredCount(CSqlManagement& store);

// The search sequence on a steady one-second clock, with a live count on a terminal. Ends
// early when `enough` holds. Returns false when interrupted.
bool Search(Session& s, int seconds, const std::function<bool()>& enough, std::ostream& err);

// Searches until every mac has a stored row (or the time is up) and reads their records in
// the order given. When some are missing it says so and gives kExitDeviceFailed; an
// interrupted search gives kExitInterrupted.
// settleSeconds > 0: the search goes on after the devices are found until no new device
// has answered for that long, so that an address check sees every device of the segment
// (a device that answers late still holds its address).
int FindDevices(Session& s, const std::vector<std::string>& macs, int seconds,
                std::vector<ap_info_stu>& recs, std::ostream& out, std::ostream& err,
                int settleSeconds = 0);
// The quiet time an address check waits for when --settle is not given.
inline constexpr int kInUseSettleSeconds = 3;

// One command sent to one device, and what became of it.
struct Job {
    std::string mac;
    std::string ip;     // where the device is now
    std::string newIp;  // set-ip only
    std::string label;  // what the command does, for the report line; may be empty
    int command = 0;
    std::vector<uint8_t> body;
    bool finished = false;
    bool ok = false;
    std::string outcome;
};

// "MAC  IP  [label: ]outcome".
void Report(std::ostream& out, const Job& j);
// Waits for every job sent after the command log's sentAfter to be answered, refused or
// given up by the engine, reporting each one in turn.
void WaitForAnswers(Session& s, std::vector<Job>& jobs, uint64_t sentAfter, std::ostream& out);

// The read-back's timing from this run's resend settings; Ctrl-C ends it.
ReadBackOptions ReadBackOptionsOf(Session& s);
// Prints one line "MAC  IP  verified" (or "not applied: ..." or "no answer at IP"); true
// when verified.
bool ReportVerification(std::ostream& out, const std::string& mac, const VerifyResult& result);
// Reads a device's settings back after its changes were acknowledged (VerifyDevice) and
// reports it. restartWait > 0: the change restarts the device. True when verified.
bool VerifyAndReport(Session& s, const std::string& mac, const std::string& ip,
                     const ap_info_stu& expected, const std::vector<SettingGroup>& groups,
                     std::chrono::milliseconds restartWait, uint32_t upTimeBefore,
                     std::ostream& out);
// The quiet time of the search before an address check (--settle, else kInUseSettleSeconds).
inline int InUseSettle(const Options& o) {
    return o.settleSeconds > 0 ? o.settleSeconds : kInUseSettleSeconds;
}

}  // namespace fd::cli
