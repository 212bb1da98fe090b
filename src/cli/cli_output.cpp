#include "cli/cli_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "config/language.h"
#include "presentation/csv_text.h"
#include "config/labels.h"
#include "wire/device_text.h"
#include "wire/utf8.h"

namespace fd::cli {

namespace {

struct ColumnInfo {
    const char* header;
    const char* jsonKey;
};
constexpr ColumnInfo kColumns[kColumnCount] = {
    {"Location", "location"},
    {"Type", "type"},
    {"IP", "ip"},
    {"MAC", "mac"},
    {"OperationMode", "operation_mode"},
    {"SSID", "ssid"},
    {"Channel", "channel"},
    {"Version", "version"},
    {"Transparent bridge", "transparent_bridge"},
    {"AirSlot", "airslot"},
    {"Time", "time"},
};

// One UTF-8 character at text[i]: its code point and length, or nullopt for a malformed
// byte (which the callers then treat as one byte).

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

std::string TextField(const uint8_t* field, std::size_t capacity, uint8_t len) {
    return DeviceTextToLocal(FieldText(field, capacity, len));
}

}  // namespace

const char* ColumnHeader(Column c) {
    return kColumns[static_cast<std::size_t>(c)].header;
}

const char* ColumnJsonKey(Column c) {
    return kColumns[static_cast<std::size_t>(c)].jsonKey;
}

DeviceRow MakeDeviceRow(const ap_info_stu& rec) {
    DeviceRow row;
    row.confirmed = rec.ap_status != AP_STATUS_DISCOVERED;
    row.status = GetStatusLabel(rec.ap_status);
    std::string version = TextField(rec.version, sizeof rec.version, rec.version_len);
    if (auto lf = version.find('\n'); lf != std::string::npos) version.resize(lf);
    const std::string mac(rec.mac, strnlen(rec.mac, sizeof rec.mac));
    row.cells = {
        TextField(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len),
        GetModelLabel(rec.ap_type),
        IpToText(rec.ip),
        mac,
        GetWorkModeLabel(rec.work_mode),
        TextField(rec.ssid, sizeof rec.ssid, rec.ssid_len),
        GetChannelLabel(rec.channel),
        version,
        GetTransparentBridgeLabel(rec.ap_type, rec.work_mode, rec.bridge_transparent),
        GetAirSlotLabel(rec.ap_type, rec.tdmaEn),
        GetUptimeText(rec.up_time),
    };
    return row;
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

std::string RepairUtf8(std::string_view text) {
    return fd::RepairUtf8(text);
}

std::string ForTerminal(std::string_view text) {
    return fd::RepairUtf8(text, IsControl);
}

std::string FormatTable(const std::vector<DeviceRow>& rows, bool translateHeaders) {
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> header;
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        const char* key = ColumnHeader(static_cast<Column>(c));
        header.push_back(ForTerminal(translateHeaders ? GetLangText(key) : std::string(key)));
    }
    lines.push_back(std::move(header));
    for (const DeviceRow& r : rows) {
        std::vector<std::string> cells;
        for (std::size_t c = 0; c < kColumnCount; ++c)
            cells.push_back(ForTerminal(c < r.cells.size() ? r.cells[c] : std::string()));
        lines.push_back(std::move(cells));
    }
    std::vector<std::size_t> widths(kColumnCount, 0);
    for (const auto& l : lines)
        for (std::size_t c = 0; c < kColumnCount; ++c)
            widths[c] = std::max(widths[c], DisplayWidth(l[c]));

    std::string out;
    for (const auto& l : lines) {
        std::string line;
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            line += l[c];
            if (c + 1 < kColumnCount) line.append(widths[c] - DisplayWidth(l[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

std::string CsvField(std::string_view text) {
    return fd::CsvField(RepairUtf8(text));
}

std::string FormatCsv(const std::vector<DeviceRow>& rows) {
    std::string out;
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        if (c) out += ',';
        out += CsvField(ColumnHeader(static_cast<Column>(c)));
    }
    out += "\r\n";
    for (const DeviceRow& r : rows) {
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            if (c) out += ',';
            out += CsvField(c < r.cells.size() ? r.cells[c] : std::string());
        }
        out += "\r\n";
    }
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        auto cp = DecodeUtf8At(text, i, len);
        if (!cp) {
            out += "\\ufffd";
            i += 1;
            continue;
        }
        switch (*cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (*cp < 0x20 || *cp == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(*cp));
                    out += buf;
                } else {
                    out.append(text.substr(i, len));
                }
        }
        i += len;
    }
    out += '"';
    return out;
}

std::string FormatJson(const std::vector<DeviceRow>& rows) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DeviceRow& r = rows[i];
        out += i ? ",\n  {" : "\n  {";
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            out += JsonString(ColumnJsonKey(static_cast<Column>(c)));
            out += ": ";
            out += JsonString(c < r.cells.size() ? r.cells[c] : std::string());
            out += ", ";
        }
        out += "\"status\": " + JsonString(r.status);
        out += ", \"confirmed\": ";
        out += r.confirmed ? "true" : "false";
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace fd::cli
