#pragma once
// Invented devices for pictures of the device pages (fielddesk --screenshot --demo-devices):
// a plausible mix of models, modes, names and uptimes in documentation address space. No
// engine and no socket is involved; the records go straight into the given store.

#include <QTemporaryDir>
#include <memory>

#include "model/device_store.h"

class CSqlManagement;

namespace fd {

// The invented record number i (from 0): the same i always gives the same device.
ap_info_stu DemoDevice(int i);
// Saves count invented devices; false when the store refused one.
bool FillDemoDevices(IDeviceStore& store, int count);

// A store of its own in a temporary folder, gone with the object, holding count invented
// devices: what the pages show in a picture or a test without an engine.
class DemoStore {
public:
    explicit DemoStore(int count);
    ~DemoStore();
    // Null when the folder or the store could not be made or filled.
    CSqlManagement* Get() const { return m_store.get(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
};

}  // namespace fd
