#include "presentation/bridge_page.h"

#include <array>
#include <cstdio>

namespace fd {

namespace {
using C = ColumnContent;
constexpr std::array<DeviceColumn, 11> kBridgeColumns{{
    {"Serial", 60, -1, C::Serial},
    {"Location", 100, 2, C::Location},
    {"Type", 60, 3, C::Type},
    {"IP", 132, 1, C::Ip},
    {"MAC", 132, 0, C::Mac},
    {"OperationMode", 96, 4, C::OperationMode},
    {"SSID", 130, 5, C::Ssid},
    {"Channel", 80, 6, C::Channel},
    {"SecureMode", 90, 7, C::SecureMode},
    {"Status", 70, 13, C::Status},
    {"Operate", 70, -1, C::Operate},
}};
}  // namespace

std::span<const DeviceColumn> BridgePageColumns() {
    return kBridgeColumns;
}

std::string CheckBridgeWizardOpen(const ap_info_stu& device) {
    if (device.mode_btn_status != 0 && device.mode_btn_status != 2) return kMsgModeSwitchAtAp;
    return {};
}

DeviceTarget MakeDeviceTarget(const DeviceRow& row) {
    DeviceTarget t{};
    std::snprintf(t.ip, sizeof t.ip, "%s", row.ip.c_str());
    std::snprintf(t.mac, sizeof t.mac, "%s", row.mac.c_str());
    t.ap_type = row.modelCode;
    return t;
}

}  // namespace fd
