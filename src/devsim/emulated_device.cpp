#include "devsim/emulated_device.h"

#include <algorithm>
#include <cstring>

namespace fd::devsim {

std::string LabDeviceAddress(int n) {
    return "198.18." + std::to_string(1 + n / 250) + "." + std::to_string(1 + n % 250);
}

void SetRadio(ap_info_stu& r, int channel) {
    r.channel = static_cast<uint8_t>(channel);
    r.country_code = 0;  // CN: every channel the generated devices use is allowed there
    if (channel >= 1 && channel <= 14) {
        r.rf_type = 0;
        r.network_mode = 4;  // 11b/g/n
        r.expand_channel = 2;
    } else {
        r.rf_type = 1;
        r.network_mode = 1;  // 11a/n
    }
    r.bandwidth = 2;  // Auto
    r.ssid_rf_type = r.rf_type;
}

void SetSecurity(ap_info_stu& r, int mode) {
    r.secure_mode = static_cast<uint8_t>(mode);
    if (mode == 1) {
        r.wep_key_index = 1;
        SetFieldText(r.wep_key_value0, sizeof r.wep_key_value0, r.wep_key_value0_len, "lab01");
    } else if (mode >= 2 && mode <= 4) {
        SetFieldText(r.wpapsk_key_value, sizeof r.wpapsk_key_value, r.wpapsk_key_value_len,
                     "lab-passphrase");
        r.wpapsk_key_time = 3600;
    } else if (mode == 5 || mode == 6) {
        IpFromText("198.18.0.2", r.wpa_radius_ip);
        r.wpa_radius_port = 1812;
        SetFieldText(r.wpa_key, sizeof r.wpa_key, r.wpa_key_len, "lab-radius");
    }
}

EmulatedDevice MakeDevice(int n) {
    EmulatedDevice dev;
    ap_info_stu& r = dev.info;
    uint8_t mac[6] = {0x02,
                      0xfd,
                      0x00,
                      static_cast<uint8_t>((n >> 16) & 0xff),
                      static_cast<uint8_t>((n >> 8) & 0xff),
                      static_cast<uint8_t>(n & 0xff)};
    SetRecordMac(r, mac);
    r.ap_type = 1;
    r.work_mode = WORK_MODE_STATION;
    r.up_time = 1000 + static_cast<uint32_t>(n);
    dev.address = LabDeviceAddress(n);
    IpFromText(dev.address, r.ip);
    IpFromText("255.255.0.0", r.ip_mask);
    IpFromText("198.18.0.254", r.ip_gateway);
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "Device-" + std::to_string(n));
    SetFieldText(r.version, sizeof r.version, r.version_len, "FD-LAB 1.0." + std::to_string(n));
    r.rf_count = 1;
    r.rf_en = 1;
    SetRadio(r, 36);
    r.tx_power = 20;
    r.tx_power_min = 1;
    r.tx_power_max = 27;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "lab-" + std::to_string(n));
    std::memcpy(r.ssid_mac, mac, 6);
    r.ssid_count = 1;
    r.vlan_id = 1;
    return dev;
}

