#pragma once
// CDeviceProtocol: the engine's face to the rest of the program, over its parts:
//   Transport (transport.h)                  sockets, receiving and worker threads, adapters
//   PeerTable (peer_table.h)                 how each device is reached, liveness
//   RetransmissionQueue (retransmission_queue.h)  commands awaiting an answer, resends
// It decodes what the transport's workers hand it, keeps the peer table current, answers
// the devices where the protocol asks for it, writes what they report into the device store
// (in one write batch per worker wake-up) and records commands and their answers in the
// command log. Two threads of its own: the liveness sweep and the retransmission pass.
// Commands are sent on the caller's thread. Pages never hear from the engine: they read the
// store on their own timers.
//
// Locks, in the only order they are ever nested:
//   retransmission-queue lock -> transport's adapter-list lock  (resends go out under it)
//   peer-table lock           -> transport's adapter-list lock  (probes go out under it)
// The store is never called while an engine lock is held.
//
// Testing: options.sendHook sees every outgoing datagram instead of a socket. The handlers,
// one retransmission pass and one liveness sweep are public so that tests drive them
// directly; Start() with options.openSockets = false runs the threads without any socket,
// and InjectDatagram()/ProcessQueue() feed the transport's queues as its receiving threads do.


#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/device_engine.h"
#include "engine/discovered_rows.h"
#include "engine/transport.h"
#include "engine/peer_table.h"
#include "engine/retransmission_queue.h"
#include "wire/packet.h"
#include "model/device_store.h"
#include "model/command_log.h"
#include "system/local_adapters.h"

namespace fd {

struct DeviceProtocolOptions {
    IDeviceStore* store = nullptr;  // required for the handlers to record anything
    // Defaults before Start(); Start() overwrites them with the values it is given.
    int retransmissionMax = 3;
    int retransmissionIntervalMs = 2000;
    // Period of the liveness sweep. A device in state 2 is dropped after four silent sweeps
    // (3 to 4 periods after its last datagram).
    std::chrono::milliseconds livenessPeriod{10000};
    AdapterSource adapterSource;       // empty: fd::ListLocalAdapters
    SendHook sendHook;                 // empty: real sockets
    bool openSockets = true;           // false: Start() runs no socket and no receiving thread
    std::size_t queueCapacity = 8192;  // per queue; datagrams beyond it are dropped and counted
    // How long the row of a device that has only answered a search is held back before it
    // is written (DiscoveredRows); its information, when it comes within that time, writes
    // the row instead. 0 writes it at once.
    std::chrono::milliseconds discoveredRowHold{500};
    // Where every command sent with retransmission (but the engine's own device-info
    // requests) is recorded with its answer, its give-up and the device's later report.
    fd::CommandLog* commands = nullptr;
    ReceiveCalls receiveCalls;
};

}  // namespace fd

class CDeviceProtocol final : public fd::IDeviceEngine {
public:
    // Which listening port a datagram arrived on.
    using Port = fd::ListenPort;
    static constexpr Port PORT_SEARCH_REPLY = fd::PORT_SEARCH_REPLY;
    static constexpr Port PORT_KEEPALIVE = fd::PORT_KEEPALIVE;
    static constexpr Port PORT_REPLY = fd::PORT_REPLY;

    explicit CDeviceProtocol(fd::DeviceProtocolOptions options = {});
    ~CDeviceProtocol() override;  // runs Stop() unless it has run
    CDeviceProtocol(const CDeviceProtocol&) = delete;
    CDeviceProtocol& operator=(const CDeviceProtocol&) = delete;

    // Opens the sockets, starts the threads and reads the adapters. False on the first
    // failure (socket set-up or thread start). Calling it again restarts everything.
    bool Start(int retransmissionMax, int retransmissionInterval);
    // Stops every thread cooperatively, closes the sockets and sends the probe (command 17)
    // to every peer. Runs once; later calls do nothing.
    void Stop();
    // False from the sending of a neighbour scan (command 6) until its last result packet
    // has been handled; it turns true only after that packet's neighbours are in the store,
    // so a page that sees it can read the complete list at once.
    bool IsScanComplete() const override { return m_scanComplete.load(); }

