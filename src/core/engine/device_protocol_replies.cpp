// What the worker threads do with each datagram: keep the peer table current, answer the
// device where the protocol asks for it, end retransmissions, and write what the devices
// report into the store. The peer-table lock is never held while sending or calling the store.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/device_protocol.h"
#include "wire/device_text.h"

namespace {

constexpr std::size_t kVersionBlockSize = 33;  // version text and its length byte

void CopyText(char* dst, std::size_t capacity, std::string_view text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, capacity - n);
}

// The first 33 body bytes (version text and length), zero beyond what arrived.
void CopyVersionBlock(fd::PeerEntry& peer, std::span<const uint8_t> body) {
    uint8_t block[kVersionBlockSize] = {};
    if (!body.empty()) std::memcpy(block, body.data(), std::min(body.size(), sizeof block));
    std::memcpy(peer.version, block, sizeof peer.version);
    peer.version_len = block[32];
}

// Bytes at a body offset, zero where the body ended early.
void ReadBody(std::span<const uint8_t> body, std::size_t offset, void* out, std::size_t n) {
    std::memset(out, 0, n);
    if (offset >= body.size()) return;
    std::memcpy(out, body.data() + offset, std::min(n, body.size() - offset));
}

}  // namespace

void CDeviceProtocol::HandleSearchReply(const fd::ReceivedDatagram& dg) {
    auto d = fd::DecodeDatagram({dg.data.data(), dg.length});
    if (!d) return;
    const std::string senderIp = fd::IpToText(dg.fromIp);
    const std::string mac = fd::MacToText(d->header.mac);

    bool verdict = false;
    if (!fd::IsZeroMac(d->header.mac)) {
        std::lock_guard l(m_peerLock);
        if (fd::PeerEntry* known = FindPeerLocked(mac)) {
            // A known device keeps the address it is reached under; only a device-info
            // reply or a set-IP acknowledgement moves it.
            known->ap_type = d->header.ap_type;
            known->liveness = 3;
            CopyVersionBlock(*known, d->body);
        } else {
            fd::PeerEntry peer;
            CopyText(peer.ip, sizeof peer.ip, senderIp);
            CopyText(peer.mac, sizeof peer.mac, mac);
            peer.ap_type = d->header.ap_type;
            peer.state = 1;
            peer.liveness = 3;
            CopyVersionBlock(peer, d->body);
            if (d->body.size() > kVersionBlockSize) {
                BriefInfoBody brief = fd::DecodeBriefInfo(d->body);
                peer.work_mode = brief.work_mode;
                peer.mode_btn_status = brief.mode_btn_status;
                peer.up_time = brief.up_time;
                std::memcpy(peer.ap_name, brief.ap_name, sizeof peer.ap_name);
                peer.ap_name_len = brief.ap_name_len;
                fd::ConvertDeviceTextField(peer.ap_name, sizeof peer.ap_name, peer.ap_name_len,
                                           false);
                std::memcpy(peer.ssid, brief.ssid, sizeof peer.ssid);
                peer.ssid_len = brief.ssid_len;
                fd::ConvertDeviceTextField(peer.ssid, sizeof peer.ssid, peer.ssid_len, false);
                peer.channel = brief.channel;
                peer.bridge_transparent = brief.bridge_transparent;
                peer.tdmaEn = brief.tdmaEn;
            }
            m_peers.push_back(peer);
            m_peerByMac.emplace(mac, m_peers.size() - 1);
        }
        // A device that reports an address another device already delivered its info under
        // is acknowledged but not asked for its info.
        verdict = true;
        if (auto owners = m_ownersByIp.find(senderIp); owners != m_ownersByIp.end())
            verdict = std::none_of(owners->second.begin(), owners->second.end(),
                                   [&](std::size_t i) { return mac != m_peers[i].mac; });
    }

    SendToDevice(senderIp, fd::CMD_SEARCH, nullptr, 0, mac, false);
    if (verdict) SendToDevice(senderIp, fd::CMD_DEVICE_INFO, nullptr, 0, mac, true);
}

