#pragma once
// CDeviceProtocol: the one object that talks to the devices.
//
// It owns four UDP sockets (search 9786 with broadcast, search replies 9785, keepalives
// 9787, replies 9788 with 10 MiB buffers) and eight threads: a receiving thread per
// listening socket that only filters and queues, a worker thread per queue that decodes and
// writes what the devices report into the device store, the liveness thread that ages the
// peer table (PeerTable, peer_table.h: how each device is reached), and the retransmission
// thread that resends unacknowledged commands (RetransmissionQueue, retransmission_queue.h).
// Commands are sent on the caller's thread. Pages never hear from the engine: they read the
// store on their own timers.
//
// Locks, in the only order they are ever nested:
//   retransmission-queue lock -> adapter-list lock  (resends go out under the queue's lock)
//   peer-table lock           -> adapter-list lock  (ProbeDiscoveredDevices sends under it)
// The store is never called while an engine lock is held.
//
// Testing: every outgoing datagram goes through one place. When options.sendHook is set it
// replaces sendto() (and the temporary multicast socket), so tests record what the engine
// sends without any socket. The handlers, one retransmission pass and one liveness sweep are
// public so that tests drive them directly; Start() with options.openSockets = false runs the
// worker, liveness and retransmission threads without any socket, and InjectDatagram() feeds
// the queues exactly as a receiving thread would; options.receiveCalls stands in for the
// receiving threads' poll() and recvfrom(), so that tests can make them fail.

#include <poll.h>
#include <sys/socket.h>

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
#include "engine/peer_table.h"
#include "engine/retransmission_queue.h"
#include "wire/packet.h"
#include "model/device_store.h"
#include "model/command_log.h"
#include "system/local_adapters.h"

namespace fd {

// One received datagram as a receiving thread hands it to its worker.
struct ReceivedDatagram {
    uint8_t fromIp[4] = {};  // dotted order
    uint16_t fromPort = 0;
    uint16_t length = 0;                       // bytes received, 16..1472
    std::array<uint8_t, kMaxDatagram> data{};  // zero beyond length
};

// Builds a ReceivedDatagram from raw bytes (cut at 1472) and a dotted sender address.
ReceivedDatagram MakeReceivedDatagram(std::span<const uint8_t> bytes, std::string_view fromIp,
                                      uint16_t fromPort = 0);

// One outgoing datagram, as the send hook sees it.
struct OutgoingDatagram {
    std::string destIp;  // "239.255.255.250" for commands, a broadcast address for searches
    uint16_t destPort = 0;
    std::string localIp;         // the adapter address a command leaves through; "" for the search
    std::vector<uint8_t> bytes;  // header + body
};
// Returns whether the datagram counts as sent.
using SendHook = std::function<bool(const OutgoingDatagram&)>;

// A device's answer that ended one of the engine's pending requests.
struct Acknowledgement {
    std::string ip;  // the address the answer came from (the request's address)
    std::string mac;
    int command = 0;
    uint8_t result = 0;  // first body byte, 0 when the answer has no body
};
using AcknowledgementHook = std::function<void(const Acknowledgement&)>;
using AdapterSource = std::function<std::vector<LocalAdapterInfo>()>;

// The receiving threads' two system calls. Tests put in versions that fail on purpose;
// an empty one is the real poll() or recvfrom().
struct ReceiveCalls {
    std::function<int(pollfd* fds, nfds_t count, int timeoutMs)> poll;
    std::function<ssize_t(int fd, void* buffer, std::size_t size, int flags, sockaddr* from,
                          socklen_t* fromLength)>
        recvfrom;
};

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
    // Told of every answer that ends a pending request, so that a caller waiting for one
    // can tell an answer from retries running out. Called on a worker thread after the
    // answer has been written to the store, with no engine lock held.
    AcknowledgementHook onAcknowledged;
    // Where every command sent with retransmission (but the engine's own device-info
    // requests) is recorded with its answer, its give-up and the device's later report.
    fd::CommandLog* commands = nullptr;
    ReceiveCalls receiveCalls;
};

