#pragma once
// The protocol engine as the search session sees it.

#include "actions/search_session.h"
#include "engine/device_protocol.h"

namespace fd {

class EngineSearchAdapter final : public ISearchEngine {
public:
    explicit EngineSearchAdapter(CDeviceProtocol& engine) : m_engine(engine) {}
    void ProbeDiscoveredDevices() override { m_engine.ProbeDiscoveredDevices(); }
    void ForgetDiscoveredDevices() override { m_engine.ForgetDiscoveredDevices(); }
    void PurgeStaleDevices() override { m_engine.PurgeStaleDevices(); }
    void SendSearch() override { m_engine.SendSearch(); }

private:
    CDeviceProtocol& m_engine;
};

}  // namespace fd
