// The engine's life cycle: sockets, receiving and worker threads, the liveness sweep and
// the retransmission of unacknowledged commands.

#include "engine/device_protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iterator>
#include <system_error>

#include "engine/device_protocol_sockets.h"

namespace fd {

ReceivedDatagram MakeReceivedDatagram(std::span<const uint8_t> bytes, std::string_view fromIp,
                                      uint16_t fromPort) {
    ReceivedDatagram dg;
    IpFromText(fromIp, dg.fromIp);
    dg.fromPort = fromPort;
    std::size_t n = bytes.size() < kMaxDatagram ? bytes.size() : kMaxDatagram;
    if (n) std::memcpy(dg.data.data(), bytes.data(), n);
    dg.length = static_cast<uint16_t>(n);
    return dg;
}

namespace {

constexpr int kSocketBuffer = 1 << 20;        // 1 MiB
constexpr int kReplySocketBuffer = 10 << 20;  // 10 MiB: a search of a large network
constexpr int kReceiveBatch = 256;            // datagrams read per wake-up before re-checking stop
constexpr int kPollTimeoutMs = 250;           // bounds how long Stop can wait for a receiver

const uint16_t kListenPorts[3] = {kPortSearchReply, kPortKeepalive, kPortInfo};

// What a worker writes for one wake-up goes to the store as one batch: a search answered
// by thousands of devices then costs a commit per batch, not per device.
class WriteBatch {
public:
    WriteBatch(IDeviceStore* store, std::size_t items) : m_store(items > 1 ? store : nullptr) {
        if (m_store) m_store->BeginWriteBatch();
    }
    ~WriteBatch() {
        if (m_store) m_store->EndWriteBatch();
    }
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

private:
    IDeviceStore* m_store;
};

// The receiving threads' filter, by the index of the listening socket.
bool PassesFilter(int port, const uint8_t* data, std::size_t len) {
    return fd::PassesReceiveFilter(kListenPorts[port], {data, len});
}

// Sets a buffer size, forcing past net.core.[rw]mem_max when the process may; otherwise it
// goes on with what the kernel grants.
bool SetBufferSize(int fd, bool receive, int bytes) {
    int force = receive ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
    if (setsockopt(fd, SOL_SOCKET, force, &bytes, sizeof bytes) == 0) return true;
    int plain = receive ? SO_RCVBUF : SO_SNDBUF;
    return setsockopt(fd, SOL_SOCKET, plain, &bytes, sizeof bytes) == 0;
}

}  // namespace

int OpenUdpSocket(const char* localIp, uint16_t port, bool broadcast, bool multicast,
                  int bufferBytes) {
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (localIp && *localIp && inet_pton(AF_INET, localIp, &local) != 1) return -1;

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    auto fail = [fd]() {
        close(fd);
        return -1;
    };
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail();
    if (broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return fail();
    if (multicast) {
        ip_mreq mreq{};
        inet_pton(AF_INET, kMulticastGroup, &mreq.imr_multiaddr);
        mreq.imr_interface = local;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) return fail();
        unsigned char loop = 0;
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) return fail();
        // Without this the kernel picks the interface from the routing table, which need not
        // be the adapter whose subnet holds the device.
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0) return fail();
    }
    if (!SetBufferSize(fd, false, bufferBytes) || !SetBufferSize(fd, true, bufferBytes))
        return fail();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr = local;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return fail();
    return fd;
}

bool SetMulticastSource(int fd, const std::string& localIp) {
    in_addr local{};
    if (inet_pton(AF_INET, localIp.c_str(), &local) != 1) return false;
    // Given only an address, the kernel finds the interface that holds it and uses the
    // address as the source of the datagrams that follow.
    return setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) == 0;
}

bool SendUdp(int fd, const std::string& destIp, uint16_t destPort,
             const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destPort);
    if (inet_pton(AF_INET, destIp.c_str(), &to.sin_addr) != 1) return false;
    ssize_t n = sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n > 0;
}

}  // namespace fd

using fd::ReceivedDatagram;
using namespace fd;  // the file-local constants and helpers above

