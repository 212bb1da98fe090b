#pragma once
// CSV as spreadsheets read it (RFC 4180): fields joined by commas, lines ended by CRLF.

#include <string>
#include <string_view>
#include <vector>

namespace fd {

// The field as written: quoted when it holds a comma, a quote, CR or LF, quotes doubled.
// The text is taken as it is (callers repair encodings first).
std::string CsvField(std::string_view text);
// The fields of one line, CRLF at the end.
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace fd
