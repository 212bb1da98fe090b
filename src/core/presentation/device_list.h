#pragma once
// The device list every device page shows (status, reboot, restore), without any widget:
// the columns, the sort order, the paging, the rows to show with their texts, which cells
// changed since the last fill, the tick-box header, renaming in place and the selection the
// bulk actions work on. The page owns a DeviceListModel, forwards its user's actions to it
// and draws what it returns.
//
// Typical use by a page:
//   fd::DeviceListModel list(store, fd::StatusPageColumns());
//   list.Refresh(1);                          // first fill: page 1, IP descending
//   const auto& shown = list.Current();       // rows, pager, count text
//   if (list.HeaderClick(col)) redraw();      // columns without a sort key do nothing
//   auto diff = fd::DiffRows(before, list.Current().rows);  // cells to rewrite
//
// Nothing here is thread-safe: a model belongs to the user-interface thread. The store
// locks inside itself.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "actions/device_workers.h"
#include "model/command_log.h"
#include "model/device_store.h"
#include "wire/packet.h"

namespace fd {

// What a column shows.
enum class ColumnContent {
    Tick,      // tick box, no text
    Serial,    // running number over the pages
    Location,  // ap_name, the only column edited in place
    Type,      // model label
    Ip,
    Mac,
    OperationMode,  // work-mode label
    Ssid,
    Channel,  // channel label
    Version,
    TransparentBridge,  // transparent-bridge label ("N/A" where there is none)
    AirSlot,            // AirSlot label ("N/A" where there is none)
    Time,               // uptime text
    Operate,            // web-page button image, no text
    SecureMode,         // security label
    Power,              // tx_power
    Status,             // status label
};

struct DeviceColumn {
    const char* header;  // language key of the header text ("" for the tick column)
    int width;           // pixels
    int sortIndex;       // store sort column (IDeviceStore::QueryApPage), -1 when none
    ColumnContent content;
};

// The status page: tick, Serial, Location, Type, IP, MAC, OperationMode, SSID, Channel,
// Version, Transparent bridge, AirSlot, Time, Operate.
std::span<const DeviceColumn> StatusPageColumns();
// The reboot page: tick, Serial, Location, Type, IP, MAC, OperationMode, SSID, Channel,
// SecureMode, Status.
std::span<const DeviceColumn> RebootPageColumns();
// The restore page: the reboot page's columns with Power before Status.
std::span<const DeviceColumn> RestorePageColumns();
// The management page: Serial, Location, Type, IP, MAC, OperationMode, SSID, Channel,
// SecureMode, Power, Operate (no tick column).
std::span<const DeviceColumn> ManagementPageColumns();

// Values a column must always show in full: the longest texts it can hold (every label it
// shows, the widest address shapes). Empty for columns of free text (names, SSIDs,
// versions) and for the tick and image columns.
std::vector<std::string> ColumnWholeTexts(ColumnContent content);

// Rows per page the lists offer, and the one selected at start.
inline constexpr std::array<int, 4> kPageSizes{15, 30, 50, 100};
inline constexpr int kDefaultPageSize = 30;
// The IP column, the sort column before any header click.
inline constexpr int kDefaultSortColumn = 4;
// The text after the count in the list's footer ("%d" for the count); translated on use.
inline constexpr const char* kOnlineCountKey = "Online device count:%d";
// "Online device count:%d" translated, with the count put in.
std::string OnlineCountText(int count);

// One row as the grid shows it.
struct DeviceRow {
    std::vector<std::string> cells;  // one text per column; empty for Tick and Operate
    bool discoveredOnly = false;     // answered a search, information not yet delivered:
                                     // drawn in TextUnlineColor, no editing, no web page
    bool changePending = false;      // an acknowledged change the device has not reported
                                     // yet: the cells show the values sent
    // The read-back of the last change: Pending while it runs, then its result (the text,
    // "not applied: channel (sent 149, device reports 36)", for the row's tooltip; its short
    // form, "not applied", in the Status cell where the list has one).
    VerificationState verification = VerificationState::None;
    std::string verificationText;
    std::string ip;
    std::string mac;
    int modelCode = 1;  // the model code as read back from the Type label
    int status = 0;     // ap_status
    uint8_t bridge_transparent = 0;
    uint8_t tdmaEn = 0;
    bool bridgeConfigurable = false;   // the "Transparent bridge" label is not "N/A"
    bool airSlotConfigurable = false;  // the "AirSlot" label is not "N/A"

