#include "store/sql_management.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "config/labels.h"
#include "config/language.h"
#include "system/system_info.h"
#include "wire/utf8.h"

namespace fd {
namespace {

constexpr const char* kProviderPrefix = "Provider=SQLite;Data Source=";
constexpr const char* kOpenFailedMessage = "Failed to open database, unable to get data.";

// ---- the device table, column by column ----
//
// One row per column of ap_info, in the order of the schema statements. The list drives
// the statements that create the table, the reading of a row into a record and the writing
// of a record into a row.
enum class Kind : uint8_t {
    Int,        // an integer field of the record
    Status,     // ap_status: written as the record gives it, read back
    Ip,         // four address bytes as "a.b.c.d"
    Mac,        // six bytes as "xx:xx:xx:xx:xx:xx"
    Text,       // a text field with its length byte
    RecordMac,  // the record's mac text, the key of every lookup
    Label,      // the text of codes in other columns, for the filter; never read back
    IpNum,      // the sort key of ip; never read back
};

struct ApColumn {
    const char* name;
    const char* type;   // as the schema statement writes it
    uint8_t statement;  // index into kApStatements
    Kind kind;
    uint16_t offset = 0;     // of the field in ap_info_stu
    uint16_t size = 0;       // of the field
    uint16_t lenOffset = 0;  // Text: of the length byte
    std::string (*label)(const ap_info_stu&) = nullptr;
    bool readBack = true;  // the bridge_* columns are written but never read back
};

// clang-format off
#define FD_INT(f, st) {#f, "long", st, Kind::Int, offsetof(ap_info_stu, f), sizeof(ap_info_stu::f)}
#define FD_IP(f, st) {#f, "char(16)", st, Kind::Ip, offsetof(ap_info_stu, f), 4}
#define FD_MAC(f, st, back) {#f, "char(18)", st, Kind::Mac, offsetof(ap_info_stu, f), 6, 0, nullptr, back}
#define FD_TEXT(f, type, st, back) {#f, type, st, Kind::Text, offsetof(ap_info_stu, f), \
    sizeof(ap_info_stu::f), offsetof(ap_info_stu, f##_len), nullptr, back}
#define FD_LABEL(f, st, expr) \
    {#f, "char(33)", st, Kind::Label, 0, 0, 0, [](const ap_info_stu& r) { return expr; }}

constexpr ApColumn kApColumns[] = {
    {"mac", "char(18)", 0, Kind::RecordMac},
    FD_INT(ap_type, 0), FD_LABEL(ap_type_str, 0, GetModelLabel(r.ap_type)),
    {"ap_status", "long", 0, Kind::Status, offsetof(ap_info_stu, ap_status), 4},
    FD_LABEL(ap_status_str, 0, GetStatusLabel(r.ap_status)),
    FD_INT(work_mode, 0), FD_LABEL(work_mode_str, 0, GetWorkModeLabel(r.work_mode)),
    FD_INT(mode_btn_status, 0),
    FD_INT(up_time, 0), FD_LABEL(up_time_str, 0, GetUptimeText(r.up_time)),
    FD_INT(ip_mode, 0), {"ip_num", "double", 0, Kind::IpNum},
    FD_IP(ip, 0), FD_IP(ip_mask, 0), FD_IP(ip_gateway, 0), FD_IP(ip_dns1, 0), FD_IP(ip_dns2, 0),
    FD_TEXT(ap_name, "char(33)", 0, true), FD_TEXT(version, "char(33)", 0, true),

    FD_INT(restart_en, 1), FD_INT(restart_type, 1), FD_INT(restart_time, 1),

    FD_INT(rf_count, 2), FD_INT(rf_en, 2), FD_INT(rf_type, 2), FD_INT(country_code, 2),
    FD_INT(network_mode, 2), FD_INT(bandwidth, 2), FD_INT(channel, 2), FD_INT(expand_channel, 2),
    FD_INT(tx_power, 2), FD_INT(tx_power_min, 2), FD_INT(tx_power_max, 2),

    FD_INT(ssid_count, 3), FD_INT(ssid_rf_type, 3), FD_INT(ssid_id, 3), FD_INT(ssid_hide, 3),
    FD_MAC(ssid_mac, 3, true), FD_TEXT(ssid, "char(33)", 3, true),
    FD_INT(secure_mode, 3), FD_LABEL(secure_mode_str, 3, GetSecurityLabel(r.secure_mode)),
    FD_INT(wpapsk_auth_type, 3), FD_TEXT(wpapsk_key_value, "char(65)", 3, true),
    FD_INT(wpapsk_key_time, 3), FD_INT(wep_auth_type, 3), FD_INT(wep_key_index, 3),
    FD_TEXT(wep_key_value0, "char(65)", 3, true), FD_INT(wep_key_type0, 3),
    FD_TEXT(wep_key_value1, "char(65)", 3, true), FD_INT(wep_key_type1, 3),
    FD_TEXT(wep_key_value2, "char(65)", 3, true), FD_INT(wep_key_type2, 3),
    FD_TEXT(wep_key_value3, "char(65)", 3, true), FD_INT(wep_key_type3, 3),
    FD_INT(wpa_auth_type, 3), FD_IP(wpa_radius_ip, 3), FD_INT(wpa_radius_port, 3),
    FD_TEXT(wpa_key, "char(65)", 3, true), FD_INT(wpa_key_time, 3),

    // Written for the bridge lookups, never read back into a record.
    {"bridge_work_mode", "long", 4, Kind::Int, offsetof(ap_info_stu, bridge_work_mode), 1, 0, nullptr, false},
    FD_MAC(bridge_mac, 4, false),
    {"bridge_channel", "long", 4, Kind::Int, offsetof(ap_info_stu, bridge_channel), 1, 0, nullptr, false},
    FD_TEXT(bridge_ssid, "char(33)", 4, false),

    FD_INT(vlan_en, 5), FD_INT(vlan_id, 5), FD_INT(vlan_id_wlan, 5), FD_INT(vlan_id_lan, 5),

    FD_INT(bridge_transparent, 6),
    FD_LABEL(bridge_transparent_str, 6,
             GetTransparentBridgeLabel(r.ap_type, r.work_mode, r.bridge_transparent)),
    FD_INT(tdmaEn, 6), FD_LABEL(tdmaEn_str, 6, GetAirSlotLabel(r.ap_type, r.tdmaEn)),
    FD_INT(vlan_pvid, 6), FD_INT(vlan_id_lan3, 6), FD_INT(vlan_id_lan4, 6),
};
// clang-format on

#undef FD_INT
#undef FD_IP
#undef FD_MAC
#undef FD_TEXT
#undef FD_LABEL

// The statements that make ap_info, in the dialect the store has always spoken (the access
// layer translates it): the table with its first columns, then the columns later firmware
// brought, one ALTER TABLE per group.
struct ApStatement {
    const char* head;
    const char* separator;
    const char* tail;
};
constexpr ApStatement kApStatements[] = {
    {"CREATE TABLE ap_info(ID Counter,", ",", ")"}, {"ALTER TABLE ap_info ADD ", ",", ""},
    {"ALTER TABLE ap_info ADD ", ",", ""},          {"ALTER TABLE ap_info ADD ", ",", ""},
    {"ALTER TABLE ap_info ADD ", ", ", ""},         {"ALTER TABLE ap_info ADD ", ",", ""},
    {"ALTER TABLE ap_info ADD ", ",", ""},
};

constexpr const char* kOtherApTable =
    "CREATE TABLE ap_other_info(ID Counter,packet_count long,packet_id long,icount long,"
    "mac char(18),ssid char(33),signal long,channel long,secure_mode long,exchannel long,"
    "bandwidth long)";

// Every lookup is by mac; the unique index also keeps a second row per mac out for good.
// The list index holds every column a page is sorted or filtered by: a page's pass over
// all rows then reads these narrow entries instead of the table's hundred-column rows
// (twice as fast at 10,000 devices, for about a quarter more per row written).
constexpr std::array<const char*, 3> kIndexes = {
    "CREATE UNIQUE INDEX ap_info_mac ON ap_info(mac)",
    "CREATE INDEX ap_info_list ON ap_info(ap_status, ip_num, mac, ap_name, ip, version, ssid,"
    " work_mode_str, channel, ap_type_str, tx_power, bridge_transparent_str, tdmaEn_str,"
    " up_time_str, ap_status_str, secure_mode_str, ap_type, work_mode, secure_mode,"
    " bridge_transparent, tdmaEn, up_time)",
    "CREATE UNIQUE INDEX ap_other_info_mac ON ap_other_info(mac)",
};

constexpr std::array<const char*, 14> kApSortColumns = {
    "mac",     "ip_num",      "ap_name",  "ap_type", "work_mode",          "ssid",
    "channel", "secure_mode", "tx_power", "version", "bridge_transparent", "tdmaEn",
    "up_time", "ap_status"};
constexpr std::array<const char*, 5> kOtherSortColumns = {"mac", "ssid", "channel", "secure_mode",
                                                          "signal"};

// The 14 columns the grids show as text; the filter looks for its text in any of them.
// Some of them only ever hold a few characters (numbers, addresses, the uptime): a filter
// with any other character cannot occur in them, and they are left out of the test.
struct FilterColumn {
    const char* name;
    const char* onlyChars;  // null: any text
};
constexpr std::array<FilterColumn, 14> kFilterColumns = {{
    {"ap_name", nullptr},
    {"ip", "0123456789."},
    {"mac", "0123456789abcdefABCDEF:"},
    {"ssid", nullptr},
    {"version", nullptr},
    {"work_mode_str", nullptr},
    {"channel", "0123456789-"},
    {"ap_type_str", nullptr},
    {"tx_power", "0123456789-"},
    {"bridge_transparent_str", nullptr},
    {"tdmaEn_str", nullptr},
    {"up_time_str", "0123456789: "},
    {"ap_status_str", nullptr},
    {"secure_mode_str", nullptr},
}};

// ?1 holds the filter text in lower case for contains_text() over every column it can occur
// in (the access layer's ASCII-caseless search, as like() compares), ?2 the text as it is: a
// device that has only answered a search has none of the other columns yet and is matched,
// case-sensitively, by its ip, mac or version text.
std::string FilterClause(std::string_view filterText) {
    std::string columns;
    for (const FilterColumn& column : kFilterColumns) {
        if (column.onlyChars &&
            filterText.find_first_not_of(column.onlyChars) != std::string_view::npos) {
            continue;
        }
        columns += std::string(",ap_info.") + column.name;
    }
    return "where (ap_info.ap_status=10 and (instr(ap_info.ip,?2)>0 or instr(ap_info.mac,?2)>0 or "
           "instr(ap_info.version,?2)>0)) or (ap_info.ap_status<>10 and contains_text(?1" +
           columns + "))";
}

std::string_view Trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A device text field as it is meant: no more bytes than the length byte says or the
// field holds, and never past a terminating zero.
std::string FieldString(const uint8_t* field, std::size_t capacity, uint8_t len) {
    return std::string(FieldText(field, capacity, len));
}

// The ip_num column: the four octets read as a little-endian number (first octet lowest).
// The table has always sorted addresses this way, so it stays.
uint32_t IpNumColumn(const uint8_t ip[4]) {
    return static_cast<uint32_t>(ip[0]) | static_cast<uint32_t>(ip[1]) << 8 |
           static_cast<uint32_t>(ip[2]) << 16 | static_cast<uint32_t>(ip[3]) << 24;
}

std::string RecordMac(const ap_info_stu& rec) {
    return std::string(rec.mac, strnlen(rec.mac, sizeof rec.mac));
}

bool IsUnlinkedMac(std::string_view mac) {
    if (mac.empty()) return true;
    auto bytes = ScanMacLenient(mac);
    for (uint8_t b : bytes) {
        if (b) return false;
    }
    return true;
}

std::string ReadText(CADORecordset& rs, const char* column) {
    std::string value;
    rs.GetFieldValue(column, value);
    return std::string(Trim(value));
}

int64_t ReadInt(CADORecordset& rs, const char* column) {
    int64_t value = 0;
    rs.GetFieldValue(column, value);
    return value;
}

template <std::size_t N>
void ReadField(CADORecordset& rs, const char* column, uint8_t (&field)[N], uint8_t& len) {
    SetFieldText(field, N, len, ReadText(rs, column));
}

// An integer field of any width, as the little-endian bytes of the record hold it.
uint32_t IntField(const ap_info_stu& rec, const ApColumn& c) {
    uint32_t v = 0;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&rec) + c.offset, c.size);
    return v;
}

// The current row of an ap_info query as a device record.
void RowToApInfo(CADORecordset& rs, ap_info_stu& rec) {
    std::memset(&rec, 0, sizeof rec);
    auto* bytes = reinterpret_cast<uint8_t*>(&rec);
    for (const ApColumn& c : kApColumns) {
        if (!c.readBack) continue;
        uint8_t* field = bytes + c.offset;
        switch (c.kind) {
            case Kind::Int:
            case Kind::Status: {
                // Cut to the field's width like an assignment to it would.
                const auto v = static_cast<uint32_t>(ReadInt(rs, c.name));
                std::memcpy(field, &v, c.size);
                break;
            }
            case Kind::Ip:
                std::memcpy(field, ScanIpLenient(ReadText(rs, c.name)).data(), 4);
                break;
            case Kind::Mac:
                std::memcpy(field, ScanMacLenient(ReadText(rs, c.name)).data(), 6);
                break;
            case Kind::Text:
                SetFieldText(field, c.size, bytes[c.lenOffset], ReadText(rs, c.name));
                break;
            case Kind::RecordMac: {
                const std::string mac = ReadText(rs, c.name);
                std::memcpy(rec.mac, mac.data(), std::min(mac.size(), sizeof rec.mac - 1));
                break;
            }
            case Kind::Label:
            case Kind::IpNum:
                break;
        }
    }
}

// What SaveApInfo writes into each column, in kApColumns order. Worked out before the
// store's lock is taken: the labels go through the language lookup.
using ColumnValue = std::variant<int32_t, uint32_t, std::string>;
std::vector<ColumnValue> ApInfoToRow(const ap_info_stu& rec) {
    std::vector<ColumnValue> row;
    row.reserve(std::size(kApColumns));
    const auto* bytes = reinterpret_cast<const uint8_t*>(&rec);
    for (const ApColumn& c : kApColumns) {
        const uint8_t* field = bytes + c.offset;
        switch (c.kind) {
            case Kind::Int:
                // The 32-bit counters keep their full unsigned range.
                if (c.size == 4)
                    row.emplace_back(IntField(rec, c));
                else
                    row.emplace_back(static_cast<int32_t>(IntField(rec, c)));
                break;
            case Kind::Status:
                row.emplace_back(rec.ap_status);
                break;
            case Kind::Ip:
                row.emplace_back(IpToText(field));
                break;
            case Kind::Mac:
                row.emplace_back(MacToText(field));
                break;
            case Kind::Text:
                row.emplace_back(FieldString(field, c.size, bytes[c.lenOffset]));
                break;
            case Kind::RecordMac:
                row.emplace_back(RecordMac(rec));
                break;
            case Kind::Label:
                row.emplace_back(c.label(rec));
                break;
            case Kind::IpNum:
                row.emplace_back(IpNumColumn(rec.ip));
                break;
        }
    }
    return row;
}

// The process-wide message route.
std::mutex g_messageLock;
CSqlManagement::MessageHandler g_messageHandler;
std::vector<std::string> g_pendingMessages;

void RaiseMessage(const CSqlManagement::MessageHandler& own, const std::string& text) {
    if (own) {
        own(text);
        return;
    }
    CSqlManagement::MessageHandler handler;
    {
        std::lock_guard lock(g_messageLock);
        if (!g_messageHandler) {
            g_pendingMessages.push_back(text);
            return;
        }
        handler = g_messageHandler;
    }
    handler(text);
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

std::vector<std::string> ApInfoSchema() {
    std::vector<std::string> out;
    for (std::size_t st = 0; st < std::size(kApStatements); ++st) {
        std::string sql = kApStatements[st].head;
        bool first = true;
        for (const ApColumn& c : kApColumns) {
            if (c.statement != st) continue;
            if (!first) sql += kApStatements[st].separator;
            sql += std::string(c.name) + " " + c.type;
            first = false;
        }
        out.push_back(sql + kApStatements[st].tail);
    }
    return out;
}

std::string ChooseDatabaseDirectory(const std::string& executableDirectory) {
    if (!executableDirectory.empty() && InstallPrefixOf(executableDirectory).empty() &&
        access(executableDirectory.c_str(), W_OK | X_OK) == 0) {
        return WithSlash(executableDirectory);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && access(runtime, W_OK | X_OK) == 0) {
        return WithSlash(runtime);
    }
    return WithSlash(PrivateTempDirectory());
}

std::string DefaultDatabasePath() {
    std::string dir = ChooseDatabaseDirectory(GetExecutableDirectory());
    return dir.empty() ? std::string() : dir + "data.mdb";
}

}  // namespace fd

using fd::SqlParams;
using fd::SqlValue;

CSqlManagement* CSqlManagement::GetInstance() {
    static CSqlManagement instance(fd::DefaultDatabasePath());
    return &instance;
}

void CSqlManagement::SetMessageHandler(MessageHandler handler) {
    std::vector<std::string> pending;
    {
        std::lock_guard lock(fd::g_messageLock);
        fd::g_messageHandler = handler;
        if (handler) pending.swap(fd::g_pendingMessages);
    }
    for (const std::string& text : pending) handler(text);
}

CSqlManagement::CSqlManagement(std::string databasePath, MessageHandler onMessage)
    : m_path(std::move(databasePath)) {
    // Nothing of an earlier run is kept; a file that cannot be removed is left to
    // CreateSchema, which then uses it as it is.
    if (!m_path.empty()) unlink(m_path.c_str());
    m_connectionString = fd::kProviderPrefix + m_path;
    CreateSchema();
    bool opened = !m_path.empty() && m_db.Open(m_connectionString);
    if (!opened) fd::RaiseMessage(onMessage, fd::GetLangText(fd::kOpenFailedMessage));
    m_rs.Bind(&m_db);
}

CSqlManagement::~CSqlManagement() {
    {
        std::lock_guard lock(m_lock);
        m_rs.Close();
        m_db.Close();
    }
    if (!m_path.empty()) {
        unlink(m_path.c_str());
        unlink((m_path + "-journal").c_str());
    }
}

bool CSqlManagement::CreateSchema() {
    if (m_path.empty()) return false;
    struct stat st {};
    if (lstat(m_path.c_str(), &st) == 0) return true;
    {
        std::lock_guard lock(m_lock);
        if (!m_db.Create(m_connectionString) || !m_db.Open(m_connectionString)) return false;
    }
    for (const std::string& statement : fd::ApInfoSchema()) ExecuteSql(statement);
    ExecuteSql(fd::kOtherApTable);
    for (const char* statement : fd::kIndexes) ExecuteSql(statement);
    std::lock_guard lock(m_lock);
    m_db.Close();
    return true;
}

bool CSqlManagement::ExecuteSql(const std::string& sql, const SqlParams& params) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::lock_guard lock(m_lock);
        if (m_db.IsOpen() && m_db.Execute(sql, params)) return true;
    }
    return false;
}

