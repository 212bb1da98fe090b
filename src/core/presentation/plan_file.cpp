#include "presentation/plan_file.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "presentation/csv_text.h"
#include "presentation/json_text.h"
#include "wire/address.h"
#include "wire/utf8.h"

namespace fd {

namespace {

constexpr const char* kColumns[] = {
    "mac",
    "model",
    "name",
    "ip",
    "mask",
    "gateway",
    "dns1",
    "dns2",
    "mode",
    "bandwidth",
    "country",
    "channel",
    "ext-channel",
    "power",
    "ssid",
    "hide-ssid",
    "security",
    "cipher",
    "key",
    "key-interval",
    "wep-auth",
    "wep-default-key",
    "wep-key-format",
    "radius-server",
    "radius-port",
    "vlan",
    "vlan-wlan",
    "pvid",
    "lan",
    "lan3",
    "lan4",
    "reboot",
    "reboot-at",
    "days",
};

std::string KnownColumns() {
    std::string out;
    for (const char* c : kColumns) out += (out.empty() ? "" : ", ") + std::string(c);
    return out;
}

std::string ColumnName(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string out;
    for (char c : text.substr(b, e - b))
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsKnownColumn(std::string_view name) {
    return std::any_of(std::begin(kColumns), std::end(kColumns),
                       [&](const char* c) { return name == c; });
}

// "02:FD:00:00:00:01" or "02-fd-00-00-00-01", blanks around allowed.
bool ReadMac(std::string_view text, std::string& mac) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.size() != 17) return false;
    std::string colons(text);
    for (std::size_t i = 2; i < colons.size(); i += 3) {
        if (colons[i] != text[2] || (text[2] != ':' && text[2] != '-')) return false;
        colons[i] = ':';
    }
    uint8_t bytes[6];
    if (!MacFromText(colons, bytes)) return false;
    mac = MacToText(bytes);
    return true;
}

// The line and column (in characters) of the first byte that is not UTF-8, or 0.
int FirstBadLine(std::string_view text, int& column) {
    int line = 1;
    column = 1;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        if (!DecodeUtf8At(text, i, len)) return line;
        if (text[i] == '\n') {
            ++line;
            column = 0;
        }
        ++column;
        i += len;
    }
    return 0;
}

struct RowBuilder {
    PlanFile& file;
    std::map<std::string, int> firstLineOfMac;
    std::map<std::string, std::size_t> rowOfMac;  // index in file.rows

    void Add(PlanRow row, std::vector<PlanProblem> problems, const std::string& macText,
             int macField, bool hasMacCell) {
        if (problems.empty()) {
            if (!hasMacCell || macText.find_first_not_of(' ') == std::string::npos) {
                problems.push_back({row.line, macField, "mac", "", "no MAC address"});
            } else if (!ReadMac(macText, row.mac)) {
                problems.push_back(
                    {row.line, macField, "mac", "", "not a MAC address: '" + macText + "'"});
            }
        }
        if (!problems.empty()) {
            for (auto& p : problems) p.mac = row.mac;
            file.problems.insert(file.problems.end(), problems.begin(), problems.end());
            return;
        }
        if (auto it = firstLineOfMac.find(row.mac); it != firstLineOfMac.end()) {
            // Which of the two rows was meant cannot be told: neither goes on.
            file.problems.push_back({row.line, macField, "mac", row.mac,
                                     "MAC " + row.mac + " is also on line " +
                                         std::to_string(it->second) + "; neither row is used"});
            if (auto r = rowOfMac.find(row.mac); r != rowOfMac.end()) {
                file.problems.push_back({it->second, macField, "mac", row.mac,
                                         "MAC " + row.mac + " is also on line " +
                                             std::to_string(row.line) + "; neither row is used"});
                file.rows[r->second].mac.clear();  // taken out below
                rowOfMac.erase(r);
            }
            return;
        }
        firstLineOfMac[row.mac] = row.line;
        rowOfMac[row.mac] = file.rows.size();
        file.rows.push_back(std::move(row));
    }

    void Finish() {
        std::erase_if(file.rows, [](const PlanRow& r) { return r.mac.empty(); });
        std::stable_sort(
            file.problems.begin(), file.problems.end(),
            [](const PlanProblem& a, const PlanProblem& b) { return a.line < b.line; });
    }
};

std::string CellProblem(const std::string& value) {
    if (value.size() > kPlanMaxCell)
        return "longer than " + std::to_string(kPlanMaxCell) + " bytes";
    return {};
}