std::vector<uint8_t> BriefInfoBodyOf(const EmulatedDevice& dev) {
    const ap_info_stu& r = dev.info;
    BriefInfoBody b{};
    std::memcpy(b.version, r.version, sizeof b.version);
    b.version_len = r.version_len;
    b.work_mode = r.work_mode;
    b.mode_btn_status = r.mode_btn_status;
    b.up_time = r.up_time;
    std::memcpy(b.ap_name, r.ap_name, sizeof b.ap_name);
    b.ap_name_len = r.ap_name_len;
    std::memcpy(b.ssid, r.ssid, sizeof b.ssid);
    b.ssid_len = r.ssid_len;
    b.channel = r.channel;
    b.bridge_transparent = r.bridge_transparent;
    b.tdmaEn = r.tdmaEn;
    auto bytes = BytesOf(b);
    std::size_t n = dev.shortBrief ? 33 : bytes.size();
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<uint8_t> DeviceInfoBodyOf(const EmulatedDevice& dev) {
    return EncodeDeviceInfo(dev.info);
}

std::vector<uint8_t> KeepaliveBodyOf(const EmulatedDevice& dev) {
    KeepaliveBody k{};
    std::memcpy(k.version, dev.info.version, sizeof k.version);
    k.version_len = dev.info.version_len;
    k.up_time = dev.info.up_time;
    auto bytes = BytesOf(k);
    return {bytes.begin(), bytes.end()};
}

std::optional<uint8_t> AckResultFor(const EmulatedDevice& dev, uint16_t command) {
    if (auto it = dev.ackResult.find(command); it != dev.ackResult.end()) return it->second;
    switch (command) {
        case CMD_BRIDGE_CONFIG:
        case CMD_REBOOT:
        case CMD_RESET:
        case CMD_SET_VLAN:
            return uint8_t{0};
        default:
            return std::nullopt;
    }
}

std::vector<std::vector<uint8_t>> ScanBodiesFor(const std::vector<config_otherwl_basic>& aps) {
    std::size_t packets =
        std::max<std::size_t>(1, (aps.size() + kScanMaxEntries - 1) / kScanMaxEntries);
    std::vector<std::vector<uint8_t>> out;
    for (std::size_t i = 0; i < packets; ++i) {
        std::size_t from = i * kScanMaxEntries;
        std::size_t to = std::min(aps.size(), from + kScanMaxEntries);
        std::span<const config_otherwl_basic> slice;
        if (from < to) slice = std::span(aps).subspan(from, to - from);
        out.push_back(
            EncodeScanResult(static_cast<uint8_t>(packets), static_cast<uint8_t>(i), slice));
    }
    return out;
}

config_otherwl_basic MakeNeighbour(int n, int8_t signal) {
    config_otherwl_basic ap{};
    uint8_t mac[6] = {0x02,
                      0xaa,
                      0x00,
                      static_cast<uint8_t>((n >> 16) & 0xff),
                      static_cast<uint8_t>((n >> 8) & 0xff),
                      static_cast<uint8_t>(n & 0xff)};
    std::memcpy(ap.mac, mac, 6);
    ap.signal = signal;
    ap.channel = static_cast<uint8_t>(1 + n % 11);
    ap.secure_mode = 0;
    SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, "ap-" + std::to_string(n));
    return ap;
}

std::vector<config_otherwl_basic> MakeNeighbours(int count, const std::vector<int>& levels,
                                                 const std::vector<int>& securities) {
    std::vector<config_otherwl_basic> aps;
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const int signal = levels.empty() ? -40 - i % 50 : levels[at % levels.size()];
        config_otherwl_basic ap = MakeNeighbour(i, static_cast<int8_t>(signal));
        if (!securities.empty())
            ap.secure_mode = static_cast<uint8_t>(securities[at % securities.size()]);
        aps.push_back(ap);
    }
    return aps;
}

namespace {
// A scan reports security and cipher in one code; the device record keeps them apart
// (secure_mode 0 None, 1 WEP, 2 WPA-PSK, 3 WPA2-PSK, 4 mixed, 5/6 with a RADIUS server).
uint8_t ScanSecurityOf(const ap_info_stu& r) {
    const int cipher = r.wpapsk_auth_type <= 2 ? r.wpapsk_auth_type : 2;
    switch (r.secure_mode) {
        case 0:
        case 1:
            return r.secure_mode;
        case 2:
        case 5:
            return static_cast<uint8_t>(cipher == 0 ? 2 : cipher == 1 ? 3 : 10);
        case 3:
        case 6:
            return static_cast<uint8_t>(4 + cipher);
        default:
            return static_cast<uint8_t>(7 + cipher);
    }
}
}  // namespace

config_otherwl_basic NeighbourOf(const EmulatedDevice& ap, int8_t signal) {
    config_otherwl_basic n{};
    std::memcpy(n.mac, ap.info.ssid_mac, 6);
    n.signal = signal;
    n.channel = ap.info.channel;
    n.secure_mode = ScanSecurityOf(ap.info);
    std::memcpy(n.ssid, ap.info.ssid, sizeof n.ssid);
    n.ssid_len = std::min<uint8_t>(ap.info.ssid_len, sizeof n.ssid);
    n.bandwidth = ap.info.bandwidth;
    return n;
}