bool CSqlManagement::IsOpen() {
    std::lock_guard lock(m_lock);
    return m_db.IsOpen();
}

std::string CSqlManagement::GetLastDatabaseError() {
    std::lock_guard lock(m_lock);
    return m_db.GetLastErrorString();
}

std::string CSqlManagement::GetLastQueryError() {
    std::lock_guard lock(m_lock);
    return m_rs.GetLastErrorString();
}

bool CSqlManagement::QueryApPage(int sortColumn, ApInfoList& list, int& pageCount, int& rowCount,
                                 int pageSize, int pageNumber, bool ascending,
                                 const std::string& filterText) {
    if (sortColumn < 0 || sortColumn >= static_cast<int>(fd::kApSortColumns.size()) ||
        pageSize < 1) {
        return false;
    }
    const std::string where =
        filterText.empty() ? std::string() : " " + fd::FilterClause(filterText);
    const std::string direction = ascending ? " asc" : " desc";
    const std::string sortColumnName = fd::kApSortColumns[static_cast<std::size_t>(sortColumn)];
    SqlParams countParams;
    if (!filterText.empty()) {
        countParams.emplace_back(fd::AsciiLower(filterText));
        countParams.emplace_back(filterText);
    }
    SqlParams pageParams = countParams;
    const std::string limit = filterText.empty() ? " limit ?1 offset ?2" : " limit ?3 offset ?4";
    const int64_t offset = (static_cast<int64_t>(pageNumber) - 1) * pageSize;
    pageParams.emplace_back(static_cast<int64_t>(pageSize));
    pageParams.emplace_back(offset);

    // The page's keys are picked from narrow rows (key and sort columns); only the page's
    // own rows are then read in full. With a filter, the rows are counted in the same pass
    // so that the filter runs over the table once.
    const bool countInPass = !filterText.empty();

    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    // Devices that have only answered a search come last, in the order they answered; ties
    // on the sort column are broken by mac, so that pages never overlap or skip a row. Once
    // a search is over there are none, and the plain order is cheaper to sort by.
    bool anyDiscovered = false;
    if (m_rs.Open("select 1 as found from ap_info where ap_status=10 limit 1")) {
        anyDiscovered = !m_rs.IsEof();
        m_rs.Close();
    }
    const std::string order =
        std::string(" order by ") +
        (anyDiscovered ? "ap_info.ap_status=10, case when ap_info.ap_status=10 then ap_info.ID end, "
                       : "") +
        "ap_info." + sortColumnName + direction + ", ap_info.mac" + direction;
    const std::string pageSql =
        std::string("select ap_info.*") + (countInPass ? ", page.page_rows, page.listed_rows" : "") +
        " from (select ap_info.ID as page_id" +
        (countInPass ? ", count(*) over () as page_rows, "
                       "sum(ap_info.ap_status<>10) over () as listed_rows"
                     : "") +
        " from ap_info " + where + order + limit +
        ") as page join ap_info on ap_info.ID = page.page_id" + order;

    int64_t rows = -1;
    int64_t listed = 0;
    if (pageNumber >= 1) {
        if (!m_rs.Open(pageSql, pageParams)) return false;
        if (countInPass && !m_rs.IsEof()) {
            rows = fd::ReadInt(m_rs, "page_rows");
            listed = fd::ReadInt(m_rs, "listed_rows");
        }
        for (; !m_rs.IsEof(); m_rs.MoveNext()) {
            ap_info_stu rec;
            fd::RowToApInfo(m_rs, rec);
            list.push_back(rec);
        }
        m_rs.Close();
    }
    // No filter (counting is cheap), or an empty page: count on its own.
    if (rows < 0) {
        const std::string listedSql =
            anyDiscovered ? "coalesce(sum(ap_info.ap_status<>10),0)" : "count(*)";
        if (!m_rs.Open("select count(*) as row_count, " + listedSql + " as listed_rows from ap_info " +
                           where,
                       countParams)) {
            return false;
        }
        rows = fd::ReadInt(m_rs, "row_count");
        listed = fd::ReadInt(m_rs, "listed_rows");
        m_rs.Close();
    }
    rowCount += static_cast<int>(listed);
    pageCount = static_cast<int>(rows / pageSize + (rows % pageSize ? 1 : 0));
    return true;
}