void ReadCsvPlan(std::string_view text, PlanFile& file) {
    const char sep = GuessCsvSeparator(text);
    const std::vector<CsvRecord> records = ReadCsv(text, sep);
    std::size_t first = 0;
    auto blank = [](const CsvRecord& r) {
        return std::all_of(r.fields.begin(), r.fields.end(), [](const std::string& f) {
            return f.find_first_not_of(" \t") == std::string::npos;
        });
    };
    while (first < records.size() && blank(records[first]) && records[first].error.empty()) ++first;
    if (first == records.size()) {
        file.refused =
            "the plan holds no header line (the first line names the columns: " + KnownColumns() +
            ")";
        return;
    }
    const CsvRecord& header = records[first];
    if (!header.error.empty()) {
        file.refused = "line " + std::to_string(header.line) + ", column " +
                       std::to_string(header.errorField) + ": " + header.error;
        return;
    }
    std::vector<std::string> columns;
    std::size_t used = header.fields.size();
    while (used > 0 && ColumnName(header.fields[used - 1]).empty()) --used;  // trailing separators
    int macField = 0;
    for (std::size_t c = 0; c < used; ++c) {
        const std::string name = ColumnName(header.fields[c]);
        const std::string where =
            "line " + std::to_string(header.line) + ", column " + std::to_string(c + 1);
        if (name.empty()) {
            file.refused = where + ": a column without a name";
            return;
        }
        if (!IsKnownColumn(name)) {
            std::string shown = header.fields[c].substr(0, 64);
            file.refused = where + ": unknown column '" + RepairUtf8(shown) +
                           "'; the known columns are: " + KnownColumns();
            return;
        }
        if (std::find(columns.begin(), columns.end(), name) != columns.end()) {
            file.refused = where + ": column '" + name + "' given twice";
            return;
        }
        if (name == "mac") macField = static_cast<int>(c + 1);
        columns.push_back(name);
    }
    if (macField == 0) {
        file.refused = "line " + std::to_string(header.line) +
                       ": no 'mac' column (every row names its device by its MAC address)";
        return;
    }

    RowBuilder builder{file, {}, {}};
    for (std::size_t r = first + 1; r < records.size(); ++r) {
        const CsvRecord& rec = records[r];
        if (blank(rec) && rec.error.empty()) continue;
        PlanRow row;
        row.line = rec.line;
        std::vector<PlanProblem> problems;
        if (!rec.error.empty())
            problems.push_back(
                {rec.line, rec.errorField,
                 rec.errorField >= 1 && static_cast<std::size_t>(rec.errorField) <= columns.size()
                     ? columns[static_cast<std::size_t>(rec.errorField) - 1]
                     : "",
                 "", rec.error});
        std::size_t cells = rec.fields.size();
        while (cells > columns.size() &&
               rec.fields[cells - 1].find_first_not_of(" \t") == std::string::npos)
            --cells;
        if (problems.empty() && cells > columns.size())
            problems.push_back({rec.line, static_cast<int>(columns.size() + 1), "", "",
                                "the row has " + std::to_string(cells) +
                                    " cells, the header names " + std::to_string(columns.size()) +
                                    " columns"});
        std::string macText;
        for (std::size_t c = 0; c < std::min(cells, columns.size()) && problems.empty(); ++c) {
            std::string value = SpreadsheetUnguard(rec.fields[c]);
            if (columns[c] == "mac") {
                macText = value;
                continue;
            }
            if (value.empty()) continue;
            if (auto why = CellProblem(value); !why.empty()) {
                problems.push_back({rec.line, static_cast<int>(c + 1), columns[c], "", why});
                break;
            }
            row.cells.push_back({columns[c], std::move(value), static_cast<int>(c + 1), rec.line});
        }
        builder.Add(std::move(row), std::move(problems), macText, macField, true);
    }
    builder.Finish();
}

void ReadJsonPlan(std::string_view text, PlanFile& file) {
    file.json = true;
    const JsonFlatArray array = ReadJsonFlatArray(text);
    if (!array.error.empty()) {
        file.refused = "line " + std::to_string(array.errorLine) + ": " + array.error;
        return;
    }
    RowBuilder builder{file, {}, {}};
    for (const JsonFlatObject& o : array.objects) {
        PlanRow row;
        row.line = o.line;
        std::vector<PlanProblem> problems;
        std::string macText;
        bool hasMac = false;
        std::vector<std::string> seen;
        for (const JsonMember& m : o.members) {
            const std::string name = ColumnName(m.key);
            if (!IsKnownColumn(name)) {
                file.refused = "line " + std::to_string(m.line) + ": unknown key '" +
                               RepairUtf8(m.key.substr(0, 64)) +
                               "'; the known keys are: " + KnownColumns();
                file.rows.clear();
                file.problems.clear();
                return;
            }
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
                problems.push_back({m.line, 0, name, "", "key '" + name + "' given twice"});
                continue;
            }
            seen.push_back(name);
            if (name == "mac") {
                macText = m.value;
                hasMac = true;
                continue;
            }
            if (m.value.empty()) continue;
            if (auto why = CellProblem(m.value); !why.empty()) {
                problems.push_back({m.line, 0, name, "", why});
                continue;
            }
            row.cells.push_back({name, m.value, 0, m.line});
        }
        builder.Add(std::move(row), std::move(problems), macText, 0, hasMac);
    }
    builder.Finish();
}

}  // namespace

