#pragma once
// The engine's transport: the UDP sockets, the threads that receive and queue, the worker
// threads that hand each queue's datagrams on, and the choice of adapter a command leaves
// through.
//
// Four sockets while open: search 9786 (broadcast), search replies 9785, keepalives 9787
// (also the socket commands leave from) and replies 9788 with 10 MiB buffers. Each listening
// socket has a receiving thread that only filters and queues, and a worker thread that swaps
// its queue out and hands the whole batch to the owner's callback. Sends run on the caller's
// thread.
//
// It knows nothing of devices: no decoding beyond the receive filter, no peers, no store.
//
// The adapter-list lock is the innermost lock of the engine: the owner may hold its own locks
// while it sends.
//
// Testing: options.sendHook replaces sendto() (and the temporary multicast socket);
// openSockets = false runs the worker threads without any socket, Inject() queues a datagram
// exactly as a receiving thread would and ProcessQueue() does one worker wake-up on the
// caller's thread; options.receiveCalls stands in for poll() and recvfrom().

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "system/local_adapters.h"
#include "wire/packet.h"

namespace fd {

// The three listening sockets, as indexes.
enum ListenPort : int { PORT_SEARCH_REPLY = 0, PORT_KEEPALIVE = 1, PORT_REPLY = 2 };

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
using AdapterSource = std::function<std::vector<LocalAdapterInfo>()>;

// The receiving threads' two system calls. Tests put in versions that fail on purpose;
// an empty one is the real poll() or recvfrom().
struct ReceiveCalls {
    std::function<int(pollfd* fds, nfds_t count, int timeoutMs)> poll;
    std::function<ssize_t(int fd, void* buffer, std::size_t size, int flags, sockaddr* from,
                          socklen_t* fromLength)>
        recvfrom;
};

// Counters, per listening port in the order 9785, 9787, 9788.
struct EngineStats {
    std::array<uint64_t, 3> accepted{};  // passed the filter and queued
    std::array<uint64_t, 3> filtered{};  // dropped: size, magic or command
    std::array<uint64_t, 3> overflow{};  // dropped: queue full
    std::array<uint64_t, 3> handled{};   // handed to the owner by the worker
    std::array<uint64_t, 3> errors{};    // dropped: poll() or recvfrom() failed
    std::array<std::size_t, 3> queuePeak{};
    int replyReceiveBuffer = 0;  // what the kernel granted the 9788 socket (0 before Open)
};

// What a worker hands on: one wake-up's datagrams of one port. It returns how many it
// handled (fewer when the stop came in the middle).
using DatagramHandler = std::function<std::size_t(
    ListenPort port, std::span<const ReceivedDatagram> batch, std::stop_token stop)>;

struct TransportOptions {
    AdapterSource adapterSource;       // empty: fd::ListLocalAdapters
    SendHook sendHook;                 // empty: real sockets
    bool openSockets = true;           // false: Open() runs no socket and no receiving thread
    std::size_t queueCapacity = 8192;  // per queue; datagrams beyond it are dropped and counted
    ReceiveCalls receiveCalls;
    DatagramHandler onDatagrams;  // required for anything to be handled
};

class Transport {
public:
    explicit Transport(TransportOptions options);
    ~Transport();  // Close()
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Opens the sockets and starts the receiving and worker threads; a second call replaces
    // them. False on the first failure.
    bool Open();
    // Stops every thread cooperatively and closes the sockets. Sends still work afterwards,
    // each through a temporary socket.
    void Close();

    // Fills the list with the adapters that are up and have an address other than 0.0.0.0,
    // and refreshes the adapter addresses commands choose from. all, when given, gets every
    // adapter of the same reading, those not to be used (no carrier) among them.
    void ReadAdapters(std::vector<LocalAdapterInfo>& list,
                      std::vector<LocalAdapterInfo>* all = nullptr);

    // The search datagram to every usable adapter's directed-broadcast address, or to
    // 255.255.255.255 when no adapter gives one. Reads the adapters first.
    void Broadcast(const std::vector<uint8_t>& bytes);

    enum class SendResult { Sent, NoAdapter, Failed };
    // A command datagram to the multicast group, leaving through the first adapter address
    // whose subnet holds deviceIp, with that address as its source. justBefore, when given,
    // runs once an adapter is chosen, right before the datagram goes out.
    SendResult SendToGroup(const std::string& deviceIp, const std::vector<uint8_t>& bytes,
                           const std::function<void()>& justBefore = {});

    // Filters and queues a datagram exactly as the receiving thread of that port does.
    // False when it was dropped (filter or full queue).
    bool Inject(ListenPort port, std::span<const uint8_t> bytes, std::string_view fromIp,
                uint16_t fromPort = 0);
    // One worker wake-up on the caller's thread: swaps the whole queue out and hands it on.
    // Returns how many were handled. Meant for tests that do not Open().
    std::size_t ProcessQueue(ListenPort port);

    std::size_t QueueSize(ListenPort port) const;
    EngineStats Stats() const;

private:
    struct Queue {
        mutable std::mutex lock;
        std::condition_variable_any ready;
        std::vector<ReceivedDatagram> items;
    };
    struct AdapterAddress {
        std::string ip;
        std::string mask;
    };

    bool OpenSockets();
    void CloseSockets();
    void StopThreads();
    void ReceiveLoop(std::stop_token st, ListenPort port);
    // Counts a failed poll() or recvfrom() as a lost datagram; an error that keeps coming back
    // is waited out a little longer each time instead of being spun on.
    void NoteReceiveError(std::stop_token st, ListenPort port, int& errorsInARow);
    void WorkerLoop(std::stop_token st, ListenPort port);
    bool Enqueue(ListenPort port, const ReceivedDatagram& dg);
    std::size_t HandOn(ListenPort port, std::span<const ReceivedDatagram> batch,
                       std::stop_token st);

    TransportOptions m_options;

    // Every socket number is read and replaced under m_adapterListLock: a send on another
    // thread finishes before its socket goes, and a closed number may belong to another file
    // a moment later.
    int m_searchSocket = -1;
    int m_commandSocket = -1;  // the keepalive socket while open, -1 otherwise
    std::array<int, 3> m_listenSockets{-1, -1, -1};
    int m_wakeFd = -1;  // eventfd that wakes the receiving threads on Close

    std::array<Queue, 3> m_queues;

    std::mutex m_adapterReadLock;
    mutable std::mutex m_adapterListLock;
    std::vector<AdapterAddress> m_adapterAddresses;

    std::mutex m_backoffLock;  // for the waits of a receiving thread that keeps failing
    std::condition_variable_any m_backoffWake;

    std::vector<std::jthread> m_threads;

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

}  // namespace fd