namespace {
constexpr std::size_t kVlanOffset = 732;  // vlan_en in the device-info body
}  // namespace

std::vector<uint8_t> MalformedDatagram(const EmulatedDevice& dev, unsigned n) {
    uint8_t mac[6];
    MacFromText(dev.MacText(), mac);
    std::vector<uint8_t> body(40, 0x5a);
    auto bytes = EncodeDatagram(CMD_SEARCH, body, mac, 0, dev.info.ap_type);
    switch (n % 3) {
        case 0:  // the magic in the wrong byte order
            bytes[0] = 0x19;
            bytes[1] = 0x86;
            break;
        case 1:  // less than a header
            bytes.resize(kHeaderSize - 1);
            break;
        default:  // one byte past the largest datagram
            bytes.resize(kMaxDatagram + 1, 0x5a);
            break;
    }
    return bytes;
}

namespace {

// Where a named setting lies in the device-info body.
struct FieldPlace {
    const char* name;
    std::size_t offset;
    std::size_t size;
};
constexpr FieldPlace kFieldPlaces[] = {
    {"channel", FD_BODY_OFFSET(channel), 1},
    {"country", FD_BODY_OFFSET(country_code), 1},
    {"power", FD_BODY_OFFSET(tx_power), 1},
    {"ssid", FD_BODY_OFFSET(ssid), 33},  // the text and its length byte
    {"name", FD_BODY_OFFSET(ap_name), 33},
    {"vlan-manage", FD_BODY_OFFSET(vlan_id), 2},
    {"vlan-wlan", FD_BODY_OFFSET(vlan_id_wlan), 2},
    {"ip", FD_BODY_OFFSET(ip), 4},
    {"mask", FD_BODY_OFFSET(ip_mask), 4},
    {"gateway", FD_BODY_OFFSET(ip_gateway), 4},
};

const FieldPlace* PlaceOfField(const std::string& name) {
    for (const FieldPlace& p : kFieldPlaces)
        if (name == p.name) return &p;
    return nullptr;
}

std::optional<std::string> ApplySettings(EmulatedDevice& dev, uint16_t command,
                                         const std::vector<uint8_t>& body);

}  // namespace

bool IsKnownDeviceField(const std::string& name) {
    return PlaceOfField(name) != nullptr;
}

std::optional<std::string> ApplyCommand(EmulatedDevice& dev, uint16_t command,
                                        const std::vector<uint8_t>& body) {
    if (!dev.applySettings) return std::nullopt;
    const ap_info_stu before = dev.info;
    std::optional<std::string> moved = ApplySettings(dev, command, body);
    if (const FieldPlace* p = PlaceOfField(dev.ignoredField)) {
        std::memcpy(BodyImage(dev.info) + p->offset, BodyImage(before) + p->offset, p->size);
        if (dev.ignoredField == "ip") moved.reset();
    }
    if (const FieldPlace* p = PlaceOfField(dev.alteredField);
        p && std::memcmp(BodyImage(dev.info) + p->offset, BodyImage(before) + p->offset,
                         p->size) != 0 &&
        p->size <= 2) {
        // Only a field the command changed is altered, and only the numbers.
        const uint16_t v = static_cast<uint16_t>(dev.alteredValue);
        std::memcpy(BodyImage(dev.info) + p->offset, &v, p->size);
    }
    return moved;
}

void RestartDevice(EmulatedDevice& dev) {
    dev.info.up_time = 0;
    if (dev.revertOnRestart && dev.bootSettings) {
        const IpConfigBlock keep = ExtractBlock<IpConfigBlock>(dev.info, kIpBlockOffset);
        ap_info_stu back = *dev.bootSettings;
        back.up_time = 0;
        ApplyBlock(back, kIpBlockOffset, keep);
        dev.info = back;
    } else {
        dev.bootSettings = dev.info;
    }
}