    // The transport's reading of the adapters (Transport::ReadAdapters), for the adapter list
    // the user sees.
    void ReadLocalAdapters(std::vector<LocalAdapterInfo>& list,
                           std::vector<LocalAdapterInfo>* all = nullptr) {
        m_transport.ReadAdapters(list, all);
    }

    // ---- requests ----
    // The search broadcast to every adapter's directed-broadcast address, or to
    // 255.255.255.255 when no adapter gives one.
    void SendSearch() override;
    // One command to one device (by multicast, addressed by mac) through the first adapter
    // whose subnet holds ip. False when no adapter fits, the socket cannot be set up, the
    // send fails, or the body does not fit a datagram. With retransmit the command joins the
    // pending list (never commands 1, 6, 15, 17).
    bool SendToDevice(const std::string& ip, int command, const void* body, int length,
                      const std::string& mac, bool retransmit) override;
    // Command 17 to every peer that answered a search but has not delivered its info.
    void ProbeDiscoveredDevices() override;
    // Removes every peer that has not delivered its info, and its row from the store.
    void ForgetDiscoveredDevices() override;
    // Deletes from the store every device the peer table no longer knows.
    void PurgeStaleDevices() override;
    // Announces that a set-IP command moves the device from currentIp to newIp; the device's
    // acknowledgement makes newIp the address it is reached under.
    void SetPendingAddress(const std::string& mac, const std::string& currentIp,
                           const std::string& newIp) override;

    // ---- reply handling (called by the worker threads; public for direct driving) ----
    void HandleSearchReply(const fd::ReceivedDatagram& dg);
    void HandleKeepalive(const fd::ReceivedDatagram& dg);
    void HandleReply(const fd::ReceivedDatagram& dg);

    // ---- periodic work (called by their threads; public for direct driving) ----
    // One pass of the retransmission thread.
    void RetransmitPending();
    // One liveness sweep.
    void SweepLiveness();

    // ---- receive path without sockets ----
    // Filters and queues a datagram exactly as the receiving thread of that port does.
    // False when it was dropped (filter or full queue).
    bool InjectDatagram(Port port, std::span<const uint8_t> bytes, std::string_view fromIp,
                        uint16_t fromPort = 0) {
        return m_transport.Inject(port, bytes, fromIp, fromPort);
    }
    // One worker wake-up for a port: swaps the whole queue out and handles every item.
    // Returns how many were handled. Meant for tests run without Start().
    std::size_t ProcessQueue(Port port) { return m_transport.ProcessQueue(port); }

    // ---- inspection ----
    std::vector<fd::PeerEntry> GetPeers() const;
    std::vector<fd::PendingRequest> GetPendingRequests() const;
    fd::EngineStats GetStats() const { return m_transport.Stats(); }
    std::size_t QueueSize(Port port) const { return m_transport.QueueSize(port); }

private:
    // What a transport worker hands on: one write batch for the whole wake-up.
    std::size_t HandleBatch(Port port, std::span<const fd::ReceivedDatagram> batch,
                            std::stop_token st);
    void StopTimers();
    void LivenessLoop(std::stop_token st);
    void RetransmissionLoop(std::stop_token st);
    void HeldRowsLoop(std::stop_token st);
    // Writes the held rows of devices that answered a search at least `hold` ago (all of them
    // with 0) in one batch.
    void WriteHeldRows(std::chrono::milliseconds hold);
    void Dispatch(Port port, const fd::ReceivedDatagram& dg);
    void HandleScanResult(std::span<const uint8_t> body);

    fd::DeviceProtocolOptions m_options;
    IDeviceStore* m_store;
    fd::Transport m_transport;
    fd::PeerTable m_peers;
    fd::RetransmissionQueue m_pending;
    fd::DiscoveredRows m_heldRows;

    std::atomic<bool> m_scanComplete{false};
    std::atomic<int> m_retransmissionMax;
    std::atomic<int> m_retransmissionInterval;

    std::mutex m_timerLock;  // for the timed waits of the liveness and retransmission threads
    std::condition_variable_any m_timerWake;

    std::vector<std::jthread> m_threads;
    std::mutex m_lifecycleLock;
    bool m_stopped = false;
};
