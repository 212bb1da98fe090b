// The process-wide engine: over the real device store and the system's adapters.

#include "engine/device_protocol.h"
#include "store/sql_management.h"

CDeviceProtocol& CDeviceProtocol::GetInstance() {
    // The store is made before the engine, so at exit the engine stops (probing every
    // device) while the store still exists, and the store is destroyed after it.
    static CDeviceProtocol engine([] {
        fd::DeviceProtocolOptions options;
        options.store = CSqlManagement::GetInstance();
        return options;
    }());
    return engine;
}
