#include "cli/cli_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "config/labels.h"
#include "config/language.h"
#include "wire/utf8.h"

namespace fd::cli {

namespace {

bool IsWide(char32_t c) {
    static constexpr std::pair<char32_t, char32_t> kWide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
        {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
        {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const auto& [lo, hi] : kWide)
        if (c >= lo && c <= hi) return true;
    return false;
}

bool IsZeroWidth(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE00 && c <= 0xFE0F);
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::span<const DeviceColumn> ListColumns() {
    // Location .. Time of the status page: no tick box, running number or web button.
    return StatusPageColumns().subspan(2, 11);
}

const char* ColumnJsonKey(ColumnContent c) {
    using C = ColumnContent;
    switch (c) {
        case C::Location:
            return "location";
        case C::Type:
            return "type";
        case C::Ip:
            return "ip";
        case C::Mac:
            return "mac";
        case C::OperationMode:
            return "operation_mode";
        case C::Ssid:
            return "ssid";
        case C::Channel:
            return "channel";
        case C::Version:
            return "version";
        case C::TransparentBridge:
            return "transparent_bridge";
        case C::AirSlot:
            return "airslot";
        case C::Time:
            return "time";
        default:
            return "";  // not a column the tool lists
    }
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        auto cp = DecodeUtf8At(text, i, len);
        if (!cp) {
            width += 1;
            i += 1;
            continue;
        }
        i += len;
        if (IsZeroWidth(*cp)) continue;
        width += IsWide(*cp) ? 2 : 1;
    }
    return width;
}

std::string ForTerminal(std::string_view text) {
    return fd::RepairUtf8(text, BadBytes::Replace, IsControl);
}

std::string FormatTable(std::span<const DeviceColumn> columns, const std::vector<DeviceRow>& rows,
                        bool translateHeaders) {
    const std::size_t count = columns.size();
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> header;
    for (const DeviceColumn& col : columns) {
        header.push_back(
            ForTerminal(translateHeaders ? GetLangText(col.header) : std::string(col.header)));
    }
    lines.push_back(std::move(header));
    for (const DeviceRow& r : rows) {
        std::vector<std::string> cells;
        for (std::size_t c = 0; c < count; ++c)
            cells.push_back(ForTerminal(c < r.cells.size() ? r.cells[c] : std::string()));
        lines.push_back(std::move(cells));
    }
    std::vector<std::size_t> widths(count, 0);
    for (const auto& l : lines)
        for (std::size_t c = 0; c < count; ++c) widths[c] = std::max(widths[c], DisplayWidth(l[c]));

    std::string out;
    for (const auto& l : lines) {
        std::string line;
        for (std::size_t c = 0; c < count; ++c) {
            line += l[c];
            if (c + 1 < count) line.append(widths[c] - DisplayWidth(l[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

std::string FormatJson(std::span<const DeviceColumn> columns, const std::vector<DeviceRow>& rows) {
    const std::size_t count = columns.size();
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DeviceRow& r = rows[i];
        out += i ? ",\n  {" : "\n  {";
        for (std::size_t c = 0; c < count; ++c) {
            out += JsonString(ColumnJsonKey(columns[c].content));
            out += ": ";
            out += JsonString(c < r.cells.size() ? r.cells[c] : std::string());
            out += ", ";
        }
        out += "\"status\": " + JsonString(GetStatusLabel(r.status));
        out += ", \"confirmed\": ";
        out += r.discoveredOnly ? "false" : "true";
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace fd::cli