bool CSqlManagement::QueryApIpList(std::vector<std::string>& ips) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (m_rs.Open("select ip from ap_info where ap_status<>10 order by ID")) {
        for (; !m_rs.IsEof(); m_rs.MoveNext()) ips.push_back(fd::ReadText(m_rs, "ip"));
        m_rs.Close();
    }
    return true;
}

bool CSqlManagement::QueryApMacList(std::vector<std::string>& macs) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (m_rs.Open("select mac from ap_info where ap_status<>10 order by ID")) {
        for (; !m_rs.IsEof(); m_rs.MoveNext()) macs.push_back(fd::ReadText(m_rs, "mac"));
        m_rs.Close();
    }
    return true;
}

bool CSqlManagement::QueryApByMac(const std::string& mac, ap_info_stu& rec) {
    std::memset(&rec, 0, sizeof rec);
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    // A device that has only answered a search has no record to act on yet.
    bool opened = mac.empty()
                      ? m_rs.Open("select * from ap_info where ap_status<>10 order by ID limit 1")
                      : m_rs.Open("select * from ap_info where mac=? and ap_status<>10", {mac});
    if (!opened) return false;
    bool found = !m_rs.IsEof();
    if (found) fd::RowToApInfo(m_rs, rec);
    m_rs.Close();
    return found;
}

