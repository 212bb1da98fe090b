#pragma once
// How fielddesk-cli prints device lists: an aligned table for people, CSV (RFC 4180) and
// JSON for programs. Device texts come from the network, so every format repairs bytes that
// are not UTF-8, and the table also neutralises control characters that a terminal would
// otherwise act on.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "wire/packet.h"

namespace fd::cli {

// The columns of the device status list, in order.
enum class Column {
    Location,
    Type,
    Ip,
    Mac,
    OperationMode,
    Ssid,
    Channel,
    Version,
    TransparentBridge,
    AirSlot,
    Time,
};
inline constexpr std::size_t kColumnCount = 11;

// The column's header text in English (also its language key), and its JSON key.
const char* ColumnHeader(Column c);
const char* ColumnJsonKey(Column c);

// One device as the list shows it.
struct DeviceRow {
    std::vector<std::string> cells;  // kColumnCount texts, in column order
    std::string status;              // the status label ("" for a device not yet confirmed)
    bool confirmed = true;           // false: answered a search but sent no information yet
};

// The row of a stored device (confirmed) or of a device the engine only knows from its
// search answer (ap_status 10).
DeviceRow MakeDeviceRow(const ap_info_stu& rec);

// Columns on a terminal: 2 for East Asian wide and full-width characters, 0 for combining
// marks, 1 otherwise. Text that is not UTF-8 counts one column per bad byte.
std::size_t DisplayWidth(std::string_view utf8);
// Valid UTF-8 with every malformed byte replaced by U+FFFD.
std::string RepairUtf8(std::string_view text);
// RepairUtf8, and control characters (C0, DEL, C1) replaced by U+FFFD as well.
std::string ForTerminal(std::string_view text);

// The table: translated headers, columns padded to their widest cell plus two blanks, no
// trailing blanks, one line per row.
std::string FormatTable(const std::vector<DeviceRow>& rows, bool translateHeaders = true);
// RFC 4180: English header line, CRLF line ends, a field quoted when it holds a comma,
// quote, CR or LF (quotes doubled).
std::string FormatCsv(const std::vector<DeviceRow>& rows);
std::string CsvField(std::string_view text);
// A JSON array of objects, one per row, keys from ColumnJsonKey plus "status" and
// "confirmed".
std::string FormatJson(const std::vector<DeviceRow>& rows);
// A JSON string literal (with the quotes): control characters escaped, malformed UTF-8
// bytes as \ufffd.
std::string JsonString(std::string_view text);

}  // namespace fd::cli