    bool operator==(const DeviceRow&) const = default;
};

// The cells of one device record for the given columns. serial is the Serial column's number.
// A record of status 10 makes a discovered-only row.
DeviceRow MakeDeviceRow(const ap_info_stu& rec, std::span<const DeviceColumn> columns, int serial);

// The store's sort column (IDeviceStore::QueryApPage) of a grid column; columns without one
// sort by ip_num.
int StoreSortIndex(std::span<const DeviceColumn> columns, int column);

// Every device the list shows for this order and filter, whatever the counts: every page of
// the store in its order (devices with their information, then discovered-only ones), serial
// numbers running on. queryOk is false when the store refused a page (the rows then stop
// there).
struct DeviceRows {
    std::vector<DeviceRow> rows;
    bool queryOk = true;
};
DeviceRows ListEveryDevice(IDeviceStore& store, std::span<const DeviceColumn> columns,
                           int storeSortIndex, bool ascending, const std::string& filter);

// What one reload produced.
struct DeviceListPage {
    std::vector<DeviceRow> rows;  // devices with their information first, then discovered-only
    int storedRows = 0;           // how many of rows are not discovered-only
    int page = 1;                 // the page asked for
    int pagerPage = 1;            // what the pager shows: page, or 1 when pageCount < page
    int pageCount = 0;  // over every matching row, discovered-only ones included
    int rowCount = 0;   // devices with their information matching the filter
    int pageSize = kDefaultPageSize;
    int sortColumn = kDefaultSortColumn;  // the grid's sort indicator
    bool ascending = false;
    std::string filter;
    std::string countText;  // "Online device count:%d", translated, with rowCount
    bool queryOk = true;    // false when the store refused the query (rows then empty)
};

// Sort order of a list. A header click on a sortable column sorts ascending by the order
// toggle and then inverts the toggle; every other reload uses NOT toggle. So before any
// click the list is sorted by IP descending, the first click sorts ascending, the next click
// (on any header) descending, and searches, filter and page changes keep the last click's
// order.
class ListSortState {
public:
    int SortColumn() const { return m_sortColumn; }
    bool Toggle() const { return m_toggle; }
    // The order of every reload that is not a header click.
    bool ReloadAscending() const { return !m_toggle; }
    // A header click on column of columns: nullopt when the column has no sort key (tick,
    // Serial, Operate: nothing happens); otherwise the column becomes the sort column and
    // the order to reload page 1 with is returned.
    std::optional<bool> HeaderClick(int column, std::span<const DeviceColumn> columns);
    // Every reload remembers the column it sorted by; the toggle stays as it is.
    void RememberColumn(int column) { m_sortColumn = column; }

private:
    int m_sortColumn = kDefaultSortColumn;
    bool m_toggle = true;
};

// The tick box in the header cell of column 0: the first click ticks every row, the next
// unticks them all, and so on.
class HeaderTickState {
public:
    // Returns whether the rows are to be ticked (true) or unticked (false).
    bool Click() {
        m_allTicked = !m_allTicked;
        return m_allTicked;
    }

private:
    bool m_allTicked = false;
};

class DeviceListModel {
public:
    // commands, when given, marks the devices with acknowledged changes they have not yet
    // reported, and shows the values sent in their cells.
    DeviceListModel(IDeviceStore& store, std::span<const DeviceColumn> columns,
                    const CommandLog* commands = nullptr);

    std::span<const DeviceColumn> Columns() const { return m_columns; }

    // Rows per page; values outside kPageSizes are refused (false). Does not reload.
    bool SetPageSize(int rows);
    int PageSize() const { return m_pageSize; }

    // The common reload: asks the store for the page (discovered-only devices follow the
    // others, across as many pages as they need). Remembers page, sort column and filter.
    // The result stays in Current().
    const DeviceListPage& Reload(int page, bool ascending, int sortColumn,
                                 const std::string& filter);

