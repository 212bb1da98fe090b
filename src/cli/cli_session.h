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

#include "config/settings.h"
#include "engine/device_protocol.h"
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
int FindDevices(Session& s, const std::vector<std::string>& macs, int seconds,
                std::vector<ap_info_stu>& recs, std::ostream& out, std::ostream& err);

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

}  // namespace fd::cli
