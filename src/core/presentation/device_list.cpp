#include "presentation/device_list.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "config/labels.h"
#include "config/language.h"
#include "rules/address_rules.h"
#include "wire/utf8.h"

namespace fd {

namespace {

using C = ColumnContent;

// Every column the pages show, once: header, width and sort column. The reboot and restore
// pages have no widths of their own; they use the status page's for the columns they share.
constexpr DeviceColumn kTick{"", 20, -1, C::Tick};
constexpr DeviceColumn kSerial{"Serial", 40, -1, C::Serial};
constexpr DeviceColumn kLocation{"Location", 90, 2, C::Location};
constexpr DeviceColumn kType{"Type", 55, 3, C::Type};
constexpr DeviceColumn kIp{"IP", 102, 1, C::Ip};
constexpr DeviceColumn kMac{"MAC", 112, 0, C::Mac};
constexpr DeviceColumn kOperationMode{"OperationMode", 66, 4, C::OperationMode};
constexpr DeviceColumn kSsid{"SSID", 100, 5, C::Ssid};
constexpr DeviceColumn kChannel{"Channel", 65, 6, C::Channel};
constexpr DeviceColumn kSecureMode{"SecureMode", 80, 7, C::SecureMode};
constexpr DeviceColumn kPower{"Power", 50, 8, C::Power};
constexpr DeviceColumn kVersion{"Version", 60, 9, C::Version};
constexpr DeviceColumn kTransparentBridge{"Transparent bridge", 100, 10, C::TransparentBridge};
constexpr DeviceColumn kAirSlot{"AirSlot", 70, 11, C::AirSlot};
constexpr DeviceColumn kTime{"Time", 70, 12, C::Time};
constexpr DeviceColumn kStatus{"Status", 80, 13, C::Status};
constexpr DeviceColumn kOperate{"Operate", 70, -1, C::Operate};

constexpr DeviceColumn kStatusColumns[] = {
    kTick, kSerial, kLocation, kType, kIp, kMac, kOperationMode, kSsid, kChannel, kVersion,
    kTransparentBridge, kAirSlot, kTime, kOperate,
};
constexpr DeviceColumn kRebootColumns[] = {
    kTick, kSerial, kLocation, kType, kIp, kMac, kOperationMode, kSsid, kChannel, kSecureMode,
    kStatus,
};
constexpr DeviceColumn kRestoreColumns[] = {
    kTick, kSerial, kLocation, kType, kIp, kMac, kOperationMode, kSsid, kChannel, kSecureMode,
    kPower, kStatus,
};
// The management page: no tick column; the Operate cell opens the configuration dialog.
constexpr DeviceColumn kManagementColumns[] = {
    kSerial, kLocation, kType, kIp, kMac, kOperationMode, kSsid, kChannel, kSecureMode, kPower,
    kOperate,
};

constexpr const char* kNotApplicable = "N/A";

std::string CellText(const ap_info_stu& rec, ColumnContent content, int serial) {
    switch (content) {
        case C::Tick:
        case C::Operate:
            return {};
        case C::Serial:
            return std::to_string(serial);
        case C::Location:
            return std::string(FieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len));
        case C::Type:
            return GetModelLabel(rec.ap_type);
        case C::Ip:
            return IpToText(rec.ip);
        case C::Mac:
            return std::string(rec.mac, strnlen(rec.mac, sizeof rec.mac));
        case C::OperationMode:
            return GetWorkModeLabel(rec.work_mode);
        case C::Ssid:
            return std::string(FieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len));
        case C::Channel:
            return GetChannelLabel(rec.channel);
        case C::Version: {
            std::string_view version = FieldText(rec.version, sizeof rec.version, rec.version_len);
            // Some firmware puts a build line after the version in its search reply; only
            // the first line is shown (the filter still finds the rest).
            if (rec.ap_status == AP_STATUS_DISCOVERED) version = version.substr(0, version.find('\n'));
            return std::string(version);
        }
        case C::TransparentBridge:
            return GetTransparentBridgeLabel(rec.ap_type, rec.work_mode, rec.bridge_transparent);
        case C::AirSlot:
            return GetAirSlotLabel(rec.ap_type, rec.tdmaEn);
        case C::Time:
            return GetUptimeText(rec.up_time);
        case C::SecureMode:
            return GetSecurityLabel(rec.secure_mode);
        case C::Power:
            return std::to_string(rec.tx_power);
        case C::Status:
            return GetStatusLabel(rec.ap_status);
    }
    return {};
}

}  // namespace

