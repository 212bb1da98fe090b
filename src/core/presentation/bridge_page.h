#pragma once
// The bridge page's list and the gate in front of its wizard.

#include <span>
#include <string>

#include "model/device_target.h"
#include "presentation/device_list.h"
#include "wire/packet.h"

namespace fd {

// Serial, Location, Type, IP, MAC, OperationMode, SSID, Channel, SecureMode, Status,
// Operate (the wizard's entry point). No tick column.
std::span<const DeviceColumn> BridgePageColumns();

inline constexpr const char* kMsgModeSwitchAtAp =
    "The Mode Switch is at AP position, please switch it to Off position to modify to other "
    "operating mode.";

// Whether the wizard may open for the device: its mode switch must be off (0 or 2); in
// the AP position it pins the device to AP mode. Empty, or the message key.
std::string CheckBridgeWizardOpen(const ap_info_stu& device);

// The target the wizard and its scan address, from a drawn row (ip, mac, model code).
DeviceTarget MakeDeviceTarget(const DeviceRow& row);

}  // namespace fd