CDeviceProtocol::CDeviceProtocol(fd::DeviceProtocolOptions options)
    : m_options(std::move(options)),
      m_store(m_options.store),
      m_retransmissionMax(m_options.retransmissionMax),
      m_retransmissionInterval(m_options.retransmissionIntervalMs) {
    if (!m_options.adapterSource) m_options.adapterSource = fd::ListLocalAdapters;
    if (m_options.queueCapacity == 0) m_options.queueCapacity = 1;
    // A zero period would turn the sweep into a busy loop.
    if (m_options.livenessPeriod < std::chrono::milliseconds(1))
        m_options.livenessPeriod = std::chrono::milliseconds(1);
}

CDeviceProtocol::~CDeviceProtocol() {
    Stop();
}

bool CDeviceProtocol::Start(int retransmissionMax, int retransmissionInterval) {
    std::lock_guard life(m_lifecycleLock);
    m_retransmissionMax = retransmissionMax;
    m_retransmissionInterval = retransmissionInterval;

    // A second Start replaces the running threads and sockets.
    StopThreads();
    CloseListeningSockets();
    m_stopped = false;

    if (m_options.openSockets) {
        m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wakeFd < 0) return false;
        if (!OpenListeningSockets()) return false;
    }

    try {
        if (m_options.openSockets) {
            for (int p = 0; p < 3; ++p)
                m_threads.emplace_back(
                    [this, p](std::stop_token st) { ReceiveLoop(st, static_cast<Port>(p)); });
        }
        for (int p = 0; p < 3; ++p)
            m_threads.emplace_back(
                [this, p](std::stop_token st) { WorkerLoop(st, static_cast<Port>(p)); });
        m_threads.emplace_back([this](std::stop_token st) { LivenessLoop(st); });
        m_threads.emplace_back([this](std::stop_token st) { RetransmissionLoop(st); });
    } catch (const std::system_error&) {
        return false;
    }

    std::vector<LocalAdapterInfo> adapters;
    ReadLocalAdapters(adapters);
    return true;
}

void CDeviceProtocol::Stop() {
    {
        std::lock_guard life(m_lifecycleLock);
        if (m_stopped) return;
        m_stopped = true;
        StopThreads();
        CloseListeningSockets();
    }
    // Tell every device we know that this PC is going away.
    for (const fd::PeerEntry& peer : GetPeers())
        SendToDevice(peer.ip, fd::CMD_PROBE, nullptr, 0, peer.mac, false);
}

void CDeviceProtocol::StopThreads() {
    for (auto& t : m_threads) t.request_stop();
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        // Leaves the eventfd readable, so every receiving thread's poll returns at once.
        [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
    }
    {
        // Taking the lock orders the stop request before the waiters' next predicate check.
        std::lock_guard l(m_timerLock);
    }
    m_timerWake.notify_all();
    m_threads.clear();  // joins
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
        m_wakeFd = -1;
    }
}