std::span<const DeviceColumn> StatusPageColumns() {
    return kStatusColumns;
}
std::span<const DeviceColumn> RebootPageColumns() {
    return kRebootColumns;
}
std::span<const DeviceColumn> ManagementPageColumns() {
    return kManagementColumns;
}
std::span<const DeviceColumn> RestorePageColumns() {
    return kRestoreColumns;
}

std::vector<std::string> ColumnWholeTexts(ColumnContent content) {
    std::vector<std::string> texts;
    switch (content) {
        case C::Tick:
        case C::Operate:
        case C::Location:
        case C::Ssid:
        case C::Version:
            break;
        case C::Serial:
            texts.emplace_back("9999");
            break;
        case C::Type:
            texts = GetModelLabels();
            break;
        case C::Ip:
            // Every digit in every place: whichever digit is widest in the font counts.
            for (char d = '0'; d <= '9'; ++d) {
                const std::string n(3, d);
                texts.push_back(n + '.' + n + '.' + n + '.' + n);
            }
            break;
        case C::Mac:
            for (const char h : std::string_view("0123456789abcdef")) {
                const std::string b(2, h);
                texts.push_back(b + ':' + b + ':' + b + ':' + b + ':' + b + ':' + b);
            }
            break;
        case C::OperationMode:
            for (int mode = 1; mode <= 7; ++mode) texts.push_back(GetWorkModeLabel(mode));
            break;
        case C::Channel:
            texts = {GetChannelLabel(0), "165"};
            break;
        case C::TransparentBridge:
        case C::AirSlot:
            texts = {GetTransparentBridgeLabel(1, 1, 1), GetTransparentBridgeLabel(1, 1, 0),
                     GetTransparentBridgeLabel(4, 1, 0)};
            break;
        case C::Time:
            texts.emplace_back("99 23:59:59");
            break;
        case C::SecureMode:
            for (int mode = 0; mode <= 6; ++mode) texts.push_back(GetSecurityLabel(mode));
            break;
        case C::Power:
            texts.emplace_back("100");
            break;
        case C::Status:
            for (int status = 0; status <= 9; ++status) texts.push_back(GetStatusLabel(status));
            break;
    }
    return texts;
}

std::string OnlineCountText(int count) {
    const std::string format = GetLangText(kOnlineCountKey);
    // The format comes from a language file: put the number in place of the first "%d" only,
    // never hand the text to printf.
    const std::string number = std::to_string(count);
    const auto at = format.find("%d");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + number + format.substr(at + 2);
}

DeviceRow MakeDeviceRow(const ap_info_stu& rec, std::span<const DeviceColumn> columns, int serial) {
    DeviceRow row;
    row.cells.reserve(columns.size());
    for (const auto& col : columns) row.cells.push_back(CellText(rec, col.content, serial));
    row.discoveredOnly = rec.ap_status == AP_STATUS_DISCOVERED;
    row.ip = IpToText(rec.ip);
    row.mac.assign(rec.mac, strnlen(rec.mac, sizeof rec.mac));
    row.modelCode = GetModelCode(GetModelLabel(rec.ap_type));
    row.status = rec.ap_status;
    row.bridge_transparent = rec.bridge_transparent;
    row.tdmaEn = rec.tdmaEn;
    row.bridgeConfigurable = GetTransparentBridgeLabel(rec.ap_type, rec.work_mode,
                                                       rec.bridge_transparent) != kNotApplicable;
    row.airSlotConfigurable = GetAirSlotLabel(rec.ap_type, rec.tdmaEn) != kNotApplicable;
    return row;
}

int StoreSortIndex(std::span<const DeviceColumn> columns, int column) {
    if (column < 0 || static_cast<std::size_t>(column) >= columns.size()) return 1;
    const int idx = columns[static_cast<std::size_t>(column)].sortIndex;
    return idx >= 0 ? idx : 1;
}

