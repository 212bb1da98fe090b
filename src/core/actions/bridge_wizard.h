#pragma once
// The bridge wizard without its widgets: the neighbour scan the first step waits for, the
// walk through the four steps, and the worker that sends the finished configuration.
//
// Typical use by the wizard:
//   fd::ApScanWait scan(engine, store);
//   scan.Start(target.ip, target.mac);     // clears the neighbour table, sends command 6
//   ... every second: if (scan.Tick()) fill the list from the store;
//   fd::BridgeWizardFlow flow;             // Next / Back / Save
//   fd::StartBridgeSendWorker(slot, engine, target.ip, target.mac, body);

#include <optional>
#include <string>

#include "actions/configuration_verify.h"
#include "actions/device_workers.h"
#include "engine/device_engine.h"
#include "model/device_store.h"
#include "wire/packet.h"

namespace fd {

// One neighbour scan as the wizard's first step waits for it: the device is asked once,
// its result packets reach the store through the engine, and the wait ends when the engine
// has seen the last packet or after kLimitSeconds with whatever arrived.
class ApScanWait {
public:
    static constexpr int kLimitSeconds = 30;

    ApScanWait(IDeviceEngine& engine, IDeviceStore& store) : m_engine(engine), m_store(store) {}

    // Empties the neighbour table and sends the scan request to the device. A request that
    // cannot leave this PC at all (no adapter in the device's subnet) ends the wait at once:
    // nothing can come back. Returns whether it was sent.
    bool Start(const std::string& ip, const std::string& mac);
    // One second of the wait. True when it is over (and from then on).
    bool Tick();

    bool Scanning() const { return m_scanning; }
    int Seconds() const { return m_seconds; }
    // Over because the device's last result packet arrived, not because time ran out.
    bool Completed() const { return m_completed; }

private:
    IDeviceEngine& m_engine;
    IDeviceStore& m_store;
    bool m_scanning = false;
    bool m_completed = false;
    int m_seconds = 0;
};

// The four steps: 0 pick an access point, 1 security, 2 IP, 3 confirm. The step's own check
// decides whether Next may advance; Back never checks and never clears anything.
class BridgeWizardFlow {
public:
    static constexpr int kLastStep = 3;

    int Step() const { return m_step; }
    bool BackVisible() const { return m_step > 0; }
    // The language key of the Next button: "Save" on the last step.
    const char* NextKey() const { return m_step == kLastStep ? "Save" : "Next"; }
    bool OnLastStep() const { return m_step == kLastStep; }
    void Advance() {
        if (m_step < kLastStep) ++m_step;
    }
    void Back() {
        if (m_step > 0) --m_step;
    }

private:
    int m_step = 0;
};

// Command 7 with the bridge body to the device, once, with retransmission.
// With a read-back (its log set and the station's record given), the station's answer is
// awaited and it is asked again at its new address: it must report the access point's MAC
// and SSID and the addresses sent (AwaitAndVerify; the result stays in the log).
void RunBridgeSendWorker(std::stop_token st, IDeviceEngine& engine, const std::string& ip,
                         const std::string& mac, const BridgeConfigBody& body,
                         ReadBack readBack = {}, std::optional<ap_info_stu> station = {});
// The same in the slot, stopping an earlier send still running there.
void StartBridgeSendWorker(WorkerSlot& slot, IDeviceEngine& engine, std::string ip, std::string mac,
                           BridgeConfigBody body, ReadBack readBack = {},
                           std::optional<ap_info_stu> station = {});

}  // namespace fd