std::span<const char* const> PlanColumns() {
    return kColumns;
}

bool IsPlanKeyColumn(std::string_view column) {
    return column == "key";
}

const PlanCell* PlanRow::Find(std::string_view column) const {
    for (const PlanCell& c : cells)
        if (c.column == column) return &c;
    return nullptr;
}

bool PlanRow::HasKeys() const {
    return std::any_of(cells.begin(), cells.end(),
                       [](const PlanCell& c) { return IsPlanKeyColumn(c.column); });
}

bool PlanFile::HasKeys() const {
    return std::any_of(rows.begin(), rows.end(), [](const PlanRow& r) { return r.HasKeys(); });
}

std::string PlanProblemText(const PlanProblem& p) {
    std::string out = "line " + std::to_string(p.line);
    if (p.field > 0) out += ", column " + std::to_string(p.field);
    if (!p.column.empty()) out += (p.field > 0 ? " (" + p.column + ")" : ", " + p.column);
    return out + ": " + p.message;
}

PlanFile ReadPlan(std::string_view bytes) {
    PlanFile file;
    if (bytes.size() > kPlanMaxBytes) {
        file.refused = "the file is larger than " + std::to_string(kPlanMaxBytes >> 20) +
                       " MiB; a plan of many thousand devices is far smaller";
        return file;
    }
    if (bytes.size() >= 2 && ((static_cast<unsigned char>(bytes[0]) == 0xFF &&
                               static_cast<unsigned char>(bytes[1]) == 0xFE) ||
                              (static_cast<unsigned char>(bytes[0]) == 0xFE &&
                               static_cast<unsigned char>(bytes[1]) == 0xFF))) {
        file.refused = "the file is UTF-16 text; save it as UTF-8 or give --encoding UTF-16";
        return file;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    int column = 0;
    if (const int line = FirstBadLine(bytes, column); line != 0) {
        file.refused = "line " + std::to_string(line) + ", character " + std::to_string(column) +
                       ": not UTF-8 text; save the file as UTF-8, or name its encoding with "
                       "--encoding (for example --encoding GB18030)";
        return file;
    }
    const std::size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        file.refused = "the plan is empty";
        return file;
    }
    if (bytes[start] == '[')
        ReadJsonPlan(bytes, file);
    else
        ReadCsvPlan(bytes, file);
    if (file.refused.empty() && file.rows.empty() && file.problems.empty())
        file.refused = "the plan holds no device rows";
    return file;
}

std::string ConvertToUtf8(std::string_view bytes, const std::string& encoding, std::string& error) {
    error.clear();
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        error = "unknown encoding '" + encoding + "' (see iconv --list)";
        return {};
    }
    std::string out;
    std::string in(bytes);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            const std::size_t at = static_cast<std::size_t>(inPtr - in.data());
            const int line =
                1 + static_cast<int>(
                        std::count(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
            error = "line " + std::to_string(line) + ": not " + encoding + " text";
            iconv_close(cd);
            return {};
        }
    }
    iconv_close(cd);
    return out;
}

namespace {

std::vector<const char*> WrittenColumns(bool withKeys) {
    std::vector<const char*> out;
    for (const char* c : kColumns)
        if (withKeys || !IsPlanKeyColumn(c)) out.push_back(c);
    return out;
}

std::string CellOf(const PlanRow& row, const char* column) {
    if (std::string_view(column) == "mac") return row.mac;
    const PlanCell* c = row.Find(column);
    return c ? c->value : std::string();
}

}  // namespace

std::string WritePlanCsv(const std::vector<PlanRow>& rows, bool withKeys) {
    const auto columns = WrittenColumns(withKeys);
    std::vector<std::string> fields(columns.begin(), columns.end());
    std::string out = CsvLine(fields);
    for (const PlanRow& row : rows) {
        fields.clear();
        for (const char* c : columns) fields.push_back(SpreadsheetSafe(RepairUtf8(CellOf(row, c))));
        out += CsvLine(fields);
    }
    return out;
}

std::string WritePlanJson(const std::vector<PlanRow>& rows, bool withKeys) {
    const auto columns = WrittenColumns(withKeys);
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        out += i ? ",\n  {" : "\n  {";
        bool first = true;
        for (const char* c : columns) {
            const std::string v = CellOf(rows[i], c);
            if (v.empty()) continue;
            out += (first ? "" : ", ") + JsonString(c) + ": " + JsonString(v);
            first = false;
        }
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace fd
