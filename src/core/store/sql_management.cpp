#include "store/sql_management.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/language.h"
#include "config/labels.h"
#include "system/system_info.h"

namespace fd {
namespace {

constexpr const char* kProviderPrefix = "Provider=SQLite;Data Source=";
constexpr const char* kOpenFailedMessage = "Failed to open database, unable to get data.";

// The schema, in the dialect the store has always spoken; the access layer translates it.
constexpr std::array<const char*, 8> kSchema = {
    "CREATE TABLE ap_info(ID Counter,mac char(18),ap_type long,ap_type_str char(33),"
    "ap_status long,ap_status_str char(33),work_mode long,work_mode_str char(33),"
    "mode_btn_status long,up_time long,up_time_str char(33),ip_mode long,ip_num double,"
    "ip char(16),ip_mask char(16),ip_gateway char(16),ip_dns1 char(16),ip_dns2 char(16),"
    "ap_name char(33),version char(33))",
    "ALTER TABLE ap_info ADD restart_en long,restart_type long,restart_time long",
    "ALTER TABLE ap_info ADD rf_count long,rf_en long,rf_type long,country_code long,"
    "network_mode long,bandwidth long,channel long,expand_channel long,tx_power long,"
    "tx_power_min long,tx_power_max long",
    "ALTER TABLE ap_info ADD ssid_count long,ssid_rf_type long,ssid_id long,ssid_hide long,"
    "ssid_mac char(18),ssid char(33),secure_mode long,secure_mode_str char(33),"
    "wpapsk_auth_type long,wpapsk_key_value char(65),wpapsk_key_time long,wep_auth_type long,"
    "wep_key_index long,wep_key_value0 char(65),wep_key_type0 long,wep_key_value1 char(65),"
    "wep_key_type1 long,wep_key_value2 char(65),wep_key_type2 long,wep_key_value3 char(65),"
    "wep_key_type3 long,wpa_auth_type long,wpa_radius_ip char(16),wpa_radius_port long,"
    "wpa_key char(65),wpa_key_time long",
    "ALTER TABLE ap_info ADD bridge_work_mode long, bridge_mac char(18), bridge_channel long, "
    "bridge_ssid char(33)",
    "ALTER TABLE ap_info ADD vlan_en long,vlan_id long,vlan_id_wlan long,vlan_id_lan long",
    "ALTER TABLE ap_info ADD bridge_transparent long,bridge_transparent_str char(33),"
    "tdmaEn long,tdmaEn_str char(33),vlan_pvid long,vlan_id_lan3 long,vlan_id_lan4 long",
    "CREATE TABLE ap_other_info(ID Counter,packet_count long,packet_id long,icount long,"
    "mac char(18),ssid char(33),signal long,channel long,secure_mode long,exchannel long,"
    "bandwidth long)",
};

// Every lookup is by mac; the unique index also keeps a second row per mac out for good.
constexpr std::array<const char*, 2> kIndexes = {
    "CREATE UNIQUE INDEX ap_info_mac ON ap_info(mac)",
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

// One parameter (?1) holds the escaped pattern for every column tested.
std::string FilterClause(std::string_view filterText) {
    std::string out = "where ";
    bool first = true;
    for (const FilterColumn& column : kFilterColumns) {
        if (column.onlyChars &&
            filterText.find_first_not_of(column.onlyChars) != std::string_view::npos) {
            continue;
        }
        if (!first) out += " or ";
        out += std::string("ap_info.") + column.name + " like ?1 escape '\\'";
        first = false;
    }
    return out;
}

// '%', '_' and the escape character itself match only themselves.
std::string LikeContaining(std::string_view text) {
    std::string out = "%";
    out.reserve(text.size() * 2 + 2);
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out + "%";
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

std::string RecordMac(const ap_info_stu& rec) {
    return std::string(rec.mac, strnlen(rec.mac, sizeof rec.mac));
}

bool IsUnlinkedMac(std::string_view mac) {
    if (mac.empty()) return true;
    auto bytes = MacTextToBytes(mac);
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
void ReadIp(CADORecordset& rs, const char* column, uint8_t (&field)[N]) {
    static_assert(N == 4);
    auto bytes = IpTextToBytes(ReadText(rs, column));
    std::memcpy(field, bytes.data(), N);
}

template <std::size_t N>
void ReadField(CADORecordset& rs, const char* column, uint8_t (&field)[N], uint8_t& len) {
    SetFieldText(field, N, len, ReadText(rs, column));
}

// The current row of an ap_info query as a device record.
void RowToApInfo(CADORecordset& rs, ap_info_stu& rec) {
    std::memset(&rec, 0, sizeof rec);
    std::string mac = ReadText(rs, "mac");
    std::memcpy(rec.mac, mac.data(), std::min(mac.size(), sizeof rec.mac - 1));
    rec.ap_type = static_cast<uint16_t>(ReadInt(rs, "ap_type"));
    rec.ap_status = static_cast<int32_t>(ReadInt(rs, "ap_status"));
    rec.work_mode = static_cast<uint8_t>(ReadInt(rs, "work_mode"));
    rec.mode_btn_status = static_cast<uint8_t>(ReadInt(rs, "mode_btn_status"));
    rec.up_time = static_cast<uint32_t>(ReadInt(rs, "up_time"));
    rec.ip_mode = static_cast<uint8_t>(ReadInt(rs, "ip_mode"));
    ReadIp(rs, "ip", rec.ip);
    ReadIp(rs, "ip_mask", rec.ip_mask);
    ReadIp(rs, "ip_gateway", rec.ip_gateway);
    ReadIp(rs, "ip_dns1", rec.ip_dns1);
    ReadIp(rs, "ip_dns2", rec.ip_dns2);
    ReadField(rs, "ap_name", rec.ap_name, rec.ap_name_len);
    ReadField(rs, "version", rec.version, rec.version_len);
    rec.restart_en = static_cast<uint8_t>(ReadInt(rs, "restart_en"));
    rec.restart_type = static_cast<uint8_t>(ReadInt(rs, "restart_type"));
    rec.restart_time = static_cast<uint16_t>(ReadInt(rs, "restart_time"));
    rec.rf_count = static_cast<uint8_t>(ReadInt(rs, "rf_count"));
    rec.rf_en = static_cast<uint8_t>(ReadInt(rs, "rf_en"));
    rec.rf_type = static_cast<uint8_t>(ReadInt(rs, "rf_type"));
    rec.country_code = static_cast<uint8_t>(ReadInt(rs, "country_code"));
    rec.network_mode = static_cast<uint8_t>(ReadInt(rs, "network_mode"));
    rec.bandwidth = static_cast<uint8_t>(ReadInt(rs, "bandwidth"));
    rec.channel = static_cast<uint8_t>(ReadInt(rs, "channel"));
    rec.expand_channel = static_cast<uint8_t>(ReadInt(rs, "expand_channel"));
    rec.tx_power = static_cast<uint8_t>(ReadInt(rs, "tx_power"));
    rec.tx_power_min = static_cast<uint8_t>(ReadInt(rs, "tx_power_min"));
    rec.tx_power_max = static_cast<uint8_t>(ReadInt(rs, "tx_power_max"));
    rec.ssid_rf_type = static_cast<uint8_t>(ReadInt(rs, "ssid_rf_type"));
    rec.ssid_id = static_cast<uint8_t>(ReadInt(rs, "ssid_id"));
    rec.ssid_hide = static_cast<uint8_t>(ReadInt(rs, "ssid_hide"));
    ReadField(rs, "ssid", rec.ssid, rec.ssid_len);
    auto ssidMac = MacTextToBytes(ReadText(rs, "ssid_mac"));
    std::memcpy(rec.ssid_mac, ssidMac.data(), sizeof rec.ssid_mac);
    rec.ssid_count = static_cast<uint8_t>(ReadInt(rs, "ssid_count"));
    rec.secure_mode = static_cast<uint8_t>(ReadInt(rs, "secure_mode"));
    rec.wpapsk_auth_type = static_cast<uint8_t>(ReadInt(rs, "wpapsk_auth_type"));
    ReadField(rs, "wpapsk_key_value", rec.wpapsk_key_value, rec.wpapsk_key_value_len);
    rec.wpapsk_key_time = static_cast<uint32_t>(ReadInt(rs, "wpapsk_key_time"));
    rec.wep_auth_type = static_cast<uint8_t>(ReadInt(rs, "wep_auth_type"));
    rec.wep_key_index = static_cast<uint8_t>(ReadInt(rs, "wep_key_index"));
    ReadField(rs, "wep_key_value0", rec.wep_key_value0, rec.wep_key_value0_len);
    rec.wep_key_type0 = static_cast<uint8_t>(ReadInt(rs, "wep_key_type0"));
    ReadField(rs, "wep_key_value1", rec.wep_key_value1, rec.wep_key_value1_len);
    rec.wep_key_type1 = static_cast<uint8_t>(ReadInt(rs, "wep_key_type1"));
    ReadField(rs, "wep_key_value2", rec.wep_key_value2, rec.wep_key_value2_len);
    rec.wep_key_type2 = static_cast<uint8_t>(ReadInt(rs, "wep_key_type2"));
    ReadField(rs, "wep_key_value3", rec.wep_key_value3, rec.wep_key_value3_len);
    rec.wep_key_type3 = static_cast<uint8_t>(ReadInt(rs, "wep_key_type3"));
    rec.wpa_auth_type = static_cast<uint8_t>(ReadInt(rs, "wpa_auth_type"));
    ReadIp(rs, "wpa_radius_ip", rec.wpa_radius_ip);
    rec.wpa_radius_port = static_cast<uint16_t>(ReadInt(rs, "wpa_radius_port"));
    ReadField(rs, "wpa_key", rec.wpa_key, rec.wpa_key_len);
    rec.wpa_key_time = static_cast<uint32_t>(ReadInt(rs, "wpa_key_time"));
    rec.vlan_en = static_cast<uint8_t>(ReadInt(rs, "vlan_en"));
    rec.vlan_id = static_cast<uint16_t>(ReadInt(rs, "vlan_id"));
    rec.vlan_id_wlan = static_cast<uint16_t>(ReadInt(rs, "vlan_id_wlan"));
    rec.vlan_id_lan = static_cast<uint16_t>(ReadInt(rs, "vlan_id_lan"));
    rec.bridge_transparent = static_cast<uint8_t>(ReadInt(rs, "bridge_transparent"));
    rec.tdmaEn = static_cast<uint8_t>(ReadInt(rs, "tdmaEn"));
    rec.vlan_pvid = static_cast<uint16_t>(ReadInt(rs, "vlan_pvid"));
    rec.vlan_id_lan3 = static_cast<uint16_t>(ReadInt(rs, "vlan_id_lan3"));
    rec.vlan_id_lan4 = static_cast<uint16_t>(ReadInt(rs, "vlan_id_lan4"));
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

std::string ChooseDatabaseDirectory(const std::string& executableDirectory) {
    if (!executableDirectory.empty() && access(executableDirectory.c_str(), W_OK | X_OK) == 0) {
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
    for (const char* statement : fd::kSchema) ExecuteSql(statement);
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
    // Ties on the sort column are broken by mac, so that pages never overlap or skip a row.
    const std::string order = std::string(" order by ap_info.") +
                              fd::kApSortColumns[static_cast<std::size_t>(sortColumn)] + direction +
                              ", ap_info.mac" + direction;
    SqlParams countParams;
    if (!filterText.empty()) countParams.emplace_back(fd::LikeContaining(filterText));
    SqlParams pageParams = countParams;
    const std::string limit = filterText.empty() ? " limit ?1 offset ?2" : " limit ?2 offset ?3";
    const int64_t offset = (static_cast<int64_t>(pageNumber) - 1) * pageSize;
    pageParams.emplace_back(static_cast<int64_t>(pageSize));
    pageParams.emplace_back(offset);

    // The page's keys are picked from narrow rows (key and sort columns); only the page's
    // own rows are then read in full. With a filter, the rows are counted in the same pass
    // so that the filter runs over the table once.
    const bool countInPass = !filterText.empty();
    const std::string pageSql =
        std::string("select ap_info.*") + (countInPass ? ", page.page_rows" : "") +
        " from (select ap_info.ID as page_id" +
        (countInPass ? ", count(*) over () as page_rows" : "") + " from ap_info " + where + order +
        limit + ") as page join ap_info on ap_info.ID = page.page_id" + order;

    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    int64_t rows = -1;
    if (pageNumber >= 1) {
        if (!m_rs.Open(pageSql, pageParams)) return false;
        if (countInPass && !m_rs.IsEof()) rows = fd::ReadInt(m_rs, "page_rows");
        for (; !m_rs.IsEof(); m_rs.MoveNext()) {
            ap_info_stu rec;
            fd::RowToApInfo(m_rs, rec);
            list.push_back(rec);
        }
        m_rs.Close();
    }
    // No filter (counting is cheap), or an empty page: count on its own.
    if (rows < 0) {
        if (!m_rs.Open("select count(*) as row_count from ap_info " + where, countParams)) {
            return false;
        }
        rows = fd::ReadInt(m_rs, "row_count");
        m_rs.Close();
    }
    rowCount += static_cast<int>(rows);
    pageCount = static_cast<int>(rows / pageSize + (rows % pageSize ? 1 : 0));
    return true;
}

bool CSqlManagement::QueryApIpList(std::vector<std::string>& ips) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (m_rs.Open("select ip from ap_info order by ID")) {
        for (; !m_rs.IsEof(); m_rs.MoveNext()) ips.push_back(fd::ReadText(m_rs, "ip"));
        m_rs.Close();
    }
    return true;
}

bool CSqlManagement::QueryApMacList(std::vector<std::string>& macs) {
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (m_rs.Open("select mac from ap_info order by ID")) {
        for (; !m_rs.IsEof(); m_rs.MoveNext()) macs.push_back(fd::ReadText(m_rs, "mac"));
        m_rs.Close();
    }
    return true;
}

bool CSqlManagement::QueryApByMac(const std::string& mac, ap_info_stu& rec) {
    std::memset(&rec, 0, sizeof rec);
    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    bool opened = mac.empty() ? m_rs.Open("select * from ap_info order by ID limit 1")
                              : m_rs.Open("select * from ap_info  where mac=?", {mac});
    if (!opened) return false;
    bool found = !m_rs.IsEof();
    if (found) fd::RowToApInfo(m_rs, rec);
    m_rs.Close();
    return found;
}

namespace {
void RowToOtherAp(CADORecordset& rs, config_otherwl_basic& rec) {
    std::memset(&rec, 0, sizeof rec);
    auto mac = fd::MacTextToBytes(fd::ReadText(rs, "mac"));
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
    using fd::FieldString;
    const std::string mac = fd::RecordMac(rec);
    if (mac.empty()) return false;
    const std::string ip = fd::IpToText(rec.ip);
    const std::string ipMask = fd::IpToText(rec.ip_mask);
    const std::string ipGateway = fd::IpToText(rec.ip_gateway);
    const std::string ipDns1 = fd::IpToText(rec.ip_dns1);
    const std::string ipDns2 = fd::IpToText(rec.ip_dns2);
    const std::string radiusIp = fd::IpToText(rec.wpa_radius_ip);
    const std::string ssidMac = fd::MacToText(rec.ssid_mac);
    const std::string bridgeMac = fd::MacToText(rec.bridge_mac);
    const std::string apName = FieldString(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len);
    const std::string version = FieldString(rec.version, sizeof rec.version, rec.version_len);
    const std::string ssid = FieldString(rec.ssid, sizeof rec.ssid, rec.ssid_len);
    const std::string bridgeSsid =
        FieldString(rec.bridge_ssid, sizeof rec.bridge_ssid, rec.bridge_ssid_len);
    const std::string pskKey =
        FieldString(rec.wpapsk_key_value, sizeof rec.wpapsk_key_value, rec.wpapsk_key_value_len);
    const std::string wep0 =
        FieldString(rec.wep_key_value0, sizeof rec.wep_key_value0, rec.wep_key_value0_len);
    const std::string wep1 =
        FieldString(rec.wep_key_value1, sizeof rec.wep_key_value1, rec.wep_key_value1_len);
    const std::string wep2 =
        FieldString(rec.wep_key_value2, sizeof rec.wep_key_value2, rec.wep_key_value2_len);
    const std::string wep3 =
        FieldString(rec.wep_key_value3, sizeof rec.wep_key_value3, rec.wep_key_value3_len);
    const std::string wpaKey = FieldString(rec.wpa_key, sizeof rec.wpa_key, rec.wpa_key_len);
    const uint32_t ipNum = fd::IpBytesToUint(rec.ip);

    const std::string apTypeStr = fd::GetModelLabel(rec.ap_type);
    const std::string workModeStr = fd::GetWorkModeLabel(rec.work_mode);
    const std::string transparentStr =
        fd::GetTransparentBridgeLabel(rec.ap_type, rec.work_mode, rec.bridge_transparent);
    const std::string tdmaStr = fd::GetAirSlotLabel(rec.ap_type, rec.tdmaEn);
    const std::string upTimeStr = fd::GetUptimeText(rec.up_time);
    const std::string statusStr = fd::GetStatusLabel(fd::AP_STATUS_ONLINE);
    const std::string secureStr = fd::GetSecurityLabel(rec.secure_mode);

    std::lock_guard lock(m_lock);
    if (!m_db.IsOpen()) return false;
    if (!m_rs.Open("select * from ap_info where mac=?", {mac})) return false;
    bool ok = true;
    if (m_rs.GetRecordCount() > 0) {
        m_rs.Edit();
    } else {
        ok = m_rs.AddNew();
    }
    auto set = [&](const char* column, auto value) {
        using T = decltype(value);
        if constexpr (std::is_same_v<T, const char*>) {
            ok = m_rs.SetFieldValue(column, std::string_view(value)) && ok;
        } else if constexpr (std::is_unsigned_v<T> && sizeof(T) == 4) {
            ok = m_rs.SetFieldValue(column, static_cast<uint32_t>(value)) && ok;
        } else if constexpr (std::is_integral_v<T>) {
            ok = m_rs.SetFieldValue(column, static_cast<int32_t>(value)) && ok;
        } else {
            ok = m_rs.SetFieldValue(column, std::string_view(value)) && ok;
        }
    };
    if (ok) {
        set("mac", mac);
        set("ap_type", rec.ap_type);
        set("ap_type_str", apTypeStr);
        set("ap_status", static_cast<int32_t>(fd::AP_STATUS_ONLINE));
        set("ap_status_str", statusStr);
        set("work_mode", rec.work_mode);
        set("work_mode_str", workModeStr);
        set("mode_btn_status", rec.mode_btn_status);
        set("up_time", rec.up_time);
        set("up_time_str", upTimeStr);
        set("ip_mode", rec.ip_mode);
        set("ip_num", ipNum);
        set("ip", ip);
        set("ip_mask", ipMask);
        set("ip_gateway", ipGateway);
        set("ip_dns1", ipDns1);
        set("ip_dns2", ipDns2);
        set("ap_name", apName);
        set("version", version);
        set("restart_en", rec.restart_en);
        set("restart_type", rec.restart_type);
        set("restart_time", rec.restart_time);
        set("rf_count", rec.rf_count);
        set("rf_en", rec.rf_en);
        set("rf_type", rec.rf_type);
        set("country_code", rec.country_code);
        set("network_mode", rec.network_mode);
        set("bandwidth", rec.bandwidth);
        set("channel", rec.channel);
        set("expand_channel", rec.expand_channel);
        set("tx_power", rec.tx_power);
        set("tx_power_min", rec.tx_power_min);
        set("tx_power_max", rec.tx_power_max);
        set("ssid_count", rec.ssid_count);
        set("ssid_rf_type", rec.ssid_rf_type);
        set("ssid_id", rec.ssid_id);
        set("ssid_hide", rec.ssid_hide);
        set("ssid_mac", ssidMac);
        set("ssid", ssid);
        set("secure_mode", rec.secure_mode);
        set("secure_mode_str", secureStr);
        set("wpapsk_auth_type", rec.wpapsk_auth_type);
        set("wpapsk_key_value", pskKey);
        set("wpapsk_key_time", rec.wpapsk_key_time);
        set("wep_auth_type", rec.wep_auth_type);
        set("wep_key_index", rec.wep_key_index);
        set("wep_key_value0", wep0);
        set("wep_key_type0", rec.wep_key_type0);
        set("wep_key_value1", wep1);
        set("wep_key_type1", rec.wep_key_type1);
        set("wep_key_value2", wep2);
        set("wep_key_type2", rec.wep_key_type2);
        set("wep_key_value3", wep3);
        set("wep_key_type3", rec.wep_key_type3);
        set("wpa_auth_type", rec.wpa_auth_type);
        set("wpa_radius_ip", radiusIp);
        set("wpa_radius_port", rec.wpa_radius_port);
        set("wpa_key", wpaKey);
        set("wpa_key_time", rec.wpa_key_time);
        set("bridge_mac", bridgeMac);
        set("bridge_work_mode", rec.bridge_work_mode);
        set("bridge_channel", rec.bridge_channel);
        set("bridge_ssid", bridgeSsid);
        set("vlan_en", rec.vlan_en);
        set("vlan_id", rec.vlan_id);
        set("vlan_id_wlan", rec.vlan_id_wlan);
        set("vlan_id_lan", rec.vlan_id_lan);
        set("bridge_transparent", rec.bridge_transparent);
        set("bridge_transparent_str", transparentStr);
        set("tdmaEn", rec.tdmaEn);
        set("tdmaEn_str", tdmaStr);
        set("vlan_pvid", rec.vlan_pvid);
        set("vlan_id_lan3", rec.vlan_id_lan3);
        set("vlan_id_lan4", rec.vlan_id_lan4);
    }
    if (ok) {
        ok = m_rs.Update();
    } else {
        m_rs.CancelUpdate();
    }
    m_rs.Close();
    return ok;
}

bool CSqlManagement::SaveOtherApList(std::span<const uint8_t> scanBody) {
    const fd::ScanResult scan = fd::DecodeScanResult(scanBody);
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
    if (m_batchDepth++ == 0 && m_db.IsOpen()) m_db.Execute("BEGIN");
}

void CSqlManagement::EndWriteBatch() {
    std::lock_guard lock(m_lock);
    if (m_batchDepth == 0) return;
    if (--m_batchDepth == 0 && m_db.IsOpen()) m_db.Execute("COMMIT");
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
    const auto ipBytes = fd::IpTextToBytes(ip);
    const std::string ipText = fd::BytesToIpText(ipBytes.data());
    const uint32_t ipNum = fd::IpBytesToUint(ipBytes.data());
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
    bool ok = from < 0 ? m_db.Execute(
                             "update ap_info set ap_status=?1,ap_status_str=?2 "
                             "where mac=?3",
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
    if (!m_db.IsOpen() || !m_rs.Open("select ap_status from ap_info where mac=?", {mac})) {
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
