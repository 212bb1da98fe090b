#pragma once
// Invented devices for pictures of the device pages (fielddesk --screenshot --demo-devices):
// a plausible mix of models, modes, names and uptimes in documentation address space. No
// engine and no socket is involved; the records go straight into the given store.

#include "model/device_store.h"

namespace fd {

// The invented record number i (from 0): the same i always gives the same device.
ap_info_stu DemoDevice(int i);
// Saves count invented devices; false when the store refused one.
bool FillDemoDevices(IDeviceStore& store, int count);

}  // namespace fd