namespace {
void RowToOtherAp(CADORecordset& rs, config_otherwl_basic& rec) {
    std::memset(&rec, 0, sizeof rec);
    auto mac = fd::ScanMacLenient(fd::ReadText(rs, "mac"));
    std::memcpy(rec.mac, mac.data(), sizeof rec.mac);
    fd::ReadField(rs, "ssid", rec.ssid, rec.ssid_len);
    rec.channel = static_cast<uint8_t>(fd::ReadInt(rs, "channel"));
    rec.secure_mode = static_cast<uint8_t>(fd::ReadInt(rs, "secure_mode"));
    rec.signal = static_cast<int8_t>(fd::ReadInt(rs, "signal"));
    rec.exchannel = static_cast<uint8_t>(fd::ReadInt(rs, "exchannel"));
    rec.bandwidth = static_cast<uint8_t>(fd::ReadInt(rs, "bandwidth"));
}
}  // namespace

bool CSqlManagement::QueryOtherApList(int sortColumn, OtherApList& list, bool ascending) {
    if (sortColumn < 0 || sortColumn >= static_cast<int>(fd::kOtherSortColumns.size())) {
        return false;
    }
    const std::string direction = ascending ? " asc" : " desc";
    const std::string sql = std::string("select * from ap_other_info order by ") +
                            fd::kOtherSortColumns[static_cast<std::size_t>(sortColumn)] +
                            direction + ", mac" + direction;
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen() || !m_rs.Open(sql)) return false;
    for (; !m_rs.IsEof(); m_rs.MoveNext()) {
        config_otherwl_basic rec;
        RowToOtherAp(m_rs, rec);
        list.push_back(rec);
    }
    m_rs.Close();
    return true;
}

