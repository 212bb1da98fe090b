#include "presentation/ap_scan_list.h"

#include <array>

namespace fd {

namespace {
constexpr std::array<ScanColumn, 6> kColumns{{
    {"Select", 40, -1},
    // The MAC column is as wide as the device lists' one, so that a whole MAC shows; the
    // name column gives the pixels.
    {"SingleName", 128, 1},
    {"Channel", 70, 2},
    {"MAC", 132, 0},
    {"Secure", 120, 3},
    {"SingleStrength", 60, 4},
}};
}  // namespace

std::span<const ScanColumn> ScanListColumns() {
    return kColumns;
}

const char* ScanSecurityLabel(int secureMode) {
    switch (secureMode) {
        case 0:
            return "None";
        case 1:
            return "WEP";
        case 2:
            return "WPA-PSK/AES";
        case 3:
            return "WPA-PSK/TKIP";
        case 4:
            return "WPA2-PSK/AES";
        case 5:
            return "WPA2-PSK/TKIP";
        case 6:
            return "WPA2-PSK/TKIP&AES";
        case 7:
            return "WPA/WPA2-PSK/AES";
        case 8:
            return "WPA/WPA2-PSK/TKIP";
        case 9:
            return "WPA/WPA2-PSK/TKIP&AES";
        default:
            return "WPA-PSK/TKIP&AES";
    }
}

int SignalIconIndex(int dbm) {
    if (dbm <= -75) return 1;
    if (dbm <= -60) return 3;
    return 5;
}

std::string ScanBandwidthLabel(int bandwidth) {
    static const char* const kLabels[] = {"20MHz", "40MHz", "Auto",  "80MHz",
                                          "10MHz", "30MHz", "50MHz", "60MHz"};
    if (bandwidth >= 0 && bandwidth < static_cast<int>(std::size(kLabels)))
        return kLabels[bandwidth];
    return std::to_string(bandwidth);
}

ScanRow MakeScanRow(const config_otherwl_basic& ap) {
    ScanRow r;
    r.ssid = std::string(FieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len));
    r.channel = std::to_string(ap.channel);
    r.mac = MacToText(ap.mac);
    r.security = ScanSecurityLabel(ap.secure_mode);
    r.signal = ap.signal;
    r.icon = SignalIconIndex(ap.signal);
    r.secureMode = ap.secure_mode;
    r.bandwidth = ap.bandwidth;
    r.exchannel = ap.exchannel;
    return r;
}

const std::vector<ScanRow>& ApScanList::Reload() {
    m_rows.clear();
    m_ticked.reset();
    int sortIndex = kColumns[static_cast<std::size_t>(m_sortColumn)].sortIndex;
    if (sortIndex < 0) sortIndex = 1;
    OtherApList aps;
    m_store.QueryOtherApList(sortIndex, aps, m_ascending);
    m_rows.reserve(aps.size());
    for (const auto& ap : aps) m_rows.push_back(MakeScanRow(ap));
    return m_rows;
}

void ApScanList::Clear() {
    m_rows.clear();
    m_ticked.reset();
}

bool ApScanList::HeaderClick(int column) {
    if (column <= kScanTickColumn || column >= static_cast<int>(kColumns.size())) return false;
    m_sortColumn = column;
    m_ascending = !m_ascending;
    Reload();
    return true;
}

bool ApScanList::ClickRow(std::size_t index) {
    if (index >= m_rows.size()) return m_ticked.has_value();
    if (m_ticked == index) {
        m_ticked.reset();
    } else {
        m_ticked = index;
    }
    return m_ticked.has_value();
}

}  // namespace fd