    // Reload(page, NOT toggle, sort column, current filter): pager, refresh, page size,
    // search ticks.
    const DeviceListPage& Refresh(int page);
    const DeviceListPage& RefreshCurrent() { return Refresh(m_current.page); }
    // New filter text, then page 1.
    const DeviceListPage& SetFilter(const std::string& filter);
    // A header click: reloads page 1 sorted by that column and returns true, or returns
    // false and changes nothing for a column without a sort key.
    bool HeaderClick(int column);

    const DeviceListPage& Current() const { return m_current; }
    // A row with the acknowledged, unreported changes of the device laid over its record.
    DeviceRow PendingAwareRow(const ap_info_stu& rec, int serial) const;
    const ListSortState& Sort() const { return m_sort; }
    const std::string& Filter() const { return m_filter; }

    // Grid column of the first column with this content, or -1.
    int ColumnOf(ColumnContent content) const;

private:
    IDeviceStore& m_store;
    const CommandLog* m_commands;
    std::span<const DeviceColumn> m_columns;
    int m_pageSize = kDefaultPageSize;
    std::string m_filter;
    ListSortState m_sort;
    DeviceListPage m_current;
};

// The cells a refill has to rewrite, so that a refresh does not flicker.
struct CellChange {
    int row;  // index into the rows (0 = first device row, i.e. grid row 1)
    int column;
};
struct RowsDiff {
    std::vector<CellChange> cells;  // texts that differ or are new
    std::vector<int> restyledRows;  // rows whose discovered-only or pending flag changed
    std::size_t removeFrom = 0;     // rows at and after this index are to be removed
    bool removeRows = false;        // whether there are such rows
};
RowsDiff DiffRows(const std::vector<DeviceRow>& before, const std::vector<DeviceRow>& after);

// ---- renaming in place (the Location column) ----
enum class RenameOutcome {
    Unchanged,  // the text is what it was when editing began: nothing happens
    Refused,    // show message (exclamation icon, empty caption), give the cell its old text
    Accepted,   // write name into the cell and start the rename worker with it
};
struct RenameDecision {
    RenameOutcome outcome = RenameOutcome::Unchanged;
    std::string message;  // translated, for Refused
    std::string name;     // for Accepted: the name cut to at most 32 UTF-8 bytes
};
// newText and oldText are UTF-8; modelCode is the row's modelCode.
RenameDecision DecideRename(std::string_view newText, std::string_view oldText, int modelCode);

// ---- selection for the bulk actions ----

enum class BulkAction {
    AllTicked,  // Set IP, reboot, restore: every ticked row
    Bridge,     // Set Bridge: ticked rows whose transparent bridge is not "N/A"
    AirSlot,    // AirSlot: ticked rows whose AirSlot is not "N/A"
};

inline constexpr const char* kMsgSelectDevices = "Please select the devices!";
inline constexpr const char* kMsgSelectConfigurable = "Please select configurable devices!";

struct SelectionResult {
    std::vector<SelectedDevice> devices;  // in row order
    // Empty when devices is not empty; else the key and its translation to show (exclamation
    // icon, empty caption).
    std::string messageKey;
    std::string message;
    // The stored record of the first selected device (zeroed when it is not stored). Starting
    // values of the dialog: its IP block for Set IP, bridge_transparent / tdmaEn otherwise.
    ap_info_stu first{};
    // Bridge: all zero but byte 0 = first.bridge_transparent; AirSlot: all zero but byte 1 =
    // first.tdmaEn; zero for AllTicked.
    SettingBlock settingBlock{};

    bool ok() const { return !devices.empty(); }
};

// ticked[i] tells whether rows[i] is ticked (missing entries count as not ticked). store may
// be null (then first stays zeroed).
SelectionResult CollectSelection(const std::vector<DeviceRow>& rows,
                                 const std::vector<bool>& ticked, BulkAction action,
                                 IDeviceStore* store);

// The dialog's choice (1 enable, 0 disable) written into the byte its action owns (byte 0 for
// Bridge, byte 1 for AirSlot).
void SetSettingChoice(SettingBlock& block, BulkAction action, int enable);

}  // namespace fd
