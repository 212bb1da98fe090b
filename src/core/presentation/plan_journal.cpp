#include "presentation/plan_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "presentation/csv_text.h"
#include "presentation/json_text.h"

namespace fd {

namespace {

constexpr std::pair<PlanState, const char*> kWords[] = {
    {PlanState::Sending, "sending"},        {PlanState::Sent, "sent"},
    {PlanState::Verified, "verified"},      {PlanState::Unchanged, "unchanged"},
    {PlanState::NotApplied, "not applied"}, {PlanState::Failed, "failed"},
    {PlanState::NoAnswer, "no answer"},     {PlanState::Refused, "refused"},
    {PlanState::NotFound, "not found"},     {PlanState::WrongModel, "wrong model"},
};

std::string UtcNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

}  // namespace

const char* PlanStateWord(PlanState state) {
    for (const auto& [s, w] : kWords)
        if (s == state) return w;
    return "";
}

PlanJournal::~PlanJournal() {
    if (m_fd >= 0) close(m_fd);
}

bool PlanJournal::Open(const std::string& path, std::string& error) {
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        error = "cannot write the journal " + path + ": " + std::strerror(errno);
        return false;
    }
    // A line cut short by a crash is ended, so that the next line is whole.
    const off_t size = lseek(m_fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && pread(m_fd, &last, 1, size - 1) == 1 && last != '\n') {
        if (write(m_fd, "\n", 1) != 1) {
            error = "cannot write the journal " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void PlanJournal::Write(const std::string& mac, PlanState state, const std::string& detail) {
    if (m_fd < 0) return;
    std::string line = "{\"time\": " + JsonString(UtcNow()) + ", \"mac\": " + JsonString(mac) +
                       ", \"state\": " + JsonString(PlanStateWord(state));
    if (!detail.empty()) line += ", \"detail\": " + JsonString(detail);
    line += "}\n";
    // One write of the whole line: a crash leaves whole lines and at most one cut short.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
    fdatasync(m_fd);
}

std::map<std::string, PlanState> ReadPlanJournal(const std::string& path) {
    std::map<std::string, PlanState> out;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const auto o = ReadJsonFlatObject(line);
        if (!o) continue;
        std::string mac, state;
        for (const auto& m : o->members) {
            if (m.key == "mac") mac = m.value;
            if (m.key == "state") state = m.value;
        }
        for (const auto& [s, w] : kWords)
            if (!mac.empty() && state == w) out[mac] = s;
    }
    return out;
}

std::string FormatPlanReport(const std::vector<PlanReportRow>& rows, bool json) {
    char seconds[32];
    if (json) {
        std::string out = "[";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const PlanReportRow& r = rows[i];
            std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
            out += i ? ",\n  {" : "\n  {";
            out += "\"mac\": " + JsonString(r.mac) + ", \"line\": " + std::to_string(r.line) +
                   ", \"ip\": " + JsonString(r.ip) +
                   ", \"result\": " + JsonString(PlanStateWord(r.state)) +
                   ", \"changed\": " + JsonString(r.changed) +
                   ", \"differing\": " + JsonString(r.differing) + ", \"seconds\": " + seconds +
                   "}";
        }
        return out + (rows.empty() ? "]\n" : "\n]\n");
    }
    std::string out = CsvLine({"mac", "line", "ip", "result", "changed", "differing", "seconds"});
    for (const PlanReportRow& r : rows) {
        std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
        out += CsvLine({r.mac, std::to_string(r.line), r.ip, PlanStateWord(r.state),
                        SpreadsheetSafe(r.changed), SpreadsheetSafe(r.differing), seconds});
    }
    return out;
}

}  // namespace fd
