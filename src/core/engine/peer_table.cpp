#include "engine/peer_table.h"

#include <algorithm>
#include <cstring>

namespace fd {

namespace {

void CopyText(char* dst, std::size_t capacity, std::string_view text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, capacity - n);
}

std::string Text(const char* field, std::size_t capacity) {
    return std::string(field, strnlen(field, capacity));
}

}  // namespace

PeerTable::SearchVerdict PeerTable::SearchAnswered(const std::string& mac,
                                                   const std::string& senderIp) {
    SearchVerdict v;
    std::lock_guard l(m_lock);
    if (PeerEntry* known = FindLocked(mac)) {
        known->liveness = 3;
        if (known->state == 1) v.undeliveredIp = Text(known->ip, sizeof known->ip);
    } else {
        PeerEntry peer;
        CopyText(peer.ip, sizeof peer.ip, senderIp);
        CopyText(peer.mac, sizeof peer.mac, mac);
        peer.state = 1;
        peer.liveness = 3;
        m_peers.push_back(peer);
        m_byMac.emplace(mac, m_peers.size() - 1);
        v.undeliveredIp = Text(peer.ip, sizeof peer.ip);
    }
    // A device that reports an address another device already delivered its info under
    // is acknowledged but not asked for its info.
    v.askForInfo = true;
    if (auto owners = m_ownersByIp.find(senderIp); owners != m_ownersByIp.end())
        v.askForInfo = std::none_of(owners->second.begin(), owners->second.end(),
                                    [&](std::size_t i) { return mac != m_peers[i].mac; });
    return v;
}

bool PeerTable::KeepaliveFrom(const std::string& mac, const std::string& senderIp) {
    std::lock_guard l(m_lock);
    PeerEntry* peer = FindLocked(mac);
    if (!peer) return false;
    peer->liveness = 3;
    SetIpLocked(static_cast<std::size_t>(peer - m_peers.data()), senderIp);
    return true;
}

bool PeerTable::AcceptInfo(const std::string& mac, const std::string& bodyIp) {
    std::lock_guard l(m_lock);
    PeerEntry* macEntry = FindLocked(mac);
    // The owner of the address is the last peer in table order that holds it delivered.
    PeerEntry* ipOwner = nullptr;
    if (auto owners = m_ownersByIp.find(bodyIp); owners != m_ownersByIp.end())
        ipOwner = &m_peers[*std::max_element(owners->second.begin(), owners->second.end())];
    // Info from a device that never answered a search, or for an address another device
    // already holds, changes nothing.
    if (!macEntry || (ipOwner && ipOwner != macEntry)) return false;
    const auto index = static_cast<std::size_t>(macEntry - m_peers.data());
    MarkDeliveredLocked(index);
    SetIpLocked(index, bodyIp);
    return true;
}

void PeerTable::AdoptPendingAddress(const std::string& senderIp, const std::string& mac) {
    std::lock_guard l(m_lock);
    PeerEntry* p = FindLocked(mac);
    if (!p || senderIp != p->ip) return;
    if (p->pending_ip[0] != '\0' && std::strncmp(p->pending_ip, p->ip, sizeof p->ip) != 0) {
        const std::string pending = Text(p->pending_ip, sizeof p->pending_ip);
        std::memset(p->pending_ip, 0, sizeof p->pending_ip);
        SetIpLocked(static_cast<std::size_t>(p - m_peers.data()), pending);
    }
}

void PeerTable::SetPendingAddress(const std::string& mac, const std::string& currentIp,
                                  const std::string& newIp) {
    std::lock_guard l(m_lock);
    PeerEntry* peer = FindLocked(mac);
    if (!peer || peer->state != 2 || currentIp != peer->ip) return;
    if (newIp != currentIp)
        CopyText(peer->pending_ip, sizeof peer->pending_ip, newIp);
    else
        std::memset(peer->pending_ip, 0, sizeof peer->pending_ip);
}

std::vector<std::string> PeerTable::Sweep() {
    std::vector<std::string> removed;
    std::lock_guard l(m_lock);
    auto keep = m_peers.begin();
    for (auto it = m_peers.begin(); it != m_peers.end(); ++it) {
        if (it->liveness > 0) {
            if (it->state != 1) --it->liveness;
            if (keep != it) *keep = *it;
            ++keep;
        } else {
            removed.emplace_back(it->mac);
        }
    }
    m_peers.erase(keep, m_peers.end());
    if (!removed.empty()) RebuildIndexLocked();
    return removed;
}

void PeerTable::ForgetUndelivered() {
    std::lock_guard l(m_lock);
    if (std::erase_if(m_peers, [](const PeerEntry& p) { return p.state == 1; }) > 0)
        RebuildIndexLocked();
}

std::vector<std::string> PeerTable::Unknown(const std::vector<std::string>& macs) const {
    std::vector<std::string> out;
    std::lock_guard l(m_lock);
    for (const std::string& mac : macs)
        if (!m_byMac.contains(mac)) out.push_back(mac);
    return out;
}

void PeerTable::ForEachUndelivered(const std::function<void(const PeerEntry&)>& fn) const {
    std::lock_guard l(m_lock);
    for (const PeerEntry& peer : m_peers)
        if (peer.state == 1) fn(peer);
}

std::vector<PeerEntry> PeerTable::Peers() const {
    std::lock_guard l(m_lock);
    return m_peers;
}

PeerEntry* PeerTable::FindLocked(const std::string& mac) {
    auto it = m_byMac.find(mac);
    return it == m_byMac.end() ? nullptr : &m_peers[it->second];
}

void PeerTable::SetIpLocked(std::size_t index, std::string_view ip) {
    PeerEntry& peer = m_peers[index];
    const std::string old = Text(peer.ip, sizeof peer.ip);
    CopyText(peer.ip, sizeof peer.ip, ip);
    if (peer.state != 2) return;
    const std::string now = Text(peer.ip, sizeof peer.ip);
    if (now == old) return;
    if (auto it = m_ownersByIp.find(old); it != m_ownersByIp.end()) {
        std::erase(it->second, index);
        if (it->second.empty()) m_ownersByIp.erase(it);
    }
    m_ownersByIp[now].push_back(index);
}

void PeerTable::MarkDeliveredLocked(std::size_t index) {
    PeerEntry& peer = m_peers[index];
    if (peer.state == 2) return;
    peer.state = 2;
    m_ownersByIp[Text(peer.ip, sizeof peer.ip)].push_back(index);
}

void PeerTable::RebuildIndexLocked() {
    m_byMac.clear();
    m_ownersByIp.clear();
    for (std::size_t i = 0; i < m_peers.size(); ++i) {
        const PeerEntry& peer = m_peers[i];
        m_byMac.emplace(Text(peer.mac, sizeof peer.mac), i);
        if (peer.state == 2) m_ownersByIp[Text(peer.ip, sizeof peer.ip)].push_back(i);
    }
}

}  // namespace fd