void CDeviceProtocol::HandleKeepalive(const fd::ReceivedDatagram& dg) {
    auto d = fd::DecodeDatagram({dg.data.data(), dg.length});
    if (!d) return;
    const std::string senderIp = fd::IpToText(dg.fromIp);
    const std::string mac = fd::MacToText(d->header.mac);
    const KeepaliveBody body = fd::DecodeKeepalive(d->body);
    {
        std::lock_guard l(m_peerLock);
        fd::PeerEntry* peer = FindPeerLocked(mac);
        // Keepalives of devices this run has not found are not answered.
        if (!peer) return;
        peer->liveness = 3;
        peer->up_time = body.up_time;
        CopyVersionBlock(*peer, d->body);
        SetPeerIpLocked(static_cast<std::size_t>(peer - m_peers.data()), senderIp);
    }
    SendToDevice(senderIp, fd::CMD_KEEPALIVE, nullptr, 0, mac, false);
    if (m_store) m_store->UpdateApUpTime(senderIp, mac, body.up_time);
}

void CDeviceProtocol::HandleReply(const fd::ReceivedDatagram& dg) {
    auto d = fd::DecodeDatagram({dg.data.data(), dg.length});
    if (!d) return;
    const std::string senderIp = fd::IpToText(dg.fromIp);
    const std::string mac = fd::MacToText(d->header.mac);
    const int command = d->header.command;
    const bool ended =
        command != fd::CMD_SCAN && command != fd::CMD_PROBE && Acknowledge(senderIp, mac, command);

    const uint8_t result = d->body.empty() ? 0 : d->body[0];
    switch (command) {
        case fd::CMD_DEVICE_INFO:
            if (AcceptDeviceInfo(*d, mac)) {
                ap_info_stu rec{};
                CopyText(rec.mac, sizeof rec.mac, mac);
                rec.ap_type = d->header.ap_type;
                rec.ap_status = 0;
                if (!d->body.empty())
                    std::memcpy(fd::BodyImage(rec), d->body.data(),
                                std::min(d->body.size(), fd::kApBodyImageSize));
                fd::ConvertDeviceTextField(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, true);
                fd::ConvertDeviceTextField(rec.ssid, sizeof rec.ssid, rec.ssid_len, true);
                fd::ConvertDeviceTextField(rec.bridge_ssid, sizeof rec.bridge_ssid,
                                           rec.bridge_ssid_len, true);
                if (m_store) m_store->SaveApInfo(rec);
            }
            break;
        case fd::CMD_SET_IP:
            AdoptPendingAddress(senderIp, mac);
            break;
        case fd::CMD_SCAN:
            HandleScanResult(d->body);
            break;
        case fd::CMD_BRIDGE_CONFIG:
            if (m_store)
                m_store->SetApStatus(
                    mac, result == 0 ? fd::AP_STATUS_BRIDGE_SUCCESS : fd::AP_STATUS_BRIDGE_FAIL);
            break;
        case fd::CMD_REBOOT:
        case fd::CMD_SET_VLAN:
            if (result == 0 && m_store) m_store->SetApStatus(mac, fd::AP_STATUS_RESTARTING);
            break;
        case fd::CMD_RESET:
            if (result == 0 && m_store) m_store->SetApStatus(mac, fd::AP_STATUS_RESETING);
            break;
        case fd::CMD_UPGRADE_REPORT:
            if (m_store) {
                int status = result == 0   ? fd::AP_STATUS_UPGRADE_WAIT
                             : result == 1 ? fd::AP_STATUS_UPGRADE_FAIL
                                           : fd::AP_STATUS_UPGRADE_SUCCESS;
                m_store->SetApStatus(mac, status);
            }
            break;
        case fd::CMD_UPGRADE_START:
            if (m_store) m_store->SetApUpgrading(mac);
            break;
        default:
            break;
    }
    if (ended && m_options.onAcknowledged)
        m_options.onAcknowledged(fd::Acknowledgement{senderIp, mac, command, result});
}

