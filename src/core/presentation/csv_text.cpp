#include "presentation/csv_text.h"

namespace fd {

namespace {

bool StartsLikeFormula(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == '\'') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

}  // namespace

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",;\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '"') out += '"';
        out += ch;
    }
    out += '"';
    return out;
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) out += ',';
        out += CsvField(fields[i]);
    }
    out += "\r\n";
    return out;
}

std::string SpreadsheetSafe(std::string text) {
    if (StartsLikeFormula(text)) text.insert(text.begin(), '\'');
    return text;
}

std::string SpreadsheetUnguard(std::string text) {
    if (text.size() > 1 && text[0] == '\'' && StartsLikeFormula(std::string_view(text).substr(1)))
        text.erase(text.begin());
    return text;
}

std::vector<CsvRecord> ReadCsv(std::string_view text, char sep) {
    std::vector<CsvRecord> out;
    std::size_t i = 0;
    int line = 1;
    const std::size_t n = text.size();
    auto lineBreakAt = [&](std::size_t k) -> std::size_t {  // its length, 0 when none
        if (k >= n) return 0;
        if (text[k] == '\r') return k + 1 < n && text[k + 1] == '\n' ? 2 : 1;
        return text[k] == '\n' ? 1 : 0;
    };
    while (i < n) {
        CsvRecord rec;
        rec.line = line;
        bool endOfRecord = false;
        while (!endOfRecord) {
            std::string field;
            if (i < n && text[i] == '"') {
                ++i;
                bool closed = false;
                while (i < n) {
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    if (const std::size_t br = lineBreakAt(i)) {
                        field.append(text.substr(i, br));
                        i += br;
                        ++line;
                        continue;
                    }
                    field += text[i++];
                }
                if (!closed) {
                    rec.fields.push_back(std::move(field));
                    rec.error = "a quoted cell is not closed (its closing quote is missing)";
                    rec.errorField = static_cast<int>(rec.fields.size());
                    out.push_back(std::move(rec));
                    return out;
                }
                if (i < n && text[i] != sep && !lineBreakAt(i) && rec.error.empty()) {
                    rec.error = "text after the closing quote of a quoted cell";
                    rec.errorField = static_cast<int>(rec.fields.size()) + 1;
                }
                while (i < n && text[i] != sep && !lineBreakAt(i)) field += text[i++];
            } else {
                while (i < n && text[i] != sep && !lineBreakAt(i)) field += text[i++];
            }
            rec.fields.push_back(std::move(field));
            if (i < n && text[i] == sep) {
                ++i;
                continue;
            }
            i += lineBreakAt(i);
            ++line;
            endOfRecord = true;
        }
        out.push_back(std::move(rec));
    }
    return out;
}

char GuessCsvSeparator(std::string_view text) {
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\r' || c == '\n') break;
        commas += c == ',';
        semicolons += c == ';';
    }
    return semicolons > commas ? ';' : ',';
}

}  // namespace fd