bool CSqlManagement::QueryOtherApByMac(const std::string& mac, config_otherwl_basic& rec) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen() || !m_rs.Open("select * from ap_other_info where mac=?", {mac})) {
        return false;
    }
    bool found = !m_rs.IsEof();
    if (found) RowToOtherAp(m_rs, rec);
    m_rs.Close();
    return found;
}

bool CSqlManagement::SaveApInfo(const ap_info_stu& rec) {
    const std::string mac = fd::RecordMac(rec);
    if (mac.empty()) return false;
    ap_info_stu online = rec;
    online.ap_status = fd::AP_STATUS_ONLINE;
    SqlParams params;
    params.reserve(std::size(fd::kApColumns));
    for (fd::ColumnValue& value : fd::ApInfoToRow(online)) {
        std::visit(
            [&](auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>)
                    params.emplace_back(std::move(v));
                else
                    params.emplace_back(static_cast<int64_t>(v));
            },
            value);
    }
    // One statement, prepared once, whether the device is new, known from its search answer
    // only, or known with its information: the row keeps its ID (and so its place among
    // rows of equal sort keys).
    static const std::string sql = [] {
        std::string columns, values, updates;
        int n = 0;
        for (const fd::ApColumn& c : fd::kApColumns) {
            const std::string name = c.name;
            if (n) {
                columns += ',';
                values += ',';
            }
            columns += name;
            values += '?' + std::to_string(++n);
            if (name == "mac") continue;
            if (!updates.empty()) updates += ',';
            updates += name + "=excluded." + name;
        }
        return "insert into ap_info(" + columns + ") values(" + values +
               ") on conflict(mac) do update set " + updates;
    }();
    std::lock_guard lock(m_lock);
    return m_db.IsOpen() && m_db.Execute(sql, params);
}