// Counters, per listening port in the order 9785, 9787, 9788.
struct EngineStats {
    std::array<uint64_t, 3> accepted{};  // passed the filter and queued
    std::array<uint64_t, 3> filtered{};  // dropped: size, magic or command
    std::array<uint64_t, 3> overflow{};  // dropped: queue full
    std::array<uint64_t, 3> handled{};   // handed to the handler by the worker
    std::array<uint64_t, 3> errors{};    // dropped: poll() or recvfrom() failed
    std::array<std::size_t, 3> queuePeak{};
    int replyReceiveBuffer = 0;  // what the kernel granted the 9788 socket (0 before Start)
};

}  // namespace fd

class CDeviceProtocol final : public fd::IDeviceEngine {
public:
    // Which listening port a datagram arrived on.
    enum Port : int { PORT_SEARCH_REPLY = 0, PORT_KEEPALIVE = 1, PORT_REPLY = 2 };

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

    // Fills the list with the adapters that are up and have an address other than 0.0.0.0,
    // and refreshes the adapter address list used to choose where commands leave. all, when
    // given, gets every adapter of the same reading, those not to be used (no carrier)
    // among them, for the adapter list the user sees.
    void ReadLocalAdapters(std::vector<LocalAdapterInfo>& list,
                           std::vector<LocalAdapterInfo>* all = nullptr);

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
                        uint16_t fromPort = 0);
    // One worker wake-up for a port: swaps the whole queue out and handles every item.
    // Returns how many were handled. Meant for tests run without Start().
    std::size_t ProcessQueue(Port port);

    // ---- inspection ----
    std::vector<fd::PeerEntry> GetPeers() const;
    std::vector<fd::PendingRequest> GetPendingRequests() const;
    fd::EngineStats GetStats() const;
    std::size_t QueueSize(Port port) const;

private:
    struct Queue {
        mutable std::mutex lock;
        std::condition_variable_any ready;
        std::vector<fd::ReceivedDatagram> items;
    };
    struct AdapterAddress {
        std::string ip;
        std::string mask;
    };

    bool OpenListeningSockets();
    void CloseListeningSockets();
    void StopThreads();
    void ReceiveLoop(std::stop_token st, Port port);
    // Counts a failed poll() or recvfrom() as a lost datagram; an error that keeps coming back
    // is waited out a little longer each time instead of being spun on.
    void NoteReceiveError(std::stop_token st, Port port, int& errorsInARow);
    void WorkerLoop(std::stop_token st, Port port);
    void LivenessLoop(std::stop_token st);
    void RetransmissionLoop(std::stop_token st);
    void Dispatch(Port port, const fd::ReceivedDatagram& dg);
    bool Enqueue(Port port, const fd::ReceivedDatagram& dg);
    void HandleScanResult(std::span<const uint8_t> body);
    bool Transmit(const fd::OutgoingDatagram& out, int socketFd);
    bool SendMulticast(const std::string& localIp, const std::vector<uint8_t>& bytes);

    fd::DeviceProtocolOptions m_options;
    IDeviceStore* m_store;

    int m_searchSocket = -1;  // guarded by m_adapterListLock, like m_commandSocket
    // The socket commands are sent from while the engine runs (the keepalive socket, bound to
    // 0.0.0.0:9787); -1 otherwise. Guarded by m_adapterListLock.
    int m_commandSocket = -1;
    std::array<int, 3> m_listenSockets{-1, -1, -1};
    int m_wakeFd = -1;  // eventfd that wakes the receiving threads on Stop

    std::array<Queue, 3> m_queues;

    fd::PeerTable m_peers;

    std::mutex m_adapterReadLock;
    mutable std::mutex m_adapterListLock;
    std::vector<AdapterAddress> m_adapterAddresses;

    fd::RetransmissionQueue m_pending;

    std::atomic<bool> m_scanComplete{false};
    std::atomic<int> m_retransmissionMax;
    std::atomic<int> m_retransmissionInterval;

    std::mutex m_timerLock;  // for the timed waits of the liveness and retransmission threads
    std::condition_variable_any m_timerWake;

    std::vector<std::jthread> m_threads;
    std::mutex m_lifecycleLock;
    bool m_stopped = false;

    struct Counters {
        std::array<std::atomic<uint64_t>, 3> accepted{};
        std::array<std::atomic<uint64_t>, 3> filtered{};
        std::array<std::atomic<uint64_t>, 3> overflow{};
        std::array<std::atomic<uint64_t>, 3> handled{};
        std::array<std::atomic<uint64_t>, 3> errors{};
        std::array<std::atomic<std::size_t>, 3> queuePeak{};
        std::atomic<int> replyReceiveBuffer{0};
    } m_counters;
};
