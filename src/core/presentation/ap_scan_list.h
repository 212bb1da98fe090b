#pragma once
// The list of access points a device heard in its neighbour scan, as the bridge wizard's
// first step and `fielddesk-cli scan` show it: columns, security labels, signal icons, the
// sort order and the single tick that picks the access point to join.
//
// Not thread-safe: the list belongs to the user-interface thread; the store locks inside.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/device_store.h"
#include "wire/packet.h"

namespace fd {

struct ScanColumn {
    const char* header;  // language key
    int width;           // pixels
    int sortIndex;       // IDeviceStore::QueryOtherApList column, -1: a header click does nothing
};
// Select (tick), SingleName, Channel, MAC, Secure, SingleStrength.
std::span<const ScanColumn> ScanListColumns();
inline constexpr int kScanTickColumn = 0;
inline constexpr int kScanMacColumn = 3;
inline constexpr int kScanSignalColumn = 5;

// The security an access point reports, shown as it stands (not translated).
const char* ScanSecurityLabel(int secureMode);
// Index of the signal icon: 1 at -75 dBm and below, 3 up to -60 dBm, 5 above. The images
// 0, 2 and 4 of the strip are never shown.
int SignalIconIndex(int dbm);
// The channel width an access point reports ("20MHz", "40MHz", "80MHz", ...); the code as
// a number when it is none of the known ones.
std::string ScanBandwidthLabel(int bandwidth);

struct ScanRow {
    std::string ssid;
    std::string channel;  // "%d"
    std::string mac;
    std::string security;
    int signal = 0;  // dBm
    int icon = 0;
    int secureMode = 0;
    int bandwidth = 0;
    int exchannel = 0;
};
ScanRow MakeScanRow(const config_otherwl_basic& ap);

class ApScanList {
public:
    explicit ApScanList(IDeviceStore& store) : m_store(store) {}

    // Reads every neighbour in the current order; no row is ticked afterwards.
    const std::vector<ScanRow>& Reload();
    void Clear();
    // A click on a header cell: the tick column does nothing (false); any other column
    // becomes the sort column, the order flips and the list is read again (true).
    bool HeaderClick(int column);
    // A click on a data row (index from 0): unticks every other row and toggles this one.
    // Returns whether a row is ticked afterwards (what enables the wizard's Next).
    bool ClickRow(std::size_t index);

    const std::vector<ScanRow>& Rows() const { return m_rows; }
    bool IsTicked(std::size_t index) const { return m_ticked == index; }
    std::optional<std::size_t> TickedRow() const { return m_ticked; }
    int SortColumn() const { return m_sortColumn; }
    bool Ascending() const { return m_ascending; }

private:
    IDeviceStore& m_store;
    std::vector<ScanRow> m_rows;
    std::optional<std::size_t> m_ticked;
    int m_sortColumn = kScanSignalColumn;  // strongest first until the user sorts
    bool m_ascending = false;
};

}  // namespace fd
