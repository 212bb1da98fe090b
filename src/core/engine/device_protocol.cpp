// The engine's life cycle and its own two threads: the liveness sweep and the retransmission
// of unacknowledged commands; and what the rest of the program asks of it.

#include "engine/device_protocol.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>

#include "wire/address.h"

namespace {

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

fd::TransportOptions TransportOptionsOf(const fd::DeviceProtocolOptions& o,
                                        fd::DatagramHandler handler) {
    fd::TransportOptions t;
    t.onDatagrams = std::move(handler);
    t.adapterSource = o.adapterSource;
    t.sendHook = o.sendHook;
    t.openSockets = o.openSockets;
    t.queueCapacity = o.queueCapacity;
    t.receiveCalls = o.receiveCalls;
    return t;
}

}  // namespace

CDeviceProtocol::CDeviceProtocol(fd::DeviceProtocolOptions options)
    : m_options(std::move(options)),
      m_store(m_options.store),
      m_transport(TransportOptionsOf(
          m_options, [this](Port port, std::span<const fd::ReceivedDatagram> batch,
                            std::stop_token st) { return HandleBatch(port, batch, st); })),
      m_retransmissionMax(m_options.retransmissionMax),
      m_retransmissionInterval(m_options.retransmissionIntervalMs) {
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
    StopTimers();
    m_transport.Close();
    m_stopped = false;

    if (!m_transport.Open()) return false;
    try {
        m_threads.emplace_back([this](std::stop_token st) { LivenessLoop(st); });
        m_threads.emplace_back([this](std::stop_token st) { RetransmissionLoop(st); });
        if (m_options.discoveredRowHold.count() > 0)
            m_threads.emplace_back([this](std::stop_token st) { HeldRowsLoop(st); });
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
        StopTimers();
        m_transport.Close();
    }
    // What the store is read for after the engine stops (the command line's list) includes
    // every device that answered.
    WriteHeldRows(std::chrono::milliseconds(0));
    // Tell every device we know that this PC is going away.
    for (const fd::PeerEntry& peer : GetPeers())
        SendToDevice(peer.ip, fd::CMD_PROBE, nullptr, 0, peer.mac, false);
}

void CDeviceProtocol::StopTimers() {
    for (auto& t : m_threads) t.request_stop();
    {
        // Taking the lock orders the stop request before the waiters' next predicate check.
        std::lock_guard l(m_timerLock);
    }
    m_timerWake.notify_all();
    m_threads.clear();  // joins
}

std::size_t CDeviceProtocol::HandleBatch(Port port, std::span<const fd::ReceivedDatagram> batch,
                                         std::stop_token st) {
    WriteBatch write(m_store, batch.size());
    std::size_t handled = 0;
    for (const fd::ReceivedDatagram& dg : batch) {
        if (st.stop_requested()) break;
        Dispatch(port, dg);
        ++handled;
    }
    return handled;
}