namespace {

std::optional<std::string> ApplySettings(EmulatedDevice& dev, uint16_t command,
                                         const std::vector<uint8_t>& body) {
    ap_info_stu& r = dev.info;
    auto copyBlock = [&](std::size_t offset, std::size_t size) {
        if (body.size() < size) return false;
        std::memcpy(BodyImage(r) + offset, body.data(), size);
        return true;
    };
    switch (command) {
        case CMD_SET_IP: {
            uint8_t oldIp[4];
            std::memcpy(oldIp, r.ip, 4);
            if (!copyBlock(kIpBlockOffset, sizeof(IpConfigBlock))) return std::nullopt;
            if (std::memcmp(oldIp, r.ip, 4) != 0) return IpToText(r.ip);
            return std::nullopt;
        }
        case CMD_SET_NAME:
            if (copyBlock(kNameBlockOffset, sizeof(DeviceNameBlock)))
                r.ap_name_len = std::min<uint8_t>(r.ap_name_len, sizeof r.ap_name);
            break;
        case CMD_SET_TIMED_REBOOT:
            copyBlock(kRebootBlockOffset, sizeof(TimedRebootBlock));
            break;
        case CMD_SET_WIRELESS:
            copyBlock(kWirelessBlockOffset, sizeof(WirelessBlock));
            break;
        case CMD_SET_VLAN:
            // vlan_en .. the flag bytes; ap_types 10 and 11 add bridge_transparent .. the
            // per-port VLANs, which other models do not have. The flag byte (body 740) says
            // whether an address change follows; it is no setting of the device.
            if (body.size() >= kVlanBlockShortSize) {
                std::memcpy(BodyImage(r) + kVlanOffset, body.data(), 8);
                if (body.size() >= sizeof(VlanBlock) &&
                    VlanBlockSize(r.ap_type) == sizeof(VlanBlock))
                    std::memcpy(BodyImage(r) + kVlanOffset + 10, body.data() + 10, 12);
            }
            break;
        case CMD_BRIDGE_CONFIG: {
            // The wizard's wireless part says which access point to join; the device
            // becomes a station bridged to it and takes the IP part. A device that refuses
            // the link (a result other than 0) stays as it was.
            if (body.size() < sizeof(BridgeConfigBody)) return std::nullopt;
            if (AckResultFor(dev, CMD_BRIDGE_CONFIG).value_or(0) != 0) return std::nullopt;
            const auto b = DecodeBody<BridgeConfigBody>(body);
            const BridgeWirelessBlock& w = b.wireless;
            r.work_mode = WORK_MODE_STATION;
            r.bridge_work_mode = 1;
            std::memcpy(r.bridge_mac, w.ap_mac, 6);
            r.bridge_channel = w.channel;
            std::memcpy(r.bridge_ssid, w.ssid, sizeof r.bridge_ssid);
            r.bridge_ssid_len = std::min<uint8_t>(w.ssid_len, sizeof r.bridge_ssid);
            r.secure_mode = w.secure_mode;
            r.wpapsk_auth_type = w.wpapsk_auth_type;
            std::memcpy(r.wpapsk_key_value, w.wpapsk_key, sizeof r.wpapsk_key_value);
            r.wpapsk_key_value_len = std::min<uint8_t>(w.wpapsk_key_len, sizeof w.wpapsk_key);
            uint8_t oldIp[4];
            std::memcpy(oldIp, r.ip, 4);
            ApplyBlock(r, kIpBlockOffset, b.ip);
            if (std::memcmp(oldIp, r.ip, 4) != 0) return IpToText(r.ip);
            return std::nullopt;
        }
        case CMD_RESET:
            if (dev.factory) {
                IpConfigBlock keep = ExtractBlock<IpConfigBlock>(r, kIpBlockOffset);
                uint16_t apType = r.ap_type;
                r = *dev.factory;
                r.ap_type = apType;
                ApplyBlock(r, kIpBlockOffset, keep);
            }
            break;
        case CMD_TRANSPARENT_BRIDGE:
            if (!body.empty()) r.bridge_transparent = body[0];
            break;
        case CMD_AIRSLOT:
            if (body.size() > 1) r.tdmaEn = body[1];
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

}  // namespace fd::devsim
