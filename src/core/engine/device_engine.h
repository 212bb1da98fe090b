#pragma once
// The engine operations the device-list pages, their dialogs and their worker threads use.
// CDeviceProtocol implements it; tests substitute a recording fake. The same object also
// serves a search session (ISearchEngine) and a waiting dialog (IWaitSearcher), so a page
// holds one pointer for all three.
//
// Every operation locks what it needs inside the engine and may be called from any thread.

#include <string>
#include <string_view>

#include "model/device_store.h"

namespace fd {

// What a search needs of the protocol engine. CDeviceProtocol satisfies it through
// EngineSearchAdapter; tests substitute a recording fake.
class ISearchEngine {
public:
    virtual ~ISearchEngine() = default;
    virtual void ProbeDiscoveredDevices() = 0;
    virtual void ForgetDiscoveredDevices() = 0;
    virtual void PurgeStaleDevices() = 0;
    virtual void SendSearch() = 0;
};

// What the wait needs of the protocol engine.
class IWaitSearcher {
public:
    virtual ~IWaitSearcher() = default;
    virtual void ProbeDiscoveredDevices() = 0;
    virtual void SendSearch() = 0;
};


class IDeviceEngine : public ISearchEngine, public IWaitSearcher {
public:
    ~IDeviceEngine() override = default;

    // Command 17 to every device that answered a search but has not sent its information.
    void ProbeDiscoveredDevices() override = 0;
    // Forgets the devices that answered a search but have not sent their information, and
    // deletes their rows (status 10) from the store.
    void ForgetDiscoveredDevices() override = 0;
    // Deletes from the store every device the engine no longer knows.
    void PurgeStaleDevices() override = 0;
    // The search broadcast.
    void SendSearch() override = 0;

    // One command to one device, addressed by mac, through the adapter whose subnet holds
    // ip. body may be null when length is 0. With retransmit the engine resends it until the
    // device answers or the retries run out. False when it could not be sent at all.
    virtual bool SendToDevice(const std::string& ip, int command, const void* body, int length,
                              const std::string& mac, bool retransmit) = 0;
    // Announces that a set-IP command moves the device from currentIp to newIp.
    virtual void SetPendingAddress(const std::string& mac, const std::string& currentIp,
                                   const std::string& newIp) = 0;
    // Whether the last neighbour scan (command 6) has delivered its last result packet.
    // An engine that cannot scan never completes one: a wait for it runs to its limit.
    virtual bool IsScanComplete() const { return false; }
};

}  // namespace fd
