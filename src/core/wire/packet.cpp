#include "wire/packet.h"

#include <cstdio>
#include <cstring>

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

uint8_t* BodyImage(ap_info_stu& rec) { return reinterpret_cast<uint8_t*>(&rec) + kApBodyOffset; }
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
    if (n) std::memcpy(out.data() + kScanHeaderSize, entries.data(), n * sizeof(config_otherwl_basic));
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
    std::size_t n = text.size() < capacity ? text.size() : capacity;
    // Do not leave half of a UTF-8 sequence at the end.
    if (n < text.size()) {
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memset(field, 0, capacity);
    if (n) std::memcpy(field, text.data(), n);
    len = static_cast<uint8_t>(n);
}

std::string MacToText(const uint8_t mac[6]) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return buf;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool MacFromText(std::string_view text, uint8_t mac[6]) {
    if (text.size() != 17) return false;
    uint8_t out[6];
    for (int i = 0; i < 6; ++i) {
        int hi = HexDigit(text[i * 3]);
        int lo = HexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[i * 3 + 2] != ':') return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    std::memcpy(mac, out, 6);
    return true;
}

bool IsZeroMac(const uint8_t mac[6]) {
    for (int i = 0; i < 6; ++i)
        if (mac[i]) return false;
    return true;
}

std::string IpToText(const uint8_t ip[4]) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return buf;
}

bool IpFromText(std::string_view text, uint8_t ip[4]) {
    uint8_t out[4] = {0, 0, 0, 0};
    std::size_t pos = 0;
    bool ok = true;
    for (int part = 0; part < 4 && ok; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') ok = false;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (ok && pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) ok = false;
        else out[part] = static_cast<uint8_t>(value);
    }
    if (ok && pos != text.size()) ok = false;
    if (!ok) std::memset(out, 0, sizeof out);
    std::memcpy(ip, out, 4);
    return ok;
}

uint32_t IpBytesToUint(const uint8_t ip[4]) {
    return static_cast<uint32_t>(ip[0]) | static_cast<uint32_t>(ip[1]) << 8 |
           static_cast<uint32_t>(ip[2]) << 16 | static_cast<uint32_t>(ip[3]) << 24;
}

void SetRecordMac(ap_info_stu& rec, const uint8_t mac[6]) {
    std::string t = MacToText(mac);
    std::memset(rec.mac, 0, sizeof rec.mac);
    std::memcpy(rec.mac, t.data(), t.size());
}

}  // namespace fd