bool CSqlManagement::SaveDiscoveredDevice(const ap_info_stu& rec) {
    const std::string mac = fd::RecordMac(rec);
    if (mac.empty()) return false;
    // Only what a search reply carries: the other columns stay empty until the device's
    // information fills the row. A search answered by thousands of devices writes a row for
    // each of them, so this is one small statement, prepared once.
    const SqlParams params = {
        mac,
        static_cast<int64_t>(rec.ap_type),
        static_cast<int64_t>(fd::AP_STATUS_DISCOVERED),
        static_cast<int64_t>(rec.work_mode),
        static_cast<int64_t>(rec.mode_btn_status),
        static_cast<int64_t>(rec.up_time),
        fd::IpToText(rec.ip),
        static_cast<int64_t>(fd::IpNumColumn(rec.ip)),
        fd::FieldString(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len),
        fd::FieldString(rec.version, sizeof rec.version, rec.version_len),
        fd::FieldString(rec.ssid, sizeof rec.ssid, rec.ssid_len),
        static_cast<int64_t>(rec.channel),
        static_cast<int64_t>(rec.bridge_transparent),
        static_cast<int64_t>(rec.tdmaEn),
    };
    static const std::string sql = [] {
        // In the order of the parameters above.
        constexpr const char* kColumns[] = {
            "mac",    "ap_type", "ap_status", "work_mode", "mode_btn_status", "up_time",
            "ip",     "ip_num",  "ap_name",   "version",   "ssid",            "channel",
            "bridge_transparent", "tdmaEn"};
        std::string columns, values, updates;
        int n = 0;
        auto add = [&](const std::string& name) {
            if (n) {
                columns += ',';
                values += ',';
            }
            columns += name;
            values += '?' + std::to_string(++n);
            if (name == "mac") return;
            if (!updates.empty()) updates += ',';
            updates += name + "=excluded." + name;
        };
        for (const char* c : kColumns) add(c);
        return "insert into ap_info(" + columns + ") values(" + values +
               ") on conflict(mac) do update set " + updates + " where ap_info.ap_status=10";
    }();
    std::lock_guard lock(m_lock);
    return m_db.IsOpen() && m_db.Execute(sql, params);
}

