// Sockets, receiving and worker threads, and the adapter a command leaves through.

#include "engine/transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/udp_socket.h"
#include "wire/address.h"

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
constexpr int kCommandSocketBuffer = 1 << 20;
constexpr int kReceiveBatch = 256;   // datagrams read per wake-up before re-checking stop
constexpr int kPollTimeoutMs = 250;  // bounds how long Close can wait for a receiver

const uint16_t kListenPorts[3] = {kPortSearchReply, kPortKeepalive, kPortInfo};

bool PassesFilter(ListenPort port, const uint8_t* data, std::size_t len) {
    return PassesReceiveFilter(kListenPorts[port], {data, len});
}

// Zero-terminated text of a fixed adapter field, never reading past it.
std::string FixedText(const char* field, std::size_t capacity) {
    return std::string(field, strnlen(field, capacity));
}

int AddressCount(const LocalAdapterInfo& a) {
    return std::clamp<int>(a.ip_count, 0, kMaxAdapterAddresses);
}

}  // namespace

Transport::Transport(TransportOptions options) : m_options(std::move(options)) {
    if (!m_options.adapterSource) m_options.adapterSource = ListLocalAdapters;
    if (m_options.queueCapacity == 0) m_options.queueCapacity = 1;
}

Transport::~Transport() {
    Close();
}

