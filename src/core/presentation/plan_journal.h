#pragma once
// What a plan run did, for the next run and for the record. The journal: one JSON line per
// change of a device's state, written through at once, so that after an interruption, a
// crash or a closed laptop the same command resumes where it stopped. The report: one row per
// device with its result. Neither ever holds a key: they name the fields that changed,
// never a key's value.

#include <map>
#include <string>
#include <vector>

namespace fd {

// A device's state in a plan run. The words are those of the journal and the report.
enum class PlanState {
    Sending,     // commands going out: the device may be part-way changed
    Sent,        // every command answered; not yet read back
    Verified,    // read back with every value of its row
    Unchanged,   // held every value of its row already; nothing sent
    NotApplied,  // answered, but the read-back differs
    Failed,      // a command was not answered or refused, or could not be sent
    NoAnswer,    // not found again after the change
    Refused,     // the row breaks a rule; nothing sent
    NotFound,    // the search did not find it; nothing sent
    WrongModel,  // the row's model is not the device's; nothing sent
};
const char* PlanStateWord(PlanState state);
// Done for good: a resumed run leaves the device alone.
inline bool IsPlanStateFinal(PlanState state) {
    return state == PlanState::Verified || state == PlanState::Unchanged;
}

class PlanJournal {
public:
    PlanJournal() = default;
    PlanJournal(const PlanJournal&) = delete;
    PlanJournal& operator=(const PlanJournal&) = delete;
    ~PlanJournal();

    // Opens (creating it for its owner only, 0600) the file to append to. False with a
    // reason when it cannot be written.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return m_fd >= 0; }
    // One line: time, mac, state and a detail (field names, a failure; never a key value).
    // Written through to the file before it returns.
    void Write(const std::string& mac, PlanState state, const std::string& detail = {});

private:
    int m_fd = -1;
};

// The last state of every device a journal names; lines that cannot be read (a line cut
// short by a crash) are passed over.
std::map<std::string, PlanState> ReadPlanJournal(const std::string& path);

struct PlanReportRow {
    std::string mac;
    int line = 0;  // of the plan
    std::string ip;
    PlanState state = PlanState::Refused;
    std::string changed;    // the fields sent, "name ssid channel"
    std::string differing;  // "channel (sent 6, reported 1)"; or why it failed
    double seconds = 0;
};
// JSON when the path ends in ".json", else CSV.
std::string FormatPlanReport(const std::vector<PlanReportRow>& rows, bool json);

}  // namespace fd
