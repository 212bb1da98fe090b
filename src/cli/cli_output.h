#pragma once
// How fielddesk-cli prints device lists: an aligned table for people and JSON for programs.
// The rows are the device list's own (fd::MakeDeviceRow over the status page's text
// columns) and CSV is the list export's; only the terminal and JSON forms live here. Device
// texts come from the network, so both forms repair bytes that are not UTF-8, and the table
// also neutralises control characters that a terminal would otherwise act on.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/device_list.h"
#include "presentation/json_text.h"  // JsonString

namespace fd::cli {

// The columns the tool lists: the status page's columns that show text, without the
// running number (Location, Type, IP, MAC, OperationMode, SSID, Channel, Version,
// Transparent bridge, AirSlot, Time).
std::span<const DeviceColumn> ListColumns();
// The JSON key of a column ("location", "operation_mode", ...).
const char* ColumnJsonKey(ColumnContent c);

// Columns on a terminal: 2 for East Asian wide and full-width characters, 0 for combining
// marks, 1 otherwise. Text that is not UTF-8 counts one column per bad byte.
std::size_t DisplayWidth(std::string_view utf8);
// fd::RepairUtf8, and control characters (C0, DEL, C1) replaced by U+FFFD as well.
std::string ForTerminal(std::string_view text);

// The table: headers (translated unless told otherwise), columns padded to their widest
// cell plus two blanks, no trailing blanks, one line per row.
std::string FormatTable(std::span<const DeviceColumn> columns, const std::vector<DeviceRow>& rows,
                        bool translateHeaders = true);
// A JSON array of objects, one per row, keys from ColumnJsonKey plus "status" (the status
// label, "" for a device not yet confirmed) and "confirmed" (false for a discovered-only
// row).
std::string FormatJson(std::span<const DeviceColumn> columns, const std::vector<DeviceRow>& rows);

}  // namespace fd::cli
