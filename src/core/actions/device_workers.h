#pragma once
// The worker threads behind the device pages' bulk actions: rename, set IP on several
// devices, transparent bridge, AirSlot, reboot and factory reset. Each kind runs on its own
// thread held in a WorkerSlot; starting a new worker in a slot asks the old one to stop and
// waits for it. A worker checks for that request between sends and in its waits, never
// inside an engine or store call, so it never leaves a lock behind.
//
// Workers only call the engine (and the store for reboot/restore). They never touch a
// widget: the page polls WorkerSlot::TakeFinished() on its own timer (or passes a callback,
// which runs on the worker thread) and reloads its list itself.
//
// Typical use by a page:
//   fd::WorkerSlot m_rebootWorker;   // one per kind, member of the page
//   fd::StartRestartWorker(m_rebootWorker, engine, store, CMD_REBOOT, selection.devices);
//   ... timer: if (m_rebootWorker.TakeFinished()) reload();
// The page's destructor (or the slot's) stops and joins a worker still running.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "actions/configuration_verify.h"
#include "engine/device_engine.h"
#include "wire/packet.h"
#include "rules/address_rules.h"
#include "actions/wait_progress.h"
#include "model/device_store.h"

namespace fd {

// A device chosen in a list, as the worker threads need it.
struct SelectedDevice {
    std::string ip;
    std::string mac;
    int modelCode = 1;
};

using SettingBlock = std::array<uint8_t, kSettingBlockSize>;


// Sleeps for d or until stop is requested. Returns false when woken by the stop request.
bool SleepUnlessStopped(std::stop_token st, std::chrono::milliseconds d);

// Holds at most one worker thread of one kind. Start/Stop belong to the owner's thread
// (the page); Running/TakeFinished may be polled from it while the worker runs.
class WorkerSlot {
public:
    using Body = std::function<void(std::stop_token)>;
    using FinishedHandler = std::function<void()>;

    WorkerSlot() = default;
    ~WorkerSlot() { Stop(); }
    WorkerSlot(const WorkerSlot&) = delete;
    WorkerSlot& operator=(const WorkerSlot&) = delete;

