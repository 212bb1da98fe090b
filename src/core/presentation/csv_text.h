#pragma once
// CSV as spreadsheets read and write it (RFC 4180): fields joined by a separator (a comma,
// or the semicolon that spreadsheets in many locales write), lines ended by CRLF, fields
// holding the separator, a quote or a line break quoted with the quotes doubled.

#include <string>
#include <string_view>
#include <vector>

namespace fd {

// The field as written: quoted when it holds a comma, a quote, CR or LF, quotes doubled.
// The text is taken as it is (callers repair encodings first).
std::string CsvField(std::string_view text);
// The fields of one line, CRLF at the end.
std::string CsvLine(const std::vector<std::string>& fields);

// A cell that a spreadsheet would take for a formula (it begins with =, +, -, @, a tab or a
// CR) gets a leading apostrophe: device names come from the network and must not run as
// formulas on the user's PC. A text that already begins with apostrophes before such a
// character gets one more, so that SpreadsheetUnguard gives back exactly what was written.
std::string SpreadsheetSafe(std::string text);
// The apostrophe SpreadsheetSafe added, taken off again.
std::string SpreadsheetUnguard(std::string text);

// One record of a CSV text: the line it starts on (from 1) and its fields. A record that
// cannot be read whole carries the reason and the field (from 1) where it was found.
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
    std::string error;
    int errorField = 0;
};
// Every record of the text. Records end at CRLF, LF or a lone CR outside quotes; quoted
// fields may hold separators, quotes (doubled) and line breaks. A quote left open swallows
// the rest of the text into the last record, which then carries the error. A quote in the
// middle of an unquoted field is taken as a character.
std::vector<CsvRecord> ReadCsv(std::string_view text, char separator);
// ';' when the first line holds more semicolons than commas outside quotes, else ','.
char GuessCsvSeparator(std::string_view text);

}  // namespace fd