bool CSqlManagement::DeleteDiscoveredDevices() {
    return ExecuteSql("delete from ap_info where ap_status=?",
                      {static_cast<int64_t>(fd::AP_STATUS_DISCOVERED)});
}

bool CSqlManagement::SaveOtherApList(const fd::ScanResult& scan) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    bool all = true;
    for (const config_otherwl_basic& entry : scan.entries) {
        const std::string mac = fd::MacToText(entry.mac);
        const std::string ssid = fd::FieldString(entry.ssid, sizeof entry.ssid, entry.ssid_len);
        if (!m_rs.Open("select * from ap_other_info where mac=?", {mac})) {
            all = false;
            continue;
        }
        bool ok = true;
        if (m_rs.GetRecordCount() > 0) {
            m_rs.Edit();
        } else {
            ok = m_rs.AddNew();
        }
        ok = ok && m_rs.SetFieldValue("packet_count", static_cast<int32_t>(scan.packet_count)) &&
             m_rs.SetFieldValue("packet_id", static_cast<int32_t>(scan.packet_id)) &&
             m_rs.SetFieldValue("icount", static_cast<int32_t>(scan.icount)) &&
             m_rs.SetFieldValue("mac", std::string_view(mac)) &&
             m_rs.SetFieldValue("ssid", std::string_view(ssid)) &&
             m_rs.SetFieldValue("signal", static_cast<int32_t>(entry.signal)) &&
             m_rs.SetFieldValue("channel", static_cast<int32_t>(entry.channel)) &&
             m_rs.SetFieldValue("secure_mode", static_cast<int32_t>(entry.secure_mode)) &&
             m_rs.SetFieldValue("exchannel", static_cast<int32_t>(entry.exchannel)) &&
             m_rs.SetFieldValue("bandwidth", static_cast<int32_t>(entry.bandwidth));
        if (ok) {
            ok = m_rs.Update();
        } else {
            m_rs.CancelUpdate();
        }
        m_rs.Close();
        all = all && ok;
    }
    return all;
}

void CSqlManagement::BeginWriteBatch() {
    std::lock_guard lock(m_lock);
    // A transaction left open by a commit that failed is simply carried on.
    if (m_batchDepth++ == 0 && m_db.IsOpen() && sqlite3_get_autocommit(m_db.Handle()))
        m_db.Execute("BEGIN");
}

void CSqlManagement::EndWriteBatch() {
    std::lock_guard lock(m_lock);
    if (m_batchDepth == 0) return;
    if (--m_batchDepth == 0 && m_db.IsOpen() && !sqlite3_get_autocommit(m_db.Handle()))
        m_db.Execute("COMMIT");
}

bool CSqlManagement::DeleteApByMac(const std::string& mac) {
    return ExecuteSql("delete from ap_info where mac=?", {mac});
}