    // Asks a worker still running to stop, waits for it, then runs body on a new thread.
    void Start(Body body);
    // Asks the worker to stop and waits for it. Does nothing when there is none.
    void Stop();
    // Whether the current worker has not returned yet.
    bool Running() const { return m_running.load(); }
    // True once after a worker ran to its end without being stopped.
    bool TakeFinished() { return m_finished.exchange(false); }
    // Called on the worker thread when a worker ran to its end without being stopped.
    // Set it before Start. It must not call Start or Stop of this slot (the worker would
    // wait for itself); post to the owner's thread instead.
    void SetFinishedHandler(FinishedHandler handler) { m_onFinished = std::move(handler); }

private:
    std::jthread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_finished{false};
    FinishedHandler m_onFinished;
};

// ---- blocks ----

// The 33-byte block of command 8: at most 32 bytes of the UTF-8 name (never cut inside a
// character), zero-filled, then the byte count.
DeviceNameBlock MakeNameBlock(std::string_view utf8Name);

// The common fields of a several-device address change, as typed in the dialog.
struct MultiSetIpParams {
    std::string begin;
    std::string end;  // ignored with one device
    std::string mask;
    std::string gateway;  // empty or "0.0.0.0": sent as 0.0.0.0
    std::string dns1;
    std::string dns2;
};
// The 22-byte block of command 3: ip_mode 1, the given ip, mask, gateway, DNS 1 and 2, flag 1.
IpConfigBlock MakeMultiSetIpBlock(const MultiSetIpParams& params, std::string_view ip);

// Which address each device gets: one device gets begin; several get the addresses of
// begin..end in order, skipping those ending in .0 or .255, until devices or addresses run
// out (devices left over get nothing).
struct AddressAssignment {
    SelectedDevice device;
    std::string newIp;
};
std::vector<AddressAssignment> PlanAddresses(const MultiSetIpParams& params,
                                             const std::vector<SelectedDevice>& devices);

// ---- workers (each body also callable directly; the Start* helpers run it in the slot) ----

// Command 8 with the name block to one device, with retransmission.
// With a read-back (its log set), each device's answer is awaited and its settings read
// back (AwaitAndVerify); the result stays in the log for the lists.
void RunRenameWorker(std::stop_token st, IDeviceEngine& engine, const SelectedDevice& device,
                     const std::string& utf8Name, ReadBack readBack = {});
void StartRenameWorker(WorkerSlot& slot, IDeviceEngine& engine, SelectedDevice device,
                       std::string utf8Name, ReadBack readBack = {});

// The 12-byte setting block to every device in order with retransmission: command 18
// (transparent bridge) or 19 (AirSlot).
void RunSettingWorker(std::stop_token st, IDeviceEngine& engine, int command,
                      const std::vector<SelectedDevice>& devices, const SettingBlock& block);
void StartSettingWorker(WorkerSlot& slot, IDeviceEngine& engine, int command,
                        std::vector<SelectedDevice> devices, SettingBlock block);

// Reboot (command 9) or factory reset (command 10), no body, with retransmission: first the
// devices the store reports a bridged station for, then after `gap` (200 ms) all others, so
// that access points restart before the stations linked to them.
inline constexpr std::chrono::milliseconds kRestartGap{200};
void RunRestartWorker(std::stop_token st, IDeviceEngine& engine, IDeviceStore& store, int command,
                      const std::vector<SelectedDevice>& devices,
                      std::chrono::milliseconds gap = kRestartGap);
void StartRestartWorker(WorkerSlot& slot, IDeviceEngine& engine, IDeviceStore& store, int command,
                        std::vector<SelectedDevice> devices,
                        std::chrono::milliseconds gap = kRestartGap);

// Several-device set IP: for each assignment of PlanAddresses, SetPendingAddress and then
// command 3 with the address block to the device's current address, with retransmission.
// With a read-back, each device is then asked again at its new address.
void RunMultiSetIpWorker(std::stop_token st, IDeviceEngine& engine, const MultiSetIpParams& params,
                         const std::vector<SelectedDevice>& devices, ReadBack readBack = {});
void StartMultiSetIpWorker(WorkerSlot& slot, IDeviceEngine& engine, MultiSetIpParams params,
                           std::vector<SelectedDevice> devices, ReadBack readBack = {});

// ---- the Set IP dialog ----

// The check of the Set IP dialog's form for deviceCount devices, in its fixed order; nothing
// failed when it passes, else the first failure (RuleFailureText shows it). Same checks as
// CheckRangeAddress.
RuleFailure CheckMultiSetIp(const MultiSetIpParams& params, std::size_t deviceCount);

// Every address a new device address may not take: each known device's (the store's one
// list, devices that only answered a search included) and each address of this PC's
// adapters. The in-use checks of configure, Set IP, the bridge wizard and plans take it.
std::vector<std::string> AddressesInUse(IDeviceStore& store);

// The one planner of new addresses for several devices, used by the Set IP dialog and the
// command line: the form's checks, then a range that holds an address for every device
// (RangeTooSmall otherwise: a device left without one would be reported as done), every
// address handed out a usable host address in the subnet of the first (IpInvalid), and none
// of them an address another known device has (IpInUse; usedIps as the store lists them).
struct BulkAddressPlan {
    std::vector<AddressAssignment> assignments;  // one per device, in order, when ok()
    RuleFailure failure;
    std::string detail;  // the address, or for RangeTooSmall the number of usable ones
    bool ok() const { return !failure.Failed(); }
};
BulkAddressPlan PlanBulkAddresses(const MultiSetIpParams& params,
                                  const std::vector<SelectedDevice>& devices,
                                  const std::vector<std::string>& usedIps);
// The in-use check alone, for addresses chosen one by one: the first assignment whose new
// address another device has (an address the device keeps is always free).
BulkAddressPlan CheckAddressesFree(std::vector<AddressAssignment> assignments,
                                   const std::vector<std::string>& usedIps);

// The progress after Save: 30 half-second ticks; searches at ticks 18, 24 and 30 of the
// counter (8.5, 11.5 and 14.5 s after Save), the first preceded by a probe of the discovered
// devices. The page calls Tick() every 500 ms and closes the dialog with OK when it returns
// true.
class IpSetProgress {
public:
    static constexpr int kLength = 30;
    static constexpr int kSearches = 3;

    explicit IpSetProgress(IWaitSearcher& searcher);
    // Advances one tick; true when the dialog is to close.
    bool Tick() { return m_progress.Tick(); }
    int Position() const { return m_progress.Position(); }  // 0..kLength, for the bar
    int Counter() const { return m_progress.Counter(); }
    int SearchesLeft() const { return m_progress.SearchesLeft(); }
    bool Finished() const { return m_progress.Finished(); }

private:
    WaitProgress m_progress;
};

}  // namespace fd