bool Transport::Open() {
    Close();
    if (m_options.openSockets) {
        m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wakeFd < 0) return false;
        if (!OpenSockets()) return false;
    }
    try {
        if (m_options.openSockets)
            for (int p = 0; p < 3; ++p)
                m_threads.emplace_back([this, p](std::stop_token st) {
                    ReceiveLoop(st, static_cast<ListenPort>(p));
                });
        for (int p = 0; p < 3; ++p)
            m_threads.emplace_back(
                [this, p](std::stop_token st) { WorkerLoop(st, static_cast<ListenPort>(p)); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Transport::Close() {
    StopThreads();
    CloseSockets();
}

void Transport::StopThreads() {
    for (auto& t : m_threads) t.request_stop();
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        // Leaves the eventfd readable, so every receiving thread's poll returns at once.
        [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
    }
    {
        // Taking the lock orders the stop request before the waiters' next predicate check.
        std::lock_guard l(m_backoffLock);
    }
    m_backoffWake.notify_all();
    m_threads.clear();  // joins
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
        m_wakeFd = -1;
    }
}

bool Transport::OpenSockets() {
    {
        std::lock_guard l(m_adapterListLock);
        m_searchSocket = OpenUdpSocket(nullptr, kPortSearch, true, false, kSocketBuffer);
        if (m_searchSocket < 0) return false;
    }
    for (int p = 0; p < 3; ++p) {
        // Search answers arrive together, like the device infos they lead to: thousands of
        // devices answer one broadcast within milliseconds.
        int size = p == PORT_KEEPALIVE ? kSocketBuffer : kReplySocketBuffer;
        const int s = OpenUdpSocket(nullptr, kListenPorts[p], false, false, size);
        if (s < 0) return false;
        std::lock_guard l(m_adapterListLock);
        m_listenSockets[p] = s;
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

void Transport::CloseSockets() {
    std::lock_guard l(m_adapterListLock);
    m_commandSocket = -1;
    if (m_searchSocket >= 0) close(m_searchSocket);
    m_searchSocket = -1;
    for (int& s : m_listenSockets) {
        if (s >= 0) close(s);
        s = -1;
    }
}

void Transport::ReceiveLoop(std::stop_token st, ListenPort port) {
    const int sock = m_listenSockets[port];  // set before the thread starts
    const ReceiveCalls& calls = m_options.receiveCalls;
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

void Transport::NoteReceiveError(std::stop_token st, ListenPort port, int& errorsInARow) {
    ++m_counters.errors[port];
    ++errorsInARow;
    if (errorsInARow < 2) return;  // a single failure: straight back to receiving
    // 2, 4, 8 ... ms, at most 100 ms: a lasting fault costs a few wake-ups a second, and a
    // Close still ends the wait at once.
    const int shift = std::min(errorsInARow - 1, 7);
    const auto wait = std::chrono::milliseconds(std::min(1 << shift, 100));
    std::unique_lock l(m_backoffLock);
    m_backoffWake.wait_for(l, st, wait, [] { return false; });
}

bool Transport::Inject(ListenPort port, std::span<const uint8_t> bytes, std::string_view fromIp,
                       uint16_t fromPort) {
    if (!PassesFilter(port, bytes.data(), bytes.size())) {
        ++m_counters.filtered[port];
        return false;
    }
    return Enqueue(port, MakeReceivedDatagram(bytes, fromIp, fromPort));
}

bool Transport::Enqueue(ListenPort port, const ReceivedDatagram& dg) {
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

std::size_t Transport::HandOn(ListenPort port, std::span<const ReceivedDatagram> batch,
                              std::stop_token st) {
    const std::size_t n = m_options.onDatagrams ? m_options.onDatagrams(port, batch, st) : 0;
    m_counters.handled[port] += n;
    return n;
}

void Transport::WorkerLoop(std::stop_token st, ListenPort port) {
    Queue& q = m_queues[port];
    std::vector<ReceivedDatagram> local;
    for (;;) {
        {
            std::unique_lock l(q.lock);
            if (!q.ready.wait(l, st, [&q] { return !q.items.empty(); })) return;
            local.swap(q.items);
        }
        HandOn(port, local, st);
        if (st.stop_requested()) return;
        local.clear();
        // A burst can leave megabytes of capacity behind; do not keep it for the whole run.
        if (local.capacity() > 1024) local.shrink_to_fit();
    }
}

std::size_t Transport::ProcessQueue(ListenPort port) {
    std::vector<ReceivedDatagram> local;
    {
        std::lock_guard l(m_queues[port].lock);
        local.swap(m_queues[port].items);
    }
    return HandOn(port, local, {});
}

std::size_t Transport::QueueSize(ListenPort port) const {
    std::lock_guard l(m_queues[port].lock);
    return m_queues[port].items.size();
}

EngineStats Transport::Stats() const {
    EngineStats s;
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

void Transport::ReadAdapters(std::vector<LocalAdapterInfo>& list,
                             std::vector<LocalAdapterInfo>* all) {
    list.clear();
    {
        std::lock_guard l(m_adapterReadLock);
        std::vector<LocalAdapterInfo> found = m_options.adapterSource();
        if (all) *all = found;
        for (const LocalAdapterInfo& a : found) {
            if (a.up != 1 || AddressCount(a) == 0) continue;
            if (FixedText(a.addrs[0].ip, sizeof a.addrs[0].ip) == "0.0.0.0") continue;
            list.push_back(a);
        }
    }
    // Every address of every usable adapter can carry a command; a device found through
    // an adapter's second address must still be reachable.
    std::vector<AdapterAddress> addresses;
    for (const LocalAdapterInfo& a : list) {
        for (int i = 0; i < AddressCount(a); ++i) {
            std::string ip = FixedText(a.addrs[i].ip, sizeof a.addrs[i].ip);
            if (IsUnsetIp(ip)) continue;
            addresses.push_back({ip, FixedText(a.addrs[i].mask, sizeof a.addrs[i].mask)});
        }
    }
    std::lock_guard l(m_adapterListLock);
    m_adapterAddresses = std::move(addresses);
}

void Transport::Broadcast(const std::vector<uint8_t>& bytes) {
    std::vector<LocalAdapterInfo> adapters;
    ReadAdapters(adapters);

    std::vector<std::string> targets;
    for (const LocalAdapterInfo& a : adapters) {
        for (int i = 0; i < AddressCount(a); ++i) {
            std::string ip = FixedText(a.addrs[i].ip, sizeof a.addrs[i].ip);
            std::string mask = FixedText(a.addrs[i].mask, sizeof a.addrs[i].mask);
            const auto ipValue = ParseIpv4(ip), maskValue = ParseIpv4(mask);
            if (IsUnsetIp(ip) || IsUnsetIp(mask) || !ipValue || !maskValue) continue;
            std::string broadcast = Ipv4ToText(*ipValue | ~*maskValue);
            if (std::find(targets.begin(), targets.end(), broadcast) == targets.end())
                targets.push_back(broadcast);
        }
    }
    if (targets.empty()) targets.push_back("255.255.255.255");

    OutgoingDatagram out;
    out.destPort = kPortSearch;
    out.bytes = bytes;
    std::lock_guard l(m_adapterListLock);
    for (const std::string& target : targets) {
        out.destIp = target;
        if (m_options.sendHook)
            m_options.sendHook(out);
        else if (m_searchSocket >= 0)
            SendUdp(m_searchSocket, out.destIp, out.destPort, out.bytes);
    }
}

Transport::SendResult Transport::SendToGroup(const std::string& deviceIp,
                                             const std::vector<uint8_t>& bytes,
                                             const std::function<void()>& justBefore) {
    OutgoingDatagram out;
    out.destIp = kMulticastGroup;
    out.destPort = kPortCommand;
    out.bytes = bytes;

    std::lock_guard l(m_adapterListLock);
    const AdapterAddress* chosen = nullptr;
    for (const AdapterAddress& a : m_adapterAddresses) {
        if (!a.ip.empty() && InSameSubnet(a.ip, deviceIp, a.mask)) {
            chosen = &a;
            break;
        }
    }
    if (!chosen) return SendResult::NoAdapter;
    out.localIp = chosen->ip;
    bool sent = false;
    if (m_options.sendHook) {
        if (justBefore) justBefore();
        sent = m_options.sendHook(out);
    } else if (m_commandSocket >= 0) {
        // While open, commands leave from the keepalive socket on port 9787 with the chosen
        // adapter's address as source. A temporary socket bound to that address and port
        // would, for as long as it lives, receive the keepalives devices send to this PC and
        // drop them; and setting one up per command costs more than the send itself when
        // thousands of devices answer a search. The kernel turns the address into an
        // interface when it is set, so it is set for every command: an adapter unplugged and
        // plugged in again, or an address moved to another interface, is a different
        // interface by now.
        if (SetMulticastSource(m_commandSocket, chosen->ip)) {
            if (justBefore) justBefore();
            sent = SendUdp(m_commandSocket, out.destIp, out.destPort, out.bytes);
        }
    } else {
        // Closed (before Open, or the probes sent after Close): a temporary socket carries
        // the one datagram.
        int sock =
            OpenUdpSocket(chosen->ip.c_str(), kPortCommand, false, true, kCommandSocketBuffer);
        if (sock >= 0) {
            if (justBefore) justBefore();
            sent = SendUdp(sock, out.destIp, out.destPort, out.bytes);
            close(sock);
        }
    }
    return sent ? SendResult::Sent : SendResult::Failed;
}

}  // namespace fd
