// What the rest of the program asks of the engine: the search, one command to one device,
// and the small operations on the peer table that the device lists use.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/device_protocol.h"
#include "engine/device_protocol_sockets.h"
#include "wire/address.h"

namespace {

constexpr int kCommandSocketBuffer = 1 << 20;

// Zero-terminated text of a fixed adapter field, never reading past it.
std::string FixedText(const char* field, std::size_t capacity) {
    return std::string(field, strnlen(field, capacity));
}

int AddressCount(const LocalAdapterInfo& a) {
    return std::clamp<int>(a.ip_count, 0, fd::kMaxAdapterAddresses);
}

}  // namespace

void CDeviceProtocol::ReadLocalAdapters(std::vector<LocalAdapterInfo>& list,
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
            if (fd::IsUnsetIp(ip)) continue;
            addresses.push_back({ip, FixedText(a.addrs[i].mask, sizeof a.addrs[i].mask)});
        }
    }
    std::lock_guard l(m_adapterListLock);
    m_adapterAddresses = std::move(addresses);
}

void CDeviceProtocol::SendSearch() {
    std::vector<LocalAdapterInfo> adapters;
    ReadLocalAdapters(adapters);

    std::vector<std::string> targets;
    for (const LocalAdapterInfo& a : adapters) {
        for (int i = 0; i < AddressCount(a); ++i) {
            std::string ip = FixedText(a.addrs[i].ip, sizeof a.addrs[i].ip);
            std::string mask = FixedText(a.addrs[i].mask, sizeof a.addrs[i].mask);
            const auto ipValue = fd::ParseIpv4(ip), maskValue = fd::ParseIpv4(mask);
            if (fd::IsUnsetIp(ip) || fd::IsUnsetIp(mask) || !ipValue || !maskValue) continue;
            std::string broadcast = fd::Ipv4ToText(*ipValue | ~*maskValue);
            if (std::find(targets.begin(), targets.end(), broadcast) == targets.end())
                targets.push_back(broadcast);
        }
    }
    if (targets.empty()) targets.push_back("255.255.255.255");

    const uint8_t noMac[6] = {};
    fd::OutgoingDatagram out;
    out.destPort = fd::kPortSearch;
    out.bytes = fd::EncodeDatagram(fd::CMD_SEARCH, {}, noMac, 0);
    // Held like for a command: Start and Stop replace the socket, and its number may belong
    // to another file the moment after it is closed.
    std::lock_guard l(m_adapterListLock);
    for (const std::string& target : targets) {
        out.destIp = target;
        if (m_options.sendHook)
            m_options.sendHook(out);
        else if (m_searchSocket >= 0)
            fd::SendUdp(m_searchSocket, out.destIp, out.destPort, out.bytes);
    }
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
    fd::OutgoingDatagram out;
    out.destIp = fd::kMulticastGroup;
    out.destPort = fd::kPortCommand;
    out.bytes = fd::EncodeDatagram(
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

    bool sent = false;
    {
        std::lock_guard l(m_adapterListLock);
        const AdapterAddress* chosen = nullptr;
        for (const AdapterAddress& a : m_adapterAddresses) {
            if (!a.ip.empty() && fd::InSameSubnet(a.ip, ip, a.mask)) {
                chosen = &a;
                break;
            }
        }
        if (chosen) {
            out.localIp = chosen->ip;
            if (m_options.sendHook) {
                if (command == fd::CMD_SCAN) m_scanComplete = false;
                sent = m_options.sendHook(out);
            } else if (m_commandSocket >= 0) {
                // While the engine runs, commands leave from its own socket on port 9787 with
                // the chosen adapter's address as source. A temporary socket bound to that
                // address and port would, for as long as it lives, receive the keepalives
                // devices send to this PC and drop them; and setting one up per command
                // costs more than the send itself when thousands of devices answer a search.
                // The kernel turns the address into an interface when it is set, so it is
                // set for every command: an adapter unplugged and plugged in again, or an
                // address moved to another interface, is a different interface by now.
                if (fd::SetMulticastSource(m_commandSocket, chosen->ip)) {
                    if (command == fd::CMD_SCAN) m_scanComplete = false;
                    sent = fd::SendUdp(m_commandSocket, out.destIp, out.destPort, out.bytes);
                }
            } else {
                // Not running (before Start, or the probes Stop sends after closing the
                // engine's sockets): a temporary socket carries the one datagram.
                int sock = fd::OpenUdpSocket(chosen->ip.c_str(), fd::kPortCommand, false, true,
                                             kCommandSocketBuffer);
                if (sock >= 0) {
                    if (command == fd::CMD_SCAN) m_scanComplete = false;
                    sent = fd::SendUdp(sock, out.destIp, out.destPort, out.bytes);
                    close(sock);
                }
            }
        }
    }

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
