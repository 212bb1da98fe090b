#pragma once
// The plan file: the settings for many devices, one row per device keyed by its MAC, as a
// spreadsheet saves it (CSV) or as JSON (a list of objects with the same keys). A blank cell
// keeps the device's value. The column names are the setting names of `fielddesk-cli
// configure` and are a file format: they are never renamed.
//
// Reading takes files from anywhere: every row that cannot be read becomes a problem naming
// its line and column, and nothing is sent for it; a file that cannot be read at all (not
// UTF-8, an unknown column, no MAC column, empty) is refused whole.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fd {

// Every column in the order they are written: "mac", "model", the name and addresses, the
// radio, the wireless network and its security, the VLAN ids, the timed reboot.
std::span<const char* const> PlanColumns();
// The columns that hold keys: a file holding them is written for its owner only, and their
// values never appear in a journal, a report or on the terminal.
bool IsPlanKeyColumn(std::string_view column);

struct PlanCell {
    std::string column;
    std::string value;
    int field = 0;  // CSV: the column number, from 1; JSON: 0
    int line = 0;
};

struct PlanRow {
    int line = 0;                 // where the row starts, from 1
    std::string mac;              // "aa:bb:cc:dd:ee:ff"
    std::vector<PlanCell> cells;  // the non-blank cells other than the MAC, in file order

    const PlanCell* Find(std::string_view column) const;
    bool HasKeys() const;
};

struct PlanProblem {
    int line = 0;
    int field = 0;       // 0: the row as a whole (or a JSON key, named in column)
    std::string column;  // "" when the problem is not one column's
    std::string mac;     // the row's MAC when it could be read
    std::string message;
};
// "line 7, column 3 (ssid): message".
std::string PlanProblemText(const PlanProblem& p);

struct PlanFile {
    std::vector<PlanRow> rows;  // the rows that can go on
    std::vector<PlanProblem> problems;
    std::string refused;  // the whole file cannot be used: why (lines and columns named)
    bool json = false;

    bool HasKeys() const;
};

// The largest plan read, and the longest cell.
inline constexpr std::size_t kPlanMaxBytes = 16u << 20;
inline constexpr std::size_t kPlanMaxCell = 1024;

// Reads UTF-8 text (a byte-order mark is skipped): JSON when it begins with '[', else CSV
// with a comma or a semicolon as its separator, whichever its header line uses.
PlanFile ReadPlan(std::string_view bytes);

// The bytes converted to UTF-8 from the named encoding (iconv's names: GB18030, GBK,
// UTF-16, ISO-8859-1...). An error text names the line where the conversion stopped.
std::string ConvertToUtf8(std::string_view bytes, const std::string& encoding, std::string& error);

// The rows written as CSV (comma, CRLF, a header of every column, key columns left out when
// withKeys is false) or as JSON; cells a spreadsheet would take for formulas are guarded,
// and ReadPlan takes the guard off again.
std::string WritePlanCsv(const std::vector<PlanRow>& rows, bool withKeys);
std::string WritePlanJson(const std::vector<PlanRow>& rows, bool withKeys);

}  // namespace fd