void CDeviceProtocol::Dispatch(Port port, const fd::ReceivedDatagram& dg) {
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

void CDeviceProtocol::HeldRowsLoop(std::stop_token st) {
    // Every half hold: a row is written between one and one and a half holds after the
    // device's search answer.
    const auto period = std::max(m_options.discoveredRowHold / 2, std::chrono::milliseconds(1));
    std::unique_lock l(m_timerLock);
    for (;;) {
        m_timerWake.wait_for(l, st, period, [] { return false; });
        if (st.stop_requested()) return;
        l.unlock();
        WriteHeldRows(m_options.discoveredRowHold);
        l.lock();
    }
}

void CDeviceProtocol::WriteHeldRows(std::chrono::milliseconds hold) {
    if (!m_store) return;
    m_heldRows.WriteHeldSince(fd::DiscoveredRows::Clock::now() - hold,
                              [this](const std::vector<ap_info_stu>& rows) {
                                  WriteBatch batch(m_store, rows.size());
                                  for (const ap_info_stu& rec : rows)
                                      m_store->SaveDiscoveredDevice(rec);
                              });
}

void CDeviceProtocol::SweepLiveness() {
    const std::vector<std::string> removed = m_peers.Sweep();
    for (const std::string& mac : removed) {
        m_heldRows.Drop(mac);
        if (m_store) m_store->DeleteApByMac(mac);
    }
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

// ---- requests ----

void CDeviceProtocol::SendSearch() {
    const uint8_t noMac[6] = {};
    m_transport.Broadcast(fd::EncodeDatagram(fd::CMD_SEARCH, {}, noMac, 0));
}

bool CDeviceProtocol::SendToDevice(const std::string& ip, int command, const void* body, int length,
                                   const std::string& mac, bool retransmit) {
    // A body that does not fit one datagram cannot be sent whole; sending a cut command
    // would configure the device with half a block.
    if (length < 0 || static_cast<std::size_t>(length) > fd::kMaxBody) return false;
    if (!body) length = 0;
    if (command < 0 || command > 0xFFFF) return false;

    uint8_t macBytes[6] = {};
    if (!fd::MacFromText(mac, macBytes)) std::memset(macBytes, 0, sizeof macBytes);
    const std::vector<uint8_t> bytes = fd::EncodeDatagram(
        static_cast<uint16_t>(command),
        {static_cast<const uint8_t*>(body), static_cast<std::size_t>(length)}, macBytes, 1);

    // The request joins the pending list before it goes out: a device on the same segment
    // can answer before this thread gets back from the send, and an answer that finds no
    // pending request is lost, leaving the command to be retried at a device that has
    // already acted on it (after a set-IP, at an address it has left). It is taken back
    // when nothing is sent.
    const bool neverRetransmitted = command == fd::CMD_SEARCH || command == fd::CMD_SCAN ||
                                    command == fd::CMD_KEEPALIVE || command == fd::CMD_PROBE;
    const bool queued = retransmit && !neverRetransmitted;
    if (queued) m_pending.Add(ip, command, body, length, mac, m_retransmissionMax.load());
    // Recorded before it goes out for the same reason as the pending request.
    const uint64_t logged = queued && command != fd::CMD_DEVICE_INFO && m_options.commands
                                ? m_options.commands->RecordSent(mac, ip, command, body, length)
                                : 0;

    // A scan's results can come back before the send returns; the flag goes down first.
    std::function<void()> justBefore;
    if (command == fd::CMD_SCAN) justBefore = [this] { m_scanComplete = false; };
    const bool sent =
        m_transport.SendToGroup(ip, bytes, justBefore) == fd::Transport::SendResult::Sent;

    if (queued && !sent) m_pending.TakeBack(ip, command, mac);
    if (logged && !sent) m_options.commands->RecordNotSent(logged);
    return sent;
}

void CDeviceProtocol::ProbeDiscoveredDevices() {
    m_peers.ForEachUndelivered([this](const fd::PeerEntry& peer) {
        SendToDevice(peer.ip, fd::CMD_PROBE, nullptr, 0, peer.mac, false);
    });
}

void CDeviceProtocol::ForgetDiscoveredDevices() {
    m_peers.ForgetUndelivered();
    m_heldRows.DropAll();
    // A device that answers between the two steps loses its row here but not its request
    // for information, whose answer stores it again.
    if (m_store) m_store->DeleteDiscoveredDevices();
}

void CDeviceProtocol::PurgeStaleDevices() {
    if (!m_store) return;
    std::vector<std::string> stored;
    m_store->QueryApMacList(stored);
    for (const std::string& mac : m_peers.Unknown(stored)) m_store->DeleteApByMac(mac);
}

void CDeviceProtocol::SetPendingAddress(const std::string& mac, const std::string& currentIp,
                                        const std::string& newIp) {
    m_peers.SetPendingAddress(mac, currentIp, newIp);
}
