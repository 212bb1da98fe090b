#pragma once
// A firmware upgrade of the ticked devices of one model: the file server given the image
// alone, listening on the adapters that reach the devices, and restarted, the upgrade request
// (command 11) to the devices in batches of ten, the upgrade-start request (command 16) to those
// ready for it, and two timed phases (file transfer, then flashing) that end with a few searches
// and the file server stopped. Driven by Tick() once a second; the dialog and the CLI each own one.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/device_target.h"
#include "engine/device_engine.h"
#include "model/device_store.h"
#include "system/local_adapters.h"
#include "wire/packet.h"

namespace fd {

// What the upgrade needs of the file server: what to serve, start, watch and stop, and
// what it saw, for the reasons given when a fetch fails.
class IUpgradeFileServer {
public:
    virtual ~IUpgradeFileServer() = default;
    // Why the server cannot be started on this PC at all (no right to its port and no way
    // to get it), asked before an upgrade begins; "" when it can.
    virtual std::string StartProblem() { return {}; }
    // The next Start serves this image and nothing else, on these local addresses (empty:
    // every address). False when the image cannot be made ready.
    virtual bool ServeImage(const std::string& imagePath,
                            const std::vector<std::string>& addresses) = 0;
    virtual void Start() = 0;
    virtual bool IsRunning() = 0;
    // Ends every server process of ours (the close button, the end of an upgrade).
    virtual void Stop() = 0;
    // Why the server did not serve (could not start, port taken), "" when it did or it is
    // not known. Still answered after Stop.
    virtual std::string Failure() { return {}; }
    // Whether a datagram from that address reached the server; nullopt when not known.
    virtual std::optional<bool> HeardFrom(const std::string& ip) {
        (void)ip;
        return std::nullopt;
    }
};

// The local addresses the file server listens on for these devices: for each target, the
// first adapter address whose subnet holds it (the address its commands leave from), each
// once, in target order.
std::vector<std::string> UpgradeServerAddresses(const std::vector<LocalAdapterInfo>& adapters,
                                                const std::vector<DeviceTarget>& targets);

// ---- the dialog's input checks ----

// Each model among the targets once, in order of first appearance: (label, code).
std::vector<std::pair<std::string, int>> UpgradeModelChoices(
    const std::vector<DeviceTarget>& targets);
// "" when the path may be used, else the message key: empty path, or not ending in exactly
// ".bin" or ".BIN".
std::string CheckUpgradeFilePath(const std::string& path);
// The image's size; 0 when it cannot be opened (or does not fit the request's 32 bits).
uint32_t UpgradeImageSize(const std::string& path);
// The request body: the file name (no folder) and its size.
UpgradeImageInfo MakeUpgradeImageInfo(const std::string& fileName, uint32_t size);
// Folder and file name of a path ("/a/b/x.bin" -> "/a/b", "x.bin").
std::pair<std::string, std::string> SplitImagePath(const std::string& path);

// Follows what each device went through during an upgrade (the statuses the session showed)
// and judges the result once it is over, for front ends that report per device.
class CUpgradeTally {
public:
    struct Verdict {
        bool ok = false;
        std::string text;  // "upgraded, back online with version X", "failed: ..."
    };
    // What the file server can tell about a device's fetch.
    struct ServerView {
        std::string failure;            // why the server did not serve; "" when it did
        std::optional<bool> heardFrom;  // a request from the device reached it
    };
    // A status shown for the device; true when it differs from the one shown before.
    bool Note(const std::string& mac, int status);
    // After the session closed and the final searches: is the device's row there, its
    // status and version now, and what the server saw of it.
    Verdict Judge(const std::string& mac, bool rowExists, int status, const std::string& version,
                  const ServerView& server = {}) const;
    // True when the device said it could not fetch the image and never got further.
    bool FetchFailed(const std::string& mac) const;

private:
    struct Seen {
        int last = -1;
        unsigned mask = 0;  // bit per status
    };
    std::vector<std::pair<std::string, Seen>> m_seen;
};

class CUpgradeSession {
public:
    enum class Phase { Idle, Transfer, Upgrading, Closed };

    struct Hooks {
        // Timer 4000: a watched device's current status, every second.
        std::function<void(const std::string& mac, int status)> showStatus;
        // The session ended by itself (confirmed) or was cancelled.
        std::function<void(bool confirmed)> closed;
        // Phase text and progress range changed.
        std::function<void()> phaseChanged;
    };

    static constexpr int kBatchSize = 10;
    static constexpr int kBatchWaitLimit = 120;
    static constexpr int kUpgradingLimit = 130;
    static constexpr int kSearches = 3;

    CUpgradeSession(IDeviceEngine& engine, IDeviceStore& store, IUpgradeFileServer& server,
                    Hooks hooks = {});
    ~CUpgradeSession();

    // The user confirmed: targets as handed over, the chosen model, the image and the
    // request body, the PC's adapters. Restarts the file server with that image alone, on
    // the adapters that reach the devices, and starts the transfer phase.
    void Start(const std::vector<DeviceTarget>& targets, int modelCode,
               const std::string& imagePath, const UpgradeImageInfo& image,
               const std::vector<LocalAdapterInfo>& adapters = {});
    // One second passed.
    void Tick();
    // The close button: stops the file server and ends the session (not confirmed).
    void Cancel();

    Phase GetPhase() const { return m_phase; }
    // "Upgrade file transfer progress" or "Firmware upgrading progress" (language keys).
    const char* PhaseText() const;
    int ProgressMax() const { return m_progressMax; }
    int ProgressPos() const { return m_progressPos; }
    int TransferLimit() const { return m_transferLimit; }
    const std::vector<DeviceTarget>& WatchList() const { return m_watch; }
    const std::vector<DeviceTarget>& Queue() const { return m_queue; }
    bool AllSent() const { return m_allSent; }
    bool BatchWaiting() const { return m_batchTimer; }

private:
    void WorkerStep();
    void SendBatch();
    void BatchTick();
    void TransferTick();
    void UpgradingTick();
    void StatusTick();
    void Close(bool confirmed);

    IDeviceEngine& m_engine;
    IDeviceStore& m_store;
    IUpgradeFileServer& m_server;
    Hooks m_hooks;

    Phase m_phase = Phase::Idle;
    std::vector<DeviceTarget> m_queue, m_watch, m_batch;
    UpgradeImageInfo m_image{};

    int m_transferSeconds = 0, m_transferLimit = 0;
    int m_batchSeconds = 0;
    int m_upgradingSeconds = 0, m_searchesLeft = kSearches;
    bool m_allSent = false;
    int m_progressMax = 100, m_progressPos = 0;

    // Timers, as the dialog's 1 s timers: 1000 transfer, 2000 upgrading, 3000 batch wait,
    // 4000 status display. One that is started during a tick first fires on the next.
    bool m_transferTimer = false, m_upgradingTimer = false, m_batchTimer = false,
         m_statusTimer = false;

    // The worker's schedule: 3 s of grace for the server to come up, then up to three looks
    // for it a second apart, then the first batch whatever it found.
    bool m_workerActive = false;
    int m_workerSeconds = 0, m_workerLooks = 0;
};

}  // namespace fd