DeviceRows ListEveryDevice(IDeviceStore& store, std::span<const DeviceColumn> columns,
                           int storeSortIndex, bool ascending, const std::string& filter) {
    // The store's pages one after the other: devices with their information in the chosen
    // order, then those that have only answered a search.
    constexpr int kChunk = 100;
    DeviceRows out;
    int pageCount = 1;
    for (int page = 1; page <= pageCount; ++page) {
        ApInfoList stored;
        int rowCount = 0;
        if (!store.QueryApPage(storeSortIndex, stored, pageCount, rowCount, kChunk, page, ascending,
                               filter)) {
            out.queryOk = false;
            break;
        }
        // A store that hands back more than a page must not repeat rows of the next one.
        if (stored.size() > static_cast<std::size_t>(kChunk)) stored.resize(kChunk);
        for (const auto& rec : stored) {
            const int serial = static_cast<int>(out.rows.size()) + 1;
            out.rows.push_back(MakeDeviceRow(rec, columns, serial));
        }
        // The store may shrink while we read; its latest count decides.
    }
    return out;
}

std::optional<bool> ListSortState::HeaderClick(int column, std::span<const DeviceColumn> columns) {
    if (column < 0 || static_cast<std::size_t>(column) >= columns.size()) return std::nullopt;
    if (columns[static_cast<std::size_t>(column)].sortIndex < 0) return std::nullopt;
    m_sortColumn = column;
    const bool ascending = m_toggle;
    m_toggle = !m_toggle;
    return ascending;
}

DeviceListModel::DeviceListModel(IDeviceStore& store, std::span<const DeviceColumn> columns,
                                 const CommandLog* commands)
    : m_store(store), m_commands(commands), m_columns(columns) {
    m_current.countText = OnlineCountText(0);
    // Every list starts sorted by its IP column, wherever the page has put it.
    if (const int ip = ColumnOf(ColumnContent::Ip); ip >= 0) {
        m_sort.RememberColumn(ip);
        m_current.sortColumn = ip;
    }
}

bool DeviceListModel::SetPageSize(int rows) {
    if (std::find(kPageSizes.begin(), kPageSizes.end(), rows) == kPageSizes.end()) return false;
    m_pageSize = rows;
    return true;
}

const DeviceListPage& DeviceListModel::Reload(int page, bool ascending, int sortColumn,
                                              const std::string& filter) {
    if (page < 1) page = 1;
    DeviceListPage out;
    out.page = page;
    out.pageSize = m_pageSize;
    out.sortColumn = sortColumn;
    out.ascending = ascending;
    out.filter = filter;

    ApInfoList stored;
    int pageCount = 0;
    int rowCount = 0;
    out.queryOk = m_store.QueryApPage(StoreSortIndex(m_columns, sortColumn), stored, pageCount,
                                      rowCount, m_pageSize, page, ascending, filter);
    if (!out.queryOk) stored.clear();
    // A store that hands back more than a page must not push the list past its page size.
    if (stored.size() > static_cast<std::size_t>(m_pageSize)) stored.resize(m_pageSize);

    m_filter = filter;
    m_sort.RememberColumn(sortColumn);

    const int storedRows = static_cast<int>(stored.size());
    const int firstSerial = (page - 1) * m_pageSize + 1;
    out.rows.reserve(static_cast<std::size_t>(m_pageSize));
    for (int i = 0; i < storedRows; ++i) {
        const ap_info_stu& rec = stored[static_cast<std::size_t>(i)];
        if (rec.ap_status == AP_STATUS_DISCOVERED || m_commands == nullptr) {
            out.rows.push_back(MakeDeviceRow(rec, m_columns, firstSerial + i));
        } else {
            out.rows.push_back(PendingAwareRow(rec, firstSerial + i));
        }
        if (rec.ap_status != AP_STATUS_DISCOVERED) ++out.storedRows;
    }

    out.pageCount = pageCount;
    out.rowCount = rowCount;
    out.pagerPage = pageCount < page ? 1 : page;
    out.countText = OnlineCountText(rowCount);
    m_current = std::move(out);
    return m_current;
}

DeviceRow DeviceListModel::PendingAwareRow(const ap_info_stu& rec, int serial) const {
    const std::string mac(rec.mac, strnlen(rec.mac, sizeof rec.mac));
    const Verification v = m_commands->VerificationOf(mac);
    const bool failed = v.state == VerificationState::NotApplied ||
                        v.state == VerificationState::NoAnswer;
    // Once the read-back found a change not applied, the row shows what the device reports,
    // not the values sent.
    const auto pending = failed ? std::vector<CommandRecord>{} : m_commands->PendingChanges(mac);
    ap_info_stu shown = rec;
    for (const CommandRecord& c : pending) ApplySentValues(shown, c.command, c.body);
    DeviceRow row = MakeDeviceRow(shown, m_columns, serial);
    row.changePending = !pending.empty() || v.state == VerificationState::Pending;
    row.verification = v.state;
    row.verificationText = v.text;
    if (failed)
        for (std::size_t c = 0; c < m_columns.size() && c < row.cells.size(); ++c)
            if (m_columns[c].content == ColumnContent::Status) row.cells[c] = v.summary;
    return row;
}