bool CDeviceProtocol::AcceptDeviceInfo(const fd::Datagram& d, const std::string& mac) {
    uint8_t ipBytes[4];
    ReadBody(d.body, FD_BODY_OFFSET(ip), ipBytes, sizeof ipBytes);
    const std::string bodyIp = fd::IpToText(ipBytes);

    std::lock_guard l(m_peerLock);
    fd::PeerEntry* macEntry = FindPeerLocked(mac);
    // The owner of the address is the last peer in table order that holds it in state 2.
    fd::PeerEntry* ipOwner = nullptr;
    if (auto owners = m_ownersByIp.find(bodyIp); owners != m_ownersByIp.end())
        ipOwner = &m_peers[*std::max_element(owners->second.begin(), owners->second.end())];
    // Info from a device that never answered a search, or for an address another device
    // already holds, changes nothing.
    if (!macEntry || (ipOwner && ipOwner != macEntry)) return false;

    const auto index = static_cast<std::size_t>(macEntry - m_peers.data());
    macEntry->ap_type = d.header.ap_type;
    MarkDeliveredLocked(index);
    ReadBody(d.body, FD_BODY_OFFSET(up_time), &macEntry->up_time, sizeof macEntry->up_time);
    SetPeerIpLocked(index, bodyIp);
    uint8_t version[kVersionBlockSize];
    ReadBody(d.body, FD_BODY_OFFSET(version), version, sizeof version);
    std::memcpy(macEntry->version, version, sizeof macEntry->version);
    macEntry->version_len = version[32];
    ReadBody(d.body, FD_BODY_OFFSET(bridge_transparent), &macEntry->bridge_transparent, 1);
    ReadBody(d.body, FD_BODY_OFFSET(tdmaEn), &macEntry->tdmaEn, 1);
    return true;
}

void CDeviceProtocol::AdoptPendingAddress(const std::string& senderIp, const std::string& mac) {
    std::lock_guard l(m_peerLock);
    fd::PeerEntry* p = FindPeerLocked(mac);
    if (!p || senderIp != p->ip) return;
    if (p->pending_ip[0] != '\0' && std::strncmp(p->pending_ip, p->ip, sizeof p->ip) != 0) {
        const std::string pending(p->pending_ip, strnlen(p->pending_ip, sizeof p->pending_ip));
        std::memset(p->pending_ip, 0, sizeof p->pending_ip);
        SetPeerIpLocked(static_cast<std::size_t>(p - m_peers.data()), pending);
    }
}

void CDeviceProtocol::HandleScanResult(std::span<const uint8_t> body) {
    std::vector<uint8_t> copy(body.begin(),
                              body.begin() + std::min(body.size(), fd::kScanForwardBytes));
    uint8_t head[fd::kScanHeaderSize];
    ReadBody(copy, 0, head, sizeof head);
    const int packetCount = head[0];
    const int packetId = head[1];
    // A packet that names itself beyond its own scan's count belongs to no scan we can
    // complete; its neighbours would be mixed into the list unasked.
    if (packetId >= packetCount) return;
    // Only entries that arrived whole are looked at, whatever icount claims.
    const std::size_t whole =
        copy.size() > fd::kScanHeaderSize
            ? (copy.size() - fd::kScanHeaderSize) / sizeof(config_otherwl_basic)
            : 0;
    const std::size_t entries = std::min<std::size_t>(head[2], whole);
    for (std::size_t i = 0; i < entries; ++i) {
        uint8_t* at = copy.data() + fd::kScanHeaderSize + i * sizeof(config_otherwl_basic);
        config_otherwl_basic rec;
        std::memcpy(&rec, at, sizeof rec);
        fd::ConvertDeviceTextField(rec.ssid, sizeof rec.ssid, rec.ssid_len, true);
        std::memcpy(at, &rec, sizeof rec);
    }
    if (m_store) m_store->SaveOtherApList(copy);
    // The flag goes up only after the last packet is in the store, so a page that sees it
    // and reads the list at once finds every neighbour.
    if (packetId == packetCount - 1) m_scanComplete = true;
}