bool CSqlManagement::DeleteAllOtherAp() {
    return ExecuteSql("delete from ap_other_info");
}

bool CSqlManagement::UpdateApUpTime(const std::string& ip, const std::string& mac,
                                    uint32_t seconds) {
    const std::string upTimeStr = fd::GetUptimeText(seconds);
    const auto ipBytes = fd::ScanIpLenient(ip);
    const std::string ipText = fd::IpToText(ipBytes.data());
    const uint32_t ipNum = fd::IpNumColumn(ipBytes.data());
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    return m_db.Execute("update ap_info set up_time=?1,up_time_str=?2,ip=?3,ip_num=?4 where mac=?5",
                        {static_cast<int64_t>(seconds), upTimeStr, ipText,
                         static_cast<int64_t>(ipNum), mac}) &&
           m_db.GetRecordsAffected() > 0;
}

bool CSqlManagement::MoveStatus(const std::string& mac, int from, int to) {
    const std::string label = fd::GetStatusLabel(to);
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    // A device that has only answered a search has no status to move.
    bool ok = from < 0 ? m_db.Execute(
                             "update ap_info set ap_status=?1,ap_status_str=?2 "
                             "where mac=?3 and ap_status<>10",
                             {static_cast<int64_t>(to), label, mac})
                       : m_db.Execute(
                             "update ap_info set ap_status=?1,ap_status_str=?2 "
                             "where mac=?3 and ap_status=?4",
                             {static_cast<int64_t>(to), label, mac, static_cast<int64_t>(from)});
    return ok && m_db.GetRecordsAffected() > 0;
}

bool CSqlManagement::IsApUpgradeWait(const std::string& mac) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (!m_rs.Open("select ap_status from ap_info where mac=? and ap_status=?",
                   {mac, static_cast<int64_t>(fd::AP_STATUS_UPGRADE_WAIT)})) {
        return false;
    }
    bool found = !m_rs.IsEof();
    m_rs.Close();
    return found;
}

bool CSqlManagement::SetApUpgrading(const std::string& mac) {
    return MoveStatus(mac, fd::AP_STATUS_UPGRADE_WAIT, fd::AP_STATUS_UPGRADING);
}

bool CSqlManagement::SetApStatus(const std::string& mac, int status) {
    return MoveStatus(mac, -1, status);
}

bool CSqlManagement::ResetApUpgradeFail(const std::string& mac) {
    return MoveStatus(mac, fd::AP_STATUS_UPGRADE_FAIL, fd::AP_STATUS_ONLINE);
}

int CSqlManagement::GetApStatus(const std::string& mac) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen() ||
        !m_rs.Open("select ap_status from ap_info where mac=? and ap_status<>10", {mac})) {
        return 0;
    }
    int status = m_rs.IsEof() ? 0 : static_cast<int>(fd::ReadInt(m_rs, "ap_status"));
    m_rs.Close();
    return status;
}

bool CSqlManagement::HasBridgedStation(const std::string& mac) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen() || !m_rs.Open("select ssid_mac from ap_info where mac=?", {mac})) {
        return false;
    }
    std::string ssidMac = m_rs.IsEof() ? std::string() : fd::ReadText(m_rs, "ssid_mac");
    m_rs.Close();
    if (fd::IsUnlinkedMac(ssidMac)) return false;
    if (!m_rs.Open("select mac from ap_info where work_mode=? and bridge_mac=?",
                   {static_cast<int64_t>(fd::WORK_MODE_STATION), ssidMac})) {
        return false;
    }
    bool found = !m_rs.IsEof();
    m_rs.Close();
    return found;
}

bool CSqlManagement::FindBridgePeer(const std::string& mac, std::string& peerMac) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen() ||
        !m_rs.Open("select work_mode,ssid_mac,bridge_mac from ap_info where mac=?", {mac})) {
        return false;
    }
    if (m_rs.IsEof()) {
        m_rs.Close();
        return false;
    }
    const bool station = fd::ReadInt(m_rs, "work_mode") == fd::WORK_MODE_STATION;
    const std::string key = fd::ReadText(m_rs, station ? "bridge_mac" : "ssid_mac");
    m_rs.Close();
    if (fd::IsUnlinkedMac(key)) return false;
    // A Station looks for the access point it is linked to; anything else for a Station
    // linked to it.
    const char* sql =
        station ? "select mac from ap_info where work_mode<>? and ssid_mac=? order by ID"
                : "select mac from ap_info where work_mode=? and bridge_mac=? order by ID";
    if (!m_rs.Open(sql, {static_cast<int64_t>(fd::WORK_MODE_STATION), key})) return false;
    bool found = !m_rs.IsEof();
    if (found) peerMac = fd::ReadText(m_rs, "mac");
    m_rs.Close();
    return found;
}
