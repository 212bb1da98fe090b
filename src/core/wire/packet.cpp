#include "wire/packet.h"

#include <cstdio>
#include <cstring>

#include "wire/utf8.h"

namespace fd {

std::optional<Datagram> DecodeDatagram(std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxDatagram) return std::nullopt;
    Datagram d;
    std::memcpy(&d.header, bytes.data(), kHeaderSize);
    if (d.header.magic != kMagic) return std::nullopt;
    std::size_t avail = bytes.size() - kHeaderSize;
    std::size_t n = d.header.length < avail ? d.header.length : avail;
    d.body.assign(bytes.begin() + kHeaderSize, bytes.begin() + kHeaderSize + n);
    return d;
}

bool PassesReceiveFilter(uint16_t localPort, std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxDatagram) return false;
    const uint16_t magic = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    if (magic != kMagic) return false;
    const uint16_t command = static_cast<uint16_t>(bytes[4] | (bytes[5] << 8));
    switch (localPort) {
        case kPortSearchReply:
            return command == CMD_SEARCH;
        case kPortKeepalive:
            return command == CMD_KEEPALIVE;
        default:
            return true;
    }
}

std::vector<uint8_t> EncodeDatagram(uint16_t command, std::span<const uint8_t> body,
                                    const uint8_t mac[6], uint8_t multicast, uint16_t ap_type) {
    std::size_t n = body.size() < kMaxBody ? body.size() : kMaxBody;
    PacketHeader h{};
    h.magic = kMagic;
    h.ap_type = ap_type;
    h.command = command;
    h.multicast = multicast;
    if (mac) std::memcpy(h.mac, mac, 6);
    h.length = static_cast<uint16_t>(n);
    std::vector<uint8_t> out(kHeaderSize + n);
    std::memcpy(out.data(), &h, kHeaderSize);
    if (n) std::memcpy(out.data() + kHeaderSize, body.data(), n);
    return out;
}

BriefInfoBody DecodeBriefInfo(std::span<const uint8_t> body) {
    // Old firmware answers with the version alone (33 bytes); every field past the body's
    // end reads as zero, which gives a version-only device.
    return DecodeBody<BriefInfoBody>(body);
}

KeepaliveBody DecodeKeepalive(std::span<const uint8_t> body) {
    return DecodeBody<KeepaliveBody>(body);
}

uint8_t* BodyImage(ap_info_stu& rec) {
    return reinterpret_cast<uint8_t*>(&rec) + kApBodyOffset;
}
const uint8_t* BodyImage(const ap_info_stu& rec) {
    return reinterpret_cast<const uint8_t*>(&rec) + kApBodyOffset;
}

ap_info_stu DecodeDeviceInfo(const PacketHeader& header, std::span<const uint8_t> body) {
    ap_info_stu rec{};
    std::size_t n = body.size() < kDeviceInfoBodySize ? body.size() : kDeviceInfoBodySize;
    if (n) std::memcpy(BodyImage(rec), body.data(), n);
    SetRecordMac(rec, header.mac);
    rec.ap_type = header.ap_type;
    rec.ap_status = 0;
    return rec;
}

std::vector<uint8_t> EncodeDeviceInfo(const ap_info_stu& rec) {
    const uint8_t* p = BodyImage(rec);
    return {p, p + kDeviceInfoBodySize};
}

IpConfigBlock GetIpBlock(const ap_info_stu& rec) {
    return ExtractBlock<IpConfigBlock>(rec, kIpBlockOffset);
}
DeviceNameBlock GetNameBlock(const ap_info_stu& rec) {
    return ExtractBlock<DeviceNameBlock>(rec, kNameBlockOffset);
}
TimedRebootBlock GetRebootBlock(const ap_info_stu& rec) {
    return ExtractBlock<TimedRebootBlock>(rec, kRebootBlockOffset);
}
WirelessBlock GetWirelessBlock(const ap_info_stu& rec) {
    return ExtractBlock<WirelessBlock>(rec, kWirelessBlockOffset);
}
VlanBlock GetVlanBlock(const ap_info_stu& rec) {
    return ExtractBlock<VlanBlock>(rec, kVlanBlockOffset);
}
std::size_t VlanBlockSize(int apType) {
    return apType == 10 || apType == 11 ? sizeof(VlanBlock) : kVlanBlockShortSize;
}

ScanResult DecodeScanResult(std::span<const uint8_t> body) {
    if (body.size() > kScanForwardBytes) body = body.first(kScanForwardBytes);
    ScanResult r;
    if (body.size() > 0) r.packet_count = body[0];
    if (body.size() > 1) r.packet_id = body[1];
    if (body.size() > 2) r.icount = body[2];
    std::size_t avail = body.size() > kScanHeaderSize ? body.size() - kScanHeaderSize : 0;
    std::size_t whole = avail / sizeof(config_otherwl_basic);
    std::size_t n = r.icount;
    if (n > whole) n = whole;
    if (n > kScanMaxDecodedEntries) n = kScanMaxDecodedEntries;
    r.entries.resize(n);
    if (n)
        std::memcpy(r.entries.data(), body.data() + kScanHeaderSize,
                    n * sizeof(config_otherwl_basic));
    return r;
}

std::vector<uint8_t> EncodeScanResult(uint8_t packetCount, uint8_t packetId,
                                      std::span<const config_otherwl_basic> entries) {
    std::size_t n = entries.size() < kScanMaxEntries ? entries.size() : kScanMaxEntries;
    std::vector<uint8_t> out(kScanHeaderSize + n * sizeof(config_otherwl_basic));
    out[0] = packetCount;
    out[1] = packetId;
    out[2] = static_cast<uint8_t>(n);
    if (n)
        std::memcpy(out.data() + kScanHeaderSize, entries.data(), n * sizeof(config_otherwl_basic));
    return out;
}

std::vector<uint8_t> EncodeScanResult(const ScanResult& scan) {
    const std::size_t n = scan.entries.size();
    std::vector<uint8_t> out(kScanHeaderSize + n * sizeof(config_otherwl_basic));
    out[0] = scan.packet_count;
    out[1] = scan.packet_id;
    out[2] = scan.icount;
    if (n) std::memcpy(out.data() + kScanHeaderSize, scan.entries.data(), n * sizeof(config_otherwl_basic));
    return out;
}

std::string_view FieldText(const uint8_t* field, std::size_t capacity, uint8_t len) {
    const std::size_t n = len < capacity ? len : capacity;
    return {reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), n)};
}

void SetFieldText(uint8_t* field, std::size_t capacity, uint8_t& len, std::string_view text) {
    const std::size_t n = Utf8PrefixLength(text, capacity);
    std::memset(field, 0, capacity);
    if (n) std::memcpy(field, text.data(), n);
    len = static_cast<uint8_t>(n);
}

void SetRecordMac(ap_info_stu& rec, const uint8_t mac[6]) {
    std::string t = MacToText(mac);
    std::memset(rec.mac, 0, sizeof rec.mac);
    std::memcpy(rec.mac, t.data(), t.size());
}

}  // namespace fd
