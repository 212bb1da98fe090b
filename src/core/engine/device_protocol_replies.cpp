// What the worker threads do with each datagram: keep the peer table current, answer the
// device where the protocol asks for it, end retransmissions, and write what the devices
// report into the store. The peer-table lock is never held while sending or calling the store.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/device_protocol.h"
#include "wire/device_text.h"

namespace {

void CopyText(char* dst, std::size_t capacity, std::string_view text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, capacity - n);
}

// The store's record of a device that has only answered a search: what the search reply
// carries, the texts repaired (their length bytes stay as the device sent them), the rest
// zero.
ap_info_stu DiscoveredRecord(const PacketHeader& header, const std::string& mac,
                             const char* ip, const BriefInfoBody& brief) {
    ap_info_stu rec{};
    CopyText(rec.mac, sizeof rec.mac, mac);
    rec.ap_type = header.ap_type;
    rec.ap_status = fd::AP_STATUS_DISCOVERED;
    fd::IpFromText(ip, rec.ip);
    std::memcpy(rec.version, brief.version, sizeof rec.version);
    rec.version_len = brief.version_len;
    rec.work_mode = brief.work_mode;
    rec.mode_btn_status = brief.mode_btn_status;
    rec.up_time = brief.up_time;
    std::memcpy(rec.ap_name, brief.ap_name, sizeof rec.ap_name);
    rec.ap_name_len = brief.ap_name_len;
    fd::ConvertDeviceTextField(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, false);
    std::memcpy(rec.ssid, brief.ssid, sizeof rec.ssid);
    rec.ssid_len = brief.ssid_len;
    fd::ConvertDeviceTextField(rec.ssid, sizeof rec.ssid, rec.ssid_len, false);
    rec.channel = brief.channel;
    rec.bridge_transparent = brief.bridge_transparent;
    rec.tdmaEn = brief.tdmaEn;
    return rec;
}

}  // namespace

void CDeviceProtocol::HandleSearchReply(const fd::ReceivedDatagram& dg) {
    auto d = fd::DecodeDatagram({dg.data.data(), dg.length});
    if (!d) return;
    const std::string senderIp = fd::IpToText(dg.fromIp);
    const std::string mac = fd::MacToText(d->header.mac);
    // A body of 33 bytes or less decodes to the version alone, every other field zero.
    const BriefInfoBody brief = fd::DecodeBriefInfo(d->body);

    // A search reply whose header mac is all zero is answered and nothing more.
    fd::PeerTable::SearchVerdict verdict;
    if (!fd::IsZeroMac(d->header.mac)) verdict = m_peers.SearchAnswered(mac, senderIp);

    // The row is held (or written) before the info request goes out: the device's
    // information, handled by another worker, then always drops the held row or lands on the
    // written one and turns it into an ordinary row.
    if (!verdict.undeliveredIp.empty() && m_store) {
        const ap_info_stu rec =
            DiscoveredRecord(d->header, mac, verdict.undeliveredIp.c_str(), brief);
        if (m_options.discoveredRowHold.count() > 0)
            m_heldRows.Hold(rec);
        else
            m_store->SaveDiscoveredDevice(rec);
    }
    SendToDevice(senderIp, fd::CMD_SEARCH, nullptr, 0, mac, false);
    if (verdict.askForInfo) SendToDevice(senderIp, fd::CMD_DEVICE_INFO, nullptr, 0, mac, true);
}

void CDeviceProtocol::HandleKeepalive(const fd::ReceivedDatagram& dg) {
    auto d = fd::DecodeDatagram({dg.data.data(), dg.length});
    if (!d) return;
    const std::string senderIp = fd::IpToText(dg.fromIp);
    const std::string mac = fd::MacToText(d->header.mac);
    const KeepaliveBody body = fd::DecodeKeepalive(d->body);
    // Keepalives of devices this run has not found are not answered.
    if (!m_peers.KeepaliveFrom(mac, senderIp)) return;
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
        command != fd::CMD_SCAN && command != fd::CMD_PROBE && m_pending.Acknowledge(senderIp, mac, command);

    const uint8_t result = d->body.empty() ? 0 : d->body[0];
    switch (command) {
        case fd::CMD_DEVICE_INFO: {
            ap_info_stu rec = fd::DecodeDeviceInfo(d->header, d->body);
            const std::string bodyIp = fd::IpToText(rec.ip);
            if (m_peers.AcceptInfo(mac, bodyIp)) {
                fd::ConvertDeviceTextField(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, true);
                fd::ConvertDeviceTextField(rec.ssid, sizeof rec.ssid, rec.ssid_len, true);
                fd::ConvertDeviceTextField(rec.bridge_ssid, sizeof rec.bridge_ssid,
                                           rec.bridge_ssid_len, true);
                m_heldRows.Drop(mac);
                if (m_store) m_store->SaveApInfo(rec);
                if (m_options.commands) m_options.commands->RecordReport(rec);
            }
            break;
        }
        case fd::CMD_SET_IP:
            m_peers.AdoptPendingAddress(senderIp, mac);
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
    if (ended && m_options.commands) m_options.commands->RecordAnswer(mac, command, result);
}

void CDeviceProtocol::HandleScanResult(std::span<const uint8_t> body) {
    fd::ScanResult scan = fd::DecodeScanResult(body);
    // A packet that names itself beyond its own scan's count belongs to no scan we can
    // complete; its neighbours would be mixed into the list unasked.
    if (scan.packet_id >= scan.packet_count) return;
    for (config_otherwl_basic& entry : scan.entries)
        fd::ConvertDeviceTextField(entry.ssid, sizeof entry.ssid, entry.ssid_len, true);
    if (m_store) m_store->SaveOtherApList(scan);
    // The flag goes up only after the last packet is in the store, so a page that sees it
    // and reads the list at once finds every neighbour.
    if (scan.packet_id == scan.packet_count - 1) m_scanComplete = true;
}
