#pragma once
// What this run asked each device to do and what became of it: every command sent with
// retransmission, with the bytes it carried, whether the device acknowledged it (and with
// which result), whether the resends ran out first, and, for a change of settings, whether
// the device's own report has since shown the new values. The engine writes it; the lists,
// the command line's waits and the pages read it. One object for the whole run, wired to the
// engine at start-up; every call locks inside and may come from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/packet.h"

namespace fd {

enum class CommandState {
    Sent,          // waiting for the device
    Acknowledged,  // the device answered with result 0
    Refused,       // the device answered with another result
    NoAnswer,      // the resends ran out
    NotSent,       // no adapter, socket or send took it
    Confirmed,     // a change the device's own report has since shown
};

struct CommandRecord {
    uint64_t seq = 0;  // order of sending over the run, from 1
    std::string mac;
    std::string ip;  // where it was sent
    int command = 0;
    std::vector<uint8_t> body;  // the values sent
    CommandState state = CommandState::Sent;
    uint8_t result = 0;  // the acknowledgement's first body byte
    std::chrono::system_clock::time_point sentAt;
    std::optional<std::chrono::system_clock::time_point> answeredAt;  // ack or give-up
};

// Where the read-back after a change stands for one device (actions/configuration_verify.h
// does the reading; the lists show it).
enum class VerificationState { None, Pending, Verified, NotApplied, NoAnswer };
struct Verification {
    VerificationState state = VerificationState::None;
    std::string text;     // "not applied: channel (sent 149, device reports 36)", ...
    std::string summary;  // short, for a list cell: "not applied", "no answer"
};

// Commands that change a device's settings, whose values its report shows again: set IP,
// wireless, timed reboot, name, transparent bridge and AirSlot.
bool IsSettingChange(int command);

class CommandLog {
public:
    using Clock = std::chrono::system_clock;

    // A command has gone out (or joined the resends); returns its seq.
    uint64_t RecordSent(const std::string& mac, const std::string& ip, int command,
                        const void* body, int length);
    // The command of that seq could not be sent at all.
    void RecordNotSent(uint64_t seq);
    // The oldest open command of this device and kind has been answered. False when none was
    // open.
    bool RecordAnswer(const std::string& mac, int command, uint8_t result);
    // The resends of the oldest open command of this device and kind ran out.
    bool RecordNoAnswer(const std::string& mac, int command);
    // The device's report: acknowledged changes whose values it holds become Confirmed.
    void RecordReport(const ap_info_stu& report);

    // How many reports this device has sent since the log first recorded a command to it
    // (reports of devices never sent a command are not kept).
    uint64_t ReportCount(const std::string& mac) const;
    // Waits for a report of this device after the afterCount-th and returns the newest one;
    // nullopt when the deadline passed or the stop was requested first.
    std::optional<ap_info_stu> WaitForReport(const std::string& mac, uint64_t afterCount,
                                             std::chrono::steady_clock::time_point deadline,
                                             std::stop_token stop = {}) const;

    // The read-back of this device's last change: set by whoever reads it back, shown by the
    // lists.
    void SetVerification(const std::string& mac, Verification v);
    Verification VerificationOf(const std::string& mac) const;

    // The seq of the last command recorded, 0 before any.
    uint64_t LastSeq() const;
    std::vector<CommandRecord> Commands(const std::string& mac) const;
    std::vector<CommandRecord> All() const;
    // Acknowledged changes the device has not reported yet, oldest first.
    std::vector<CommandRecord> PendingChanges(const std::string& mac) const;

    // Waits until the first command of this device and kind sent after `afterSeq` is no
    // longer Sent, and returns it; nullopt when none was sent, the deadline passed or the
    // stop was requested first. An entry that never leaves Sent (an engine stopped before
    // its resends ran out) ends at the deadline.
    std::optional<CommandRecord> WaitForAnswer(const std::string& mac, int command,
                                               uint64_t afterSeq,
                                               std::chrono::steady_clock::time_point deadline,
                                               std::stop_token stop = {}) const;

private:
    CommandRecord* OldestOpenLocked(const std::string& mac, int command);

    mutable std::mutex m_lock;
    mutable std::condition_variable_any m_changed;
    std::vector<CommandRecord> m_records;  // in seq order
    std::unordered_map<std::string, std::vector<std::size_t>> m_byMac;
    uint64_t m_lastSeq = 0;
    struct Reports {
        uint64_t count = 0;
        ap_info_stu last{};
    };
    std::unordered_map<std::string, Reports> m_reports;
    std::unordered_map<std::string, Verification> m_verifications;
};

// The record a change sends, laid over a device's record: what the lists show while the
// change waits for the device's report. Commands other than setting changes leave it as is.
void ApplySentValues(ap_info_stu& rec, int command, const std::vector<uint8_t>& body);

}  // namespace fd