bool CDeviceProtocol::OpenListeningSockets() {
    {
        std::lock_guard l(m_adapterListLock);
        m_searchSocket = fd::OpenUdpSocket(nullptr, fd::kPortSearch, true, false, kSocketBuffer);
        if (m_searchSocket < 0) return false;
    }
    for (int p = 0; p < 3; ++p) {
        // Search answers arrive together, like the device infos they lead to: thousands of
        // devices answer one broadcast within milliseconds.
        int size = p == PORT_KEEPALIVE ? kSocketBuffer : kReplySocketBuffer;
        m_listenSockets[p] = fd::OpenUdpSocket(nullptr, kListenPorts[p], false, false, size);
        if (m_listenSockets[p] < 0) return false;
    }
    {
        // Commands leave through the keepalive socket, which is bound to their port.
        std::lock_guard l(m_adapterListLock);
        m_commandSocket = m_listenSockets[PORT_KEEPALIVE];
        // Commands must not come back to this PC's own listening sockets.
        unsigned char loop = 0;
        if (setsockopt(m_commandSocket, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
            return false;
    }
    int granted = 0;
    socklen_t len = sizeof granted;
    if (getsockopt(m_listenSockets[PORT_REPLY], SOL_SOCKET, SO_RCVBUF, &granted, &len) == 0)
        m_counters.replyReceiveBuffer = granted;
    return true;
}

void CDeviceProtocol::CloseListeningSockets() {
    {
        // A command or search being sent on another thread finishes before its socket goes.
        std::lock_guard l(m_adapterListLock);
        m_commandSocket = -1;
        if (m_searchSocket >= 0) close(m_searchSocket);
        m_searchSocket = -1;
    }
    for (int& s : m_listenSockets) {
        if (s >= 0) close(s);
        s = -1;
    }
}

void CDeviceProtocol::ReceiveLoop(std::stop_token st, Port port) {
    const int sock = m_listenSockets[port];
    const fd::ReceiveCalls& calls = m_options.receiveCalls;
    pollfd fds[2] = {{sock, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int errorsInARow = 0;
    while (!st.stop_requested()) {
        int r = calls.poll ? calls.poll(fds, 2, kPollTimeoutMs) : poll(fds, 2, kPollTimeoutMs);
        if (st.stop_requested()) return;
        if (r < 0) {
            if (errno != EINTR) NoteReceiveError(st, port, errorsInARow);
            continue;
        }
        if (r == 0) continue;
        if (fds[1].revents) return;
        // The socket was closed under the thread: nothing more can arrive.
        if (fds[0].revents & POLLNVAL) return;
        // Drain what the socket holds, a batch at a time, so a burst costs few wake-ups.
        for (int i = 0; i < kReceiveBatch && !st.stop_requested(); ++i) {
            ReceivedDatagram dg;
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            // MSG_TRUNC reports the real size, so an oversized datagram is recognised.
            auto* fromAddr = reinterpret_cast<sockaddr*>(&from);
            ssize_t n = calls.recvfrom
                            ? calls.recvfrom(sock, dg.data.data(), dg.data.size(),
                                             MSG_DONTWAIT | MSG_TRUNC, fromAddr, &fromLen)
                            : recvfrom(sock, dg.data.data(), dg.data.size(),
                                       MSG_DONTWAIT | MSG_TRUNC, fromAddr, &fromLen);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // drained
                if (errno == EINTR) continue;
                if (errno == EBADF || errno == ENOTSOCK) return;  // closed under the thread
                NoteReceiveError(st, port, errorsInARow);
                break;
            }
            errorsInARow = 0;
            std::size_t len = static_cast<std::size_t>(n);
            if (!PassesFilter(port, dg.data.data(), len)) {
                ++m_counters.filtered[port];
                continue;
            }
            std::memcpy(dg.fromIp, &from.sin_addr, 4);
            dg.fromPort = ntohs(from.sin_port);
            dg.length = static_cast<uint16_t>(len);
            Enqueue(port, dg);
        }
    }
}

void CDeviceProtocol::NoteReceiveError(std::stop_token st, Port port, int& errorsInARow) {
    ++m_counters.errors[port];
    ++errorsInARow;
    if (errorsInARow < 2) return;  // a single failure: straight back to receiving
    // 2, 4, 8 ... ms, at most 100 ms: a lasting fault costs a few wake-ups a second, and a
    // Stop still ends the wait at once.
    const int shift = std::min(errorsInARow - 1, 7);
    const auto wait = std::chrono::milliseconds(std::min(1 << shift, 100));
    std::unique_lock l(m_timerLock);
    m_timerWake.wait_for(l, st, wait, [] { return false; });
}

bool CDeviceProtocol::InjectDatagram(Port port, std::span<const uint8_t> bytes,
                                     std::string_view fromIp, uint16_t fromPort) {
    if (!PassesFilter(port, bytes.data(), bytes.size())) {
        ++m_counters.filtered[port];
        return false;
    }
    return Enqueue(port, fd::MakeReceivedDatagram(bytes, fromIp, fromPort));
}

bool CDeviceProtocol::Enqueue(Port port, const ReceivedDatagram& dg) {
    Queue& q = m_queues[port];
    {
        std::lock_guard l(q.lock);
        if (q.items.size() >= m_options.queueCapacity) {
            // The worker is far behind; newer datagrams are lost as the socket would lose them.
            ++m_counters.overflow[port];
            return false;
        }
        q.items.push_back(dg);
        if (q.items.size() > m_counters.queuePeak[port])
            m_counters.queuePeak[port] = q.items.size();
    }
    ++m_counters.accepted[port];
    q.ready.notify_one();
    return true;
}

void CDeviceProtocol::WorkerLoop(std::stop_token st, Port port) {
    Queue& q = m_queues[port];
    std::vector<ReceivedDatagram> local;
    for (;;) {
        {
            std::unique_lock l(q.lock);
            if (!q.ready.wait(l, st, [&q] { return !q.items.empty(); })) return;
            local.swap(q.items);
        }
        {
            WriteBatch batch(m_store, local.size());
            for (const ReceivedDatagram& dg : local) {
                if (st.stop_requested()) return;
                Dispatch(port, dg);
            }
        }
        local.clear();
        // A burst can leave megabytes of capacity behind; do not keep it for the whole run.
        if (local.capacity() > 1024) local.shrink_to_fit();
    }
}

std::size_t CDeviceProtocol::ProcessQueue(Port port) {
    std::vector<ReceivedDatagram> local;
    {
        std::lock_guard l(m_queues[port].lock);
        local.swap(m_queues[port].items);
    }
    WriteBatch batch(m_store, local.size());
    for (const ReceivedDatagram& dg : local) Dispatch(port, dg);
    return local.size();
}

void CDeviceProtocol::Dispatch(Port port, const ReceivedDatagram& dg) {
    try {
        switch (port) {
            case PORT_SEARCH_REPLY:
                HandleSearchReply(dg);
                break;
            case PORT_KEEPALIVE:
                HandleKeepalive(dg);
                break;
            case PORT_REPLY:
                HandleReply(dg);
                break;
        }
    } catch (const std::exception&) {
        // One bad datagram (or a store hiccup) must not end the worker for the whole run.
    }
    ++m_counters.handled[port];
}

void CDeviceProtocol::LivenessLoop(std::stop_token st) {
    std::unique_lock l(m_timerLock);
    for (;;) {
        m_timerWake.wait_for(l, st, m_options.livenessPeriod, [] { return false; });
        if (st.stop_requested()) return;
        l.unlock();
        SweepLiveness();
        l.lock();
    }
}

void CDeviceProtocol::RetransmissionLoop(std::stop_token st) {
    std::unique_lock l(m_timerLock);
    for (;;) {
        int interval = m_retransmissionInterval.load();
        if (interval < 1) interval = 1;
        m_timerWake.wait_for(l, st, std::chrono::milliseconds(interval), [] { return false; });
        if (st.stop_requested()) return;
        l.unlock();
        RetransmitPending();
        l.lock();
    }
}

void CDeviceProtocol::SweepLiveness() {
    const std::vector<std::string> removed = m_peers.Sweep();
    if (m_store)
        for (const std::string& mac : removed) m_store->DeleteApByMac(mac);
}

void CDeviceProtocol::RetransmitPending() {
    const auto givenUp = m_pending.Resend([this](const fd::PendingRequest& r) {
        SendToDevice(r.ip, r.command, r.body, r.length, r.mac, false);
    });
    if (m_options.commands)
        for (const auto& [mac, command] : givenUp) m_options.commands->RecordNoAnswer(mac, command);
}

std::vector<fd::PeerEntry> CDeviceProtocol::GetPeers() const {
    return m_peers.Peers();
}

std::vector<fd::PendingRequest> CDeviceProtocol::GetPendingRequests() const {
    return m_pending.Requests();
}

std::size_t CDeviceProtocol::QueueSize(Port port) const {
    std::lock_guard l(m_queues[port].lock);
    return m_queues[port].items.size();
}

fd::EngineStats CDeviceProtocol::GetStats() const {
    fd::EngineStats s;
    for (int p = 0; p < 3; ++p) {
        s.accepted[p] = m_counters.accepted[p];
        s.filtered[p] = m_counters.filtered[p];
        s.overflow[p] = m_counters.overflow[p];
        s.handled[p] = m_counters.handled[p];
        s.errors[p] = m_counters.errors[p];
        s.queuePeak[p] = m_counters.queuePeak[p];
    }
    s.replyReceiveBuffer = m_counters.replyReceiveBuffer;
    return s;
}