const DeviceListPage& DeviceListModel::Refresh(int page) {
    return Reload(page, m_sort.ReloadAscending(), m_sort.SortColumn(), m_filter);
}

const DeviceListPage& DeviceListModel::SetFilter(const std::string& filter) {
    m_filter = filter;
    return Refresh(1);
}

bool DeviceListModel::HeaderClick(int column) {
    const auto ascending = m_sort.HeaderClick(column, m_columns);
    if (!ascending) return false;
    Reload(1, *ascending, m_sort.SortColumn(), m_filter);
    return true;
}

int DeviceListModel::ColumnOf(ColumnContent content) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].content == content) return static_cast<int>(i);
    }
    return -1;
}

RowsDiff DiffRows(const std::vector<DeviceRow>& before, const std::vector<DeviceRow>& after) {
    RowsDiff diff;
    for (std::size_t r = 0; r < after.size(); ++r) {
        const DeviceRow& now = after[r];
        const DeviceRow* was = r < before.size() ? &before[r] : nullptr;
        if (was != nullptr && (was->discoveredOnly != now.discoveredOnly ||
                               was->changePending != now.changePending ||
                               was->verification != now.verification ||
                               was->verificationText != now.verificationText)) {
            diff.restyledRows.push_back(static_cast<int>(r));
        }
        for (std::size_t c = 0; c < now.cells.size(); ++c) {
            const bool same =
                was != nullptr && c < was->cells.size() && was->cells[c] == now.cells[c];
            if (!same) diff.cells.push_back({static_cast<int>(r), static_cast<int>(c)});
        }
    }
    if (before.size() > after.size()) {
        diff.removeRows = true;
        diff.removeFrom = after.size();
    }
    return diff;
}

RenameDecision DecideRename(std::string_view newText, std::string_view oldText, int modelCode) {
    RenameDecision d;
    if (newText == oldText) return d;
    // An empty name is refused too: a device cannot be left without a name.
    if (!IsValidDeviceName(newText, modelCode)) {
        d.outcome = RenameOutcome::Refused;
        d.message = GetLangText(DeviceNameRuleMessage(modelCode));
        return d;
    }
    d.outcome = RenameOutcome::Accepted;
    d.name = Utf8Prefix(newText, 32);
    return d;
}

SelectionResult CollectSelection(const std::vector<DeviceRow>& rows,
                                 const std::vector<bool>& ticked, BulkAction action,
                                 IDeviceStore* store) {
    SelectionResult out;
    for (std::size_t i = 0; i < rows.size() && i < ticked.size(); ++i) {
        if (!ticked[i]) continue;
        const DeviceRow& row = rows[i];
        if (action == BulkAction::Bridge && !row.bridgeConfigurable) continue;
        if (action == BulkAction::AirSlot && !row.airSlotConfigurable) continue;
        out.devices.push_back({row.ip, row.mac, row.modelCode});
    }
    if (out.devices.empty()) {
        out.messageKey =
            action == BulkAction::AllTicked ? kMsgSelectDevices : kMsgSelectConfigurable;
        out.message = GetLangText(out.messageKey);
        return out;
    }
    // An empty mac would read the table's first row, which is some other device.
    if (store != nullptr && !out.devices.front().mac.empty()) {
        store->QueryApByMac(out.devices.front().mac, out.first);
    }
    if (action == BulkAction::Bridge) out.settingBlock[0] = out.first.bridge_transparent;
    if (action == BulkAction::AirSlot) out.settingBlock[1] = out.first.tdmaEn;
    return out;
}

void SetSettingChoice(SettingBlock& block, BulkAction action, int enable) {
    const uint8_t value = enable != 0 ? 1 : 0;
    if (action == BulkAction::Bridge) block[0] = value;
    if (action == BulkAction::AirSlot) block[1] = value;
}

}  // namespace fd
