#pragma once
// The devices' UDP wire format: header, command codes, bodies and the records that are
// images of bodies. All integers are little-endian on the wire; the records below are
// packed so that their bytes are exactly the wire bytes on this (little-endian) host.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wire/address.h"

static_assert(std::endian::native == std::endian::little,
              "the wire records are laid out for a little-endian host");

namespace fd {

constexpr uint16_t kMagic = 0x1986;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kMaxDatagram = 1472;
constexpr std::size_t kMaxBody = kMaxDatagram - kHeaderSize;  // 1456

constexpr uint16_t kPortSearch = 9786;       // PC -> devices, search broadcast
constexpr uint16_t kPortSearchReply = 9785;  // devices -> PC, search replies
constexpr uint16_t kPortCommand = 9787;      // PC -> multicast group; devices -> PC keepalives
constexpr uint16_t kPortKeepalive = 9787;
constexpr uint16_t kPortInfo = 9788;  // devices -> PC: info, scan results, acks
constexpr const char* kMulticastGroup = "239.255.255.250";

enum Command : uint16_t {
    CMD_SEARCH = 1,
    CMD_DEVICE_INFO = 2,
    CMD_SET_IP = 3,
    CMD_SET_WIRELESS = 4,
    CMD_SET_TIMED_REBOOT = 5,
    CMD_SCAN = 6,
    CMD_BRIDGE_CONFIG = 7,
    CMD_SET_NAME = 8,
    CMD_REBOOT = 9,
    CMD_RESET = 10,
    CMD_UPGRADE = 11,
    CMD_UPGRADE_REPORT = 12,
    CMD_SET_VLAN = 13,
    CMD_KEEPALIVE = 15,
    CMD_UPGRADE_START = 16,
    CMD_PROBE = 17,
    CMD_TRANSPARENT_BRIDGE = 18,
    CMD_AIRSLOT = 19,
};

// Status codes of a device (ap_status).
enum ApStatus : int32_t {
    AP_STATUS_OUTLINE = 0,
    AP_STATUS_ONLINE = 1,
    AP_STATUS_BRIDGE_SUCCESS = 2,
    AP_STATUS_BRIDGE_FAIL = 3,
    AP_STATUS_RESTARTING = 4,
    AP_STATUS_RESETING = 5,
    AP_STATUS_UPGRADE_WAIT = 6,
    AP_STATUS_UPGRADING = 7,
    AP_STATUS_UPGRADE_SUCCESS = 8,
    AP_STATUS_UPGRADE_FAIL = 9,
    AP_STATUS_DISCOVERED = 10,  // answered a search, device info not delivered yet
};

// Work modes (work_mode).
enum WorkMode : uint8_t {
    WORK_MODE_AP = 1,
    WORK_MODE_STATION = 2,
    WORK_MODE_UNIVERSAL_REPEATER = 3,
    WORK_MODE_REPEATER = 4,
    WORK_MODE_P2MP = 5,
    WORK_MODE_WISP = 6,
    WORK_MODE_ROUTER = 7,
};

}  // namespace fd

#pragma pack(push, 1)

struct PacketHeader {
    uint16_t magic;
    uint16_t ap_type;
    uint16_t command;
    uint8_t multicast;
    uint8_t reserved;
    uint8_t mac[6];
    uint16_t length;
};
static_assert(sizeof(PacketHeader) == 16);
static_assert(offsetof(PacketHeader, mac) == 8 && offsetof(PacketHeader, length) == 14);

// Reply to a search (port 9785). A body of 33 bytes or less carries only the version.
struct BriefInfoBody {
    uint8_t version[32];
    uint8_t version_len;
    uint8_t work_mode;
    uint8_t mode_btn_status;
    uint8_t reserved;
    uint32_t up_time;
    uint8_t ap_name[32];
    uint8_t ap_name_len;
    uint8_t ssid[32];
    uint8_t ssid_len;
    uint8_t channel;
    uint8_t bridge_transparent;
    uint8_t tdmaEn;
};
static_assert(sizeof(BriefInfoBody) == 109);
static_assert(offsetof(BriefInfoBody, up_time) == 36 && offsetof(BriefInfoBody, ap_name) == 40 &&
              offsetof(BriefInfoBody, ssid) == 73 && offsetof(BriefInfoBody, tdmaEn) == 108);

// Keepalive (command 15, port 9787).
struct KeepaliveBody {
    uint8_t version[32];
    uint8_t version_len;
    uint8_t reserved[3];
    uint32_t up_time;
};
static_assert(sizeof(KeepaliveBody) == 40 && offsetof(KeepaliveBody, up_time) == 36);

// One device: its MAC text, model code, status and the image of the device-info body.
// Every field after ap_status sits at "body offset + 24"; byte n of the body is byte
// 24 + n of the record. The body image is 756 bytes, of which the device sends 750.
struct ap_info_stu {
    char mac[18];
    uint16_t ap_type;
    int32_t ap_status;
    // ---- device-info body image ----
    uint8_t work_mode;  // 0
    uint8_t mode_btn_status;
    uint8_t reserved0[2];
    uint32_t up_time;  // 4
    uint8_t ip_mode;   // 8
    uint8_t ip[4];
    uint8_t ip_mask[4];
    uint8_t ip_gateway[4];
    uint8_t ip_dns1[4];
    uint8_t ip_dns2[4];
    uint8_t reserved1;    // 29
    uint8_t ap_name[32];  // 30
    uint8_t ap_name_len;  // 62
    uint8_t version[32];  // 63
    uint8_t version_len;  // 95
    uint8_t restart_en;   // 96
    uint8_t restart_type;
    uint16_t restart_time;
    uint8_t rf_count;  // 100
    uint8_t rf_en;
    uint8_t rf_type;
    uint8_t country_code;
    uint8_t network_mode;
    uint8_t bandwidth;
    uint8_t channel;  // 106
    uint8_t expand_channel;
    uint8_t tx_power;
    uint8_t tx_power_min;
    uint8_t tx_power_max;  // 110
    uint8_t reserved2[11];
    uint8_t ssid_rf_type;  // 122
    uint8_t ssid_id;
    uint8_t ssid_hide;
    uint8_t ssid_mac[6];  // 125
    uint8_t ssid[32];     // 131
    uint8_t ssid_len;     // 163
    uint8_t secure_mode;  // 164
    uint8_t wpapsk_auth_type;
    uint8_t wpapsk_key_value[64];  // 166
    uint8_t wpapsk_key_value_len;  // 230
    uint32_t wpapsk_key_time;      // 231
    uint8_t wep_auth_type;         // 235
    uint8_t wep_key_index;
    uint8_t wep_key_type0;  // 237
    uint8_t wep_key_value0[26];
    uint8_t wep_key_value0_len;  // 264
    uint8_t wep_key_type1;
    uint8_t wep_key_value1[26];
    uint8_t wep_key_value1_len;  // 292
    uint8_t wep_key_type2;
    uint8_t wep_key_value2[26];
    uint8_t wep_key_value2_len;  // 320
    uint8_t wep_key_type3;
    uint8_t wep_key_value3[26];
    uint8_t wep_key_value3_len;  // 348
    uint8_t reserved3;
    uint8_t wpa_radius_ip[4];  // 350
    uint16_t wpa_radius_port;  // 354
    uint8_t wpa_auth_type;     // 356
    uint8_t wpa_key[64];       // 357
    uint8_t wpa_key_len;       // 421
    uint32_t wpa_key_time;     // 422
    uint8_t ssid_count;        // 426
    uint8_t reserved4;
    uint8_t bridge_work_mode;  // 428
    uint8_t bridge_mac[6];     // 429
    uint8_t bridge_channel;    // 435
    uint8_t bridge_ssid[32];   // 436
    uint8_t bridge_ssid_len;   // 468
    uint8_t reserved5[263];
    uint8_t vlan_en;  // 732
    uint8_t reserved6;
    uint16_t vlan_id;  // 734
    uint16_t vlan_id_wlan;
    uint16_t vlan_id_lan;
    uint8_t reserved7[2];
    uint8_t bridge_transparent;  // 742
    uint8_t tdmaEn;              // 743
    uint16_t vlan_pvid;          // 744
    uint16_t vlan_id_lan3;       // 746
    uint16_t vlan_id_lan4;       // 748
    uint8_t reserved8[6];        // 750..755: pads the image to 756 bytes
};

namespace fd {
constexpr std::size_t kApBodyOffset = 24;
constexpr std::size_t kDeviceInfoBodySize = 750;
constexpr std::size_t kApBodyImageSize = 756;
}  // namespace fd

#define FD_BODY_OFFSET(field) (offsetof(ap_info_stu, field) - fd::kApBodyOffset)
static_assert(sizeof(ap_info_stu) == 18 + 2 + 4 + 756);
static_assert(offsetof(ap_info_stu, ap_type) == 18 && offsetof(ap_info_stu, ap_status) == 20);
static_assert(FD_BODY_OFFSET(work_mode) == 0 && FD_BODY_OFFSET(up_time) == 4);
static_assert(FD_BODY_OFFSET(ip_mode) == 8 && FD_BODY_OFFSET(ip) == 9 &&
              FD_BODY_OFFSET(ip_dns2) == 25);
static_assert(FD_BODY_OFFSET(ap_name) == 30 && FD_BODY_OFFSET(ap_name_len) == 62);
static_assert(FD_BODY_OFFSET(version) == 63 && FD_BODY_OFFSET(version_len) == 95);
static_assert(FD_BODY_OFFSET(restart_en) == 96 && FD_BODY_OFFSET(restart_time) == 98);
static_assert(FD_BODY_OFFSET(rf_count) == 100 && FD_BODY_OFFSET(channel) == 106 &&
              FD_BODY_OFFSET(tx_power_max) == 110);
static_assert(FD_BODY_OFFSET(ssid_rf_type) == 122 && FD_BODY_OFFSET(ssid_mac) == 125 &&
              FD_BODY_OFFSET(ssid) == 131 && FD_BODY_OFFSET(ssid_len) == 163);
static_assert(FD_BODY_OFFSET(secure_mode) == 164 && FD_BODY_OFFSET(wpapsk_key_value) == 166 &&
              FD_BODY_OFFSET(wpapsk_key_value_len) == 230 &&
              FD_BODY_OFFSET(wpapsk_key_time) == 231);
static_assert(FD_BODY_OFFSET(wep_auth_type) == 235 && FD_BODY_OFFSET(wep_key_type0) == 237 &&
              FD_BODY_OFFSET(wep_key_value0) == 238 && FD_BODY_OFFSET(wep_key_value0_len) == 264 &&
              FD_BODY_OFFSET(wep_key_type1) == 265 && FD_BODY_OFFSET(wep_key_value1_len) == 292 &&
              FD_BODY_OFFSET(wep_key_type2) == 293 && FD_BODY_OFFSET(wep_key_value2_len) == 320 &&
              FD_BODY_OFFSET(wep_key_type3) == 321 && FD_BODY_OFFSET(wep_key_value3_len) == 348);
static_assert(FD_BODY_OFFSET(wpa_radius_ip) == 350 && FD_BODY_OFFSET(wpa_radius_port) == 354 &&
              FD_BODY_OFFSET(wpa_auth_type) == 356 && FD_BODY_OFFSET(wpa_key) == 357 &&
              FD_BODY_OFFSET(wpa_key_len) == 421 && FD_BODY_OFFSET(wpa_key_time) == 422);
static_assert(FD_BODY_OFFSET(ssid_count) == 426 && FD_BODY_OFFSET(bridge_work_mode) == 428 &&
              FD_BODY_OFFSET(bridge_mac) == 429 && FD_BODY_OFFSET(bridge_channel) == 435 &&
              FD_BODY_OFFSET(bridge_ssid) == 436 && FD_BODY_OFFSET(bridge_ssid_len) == 468);
static_assert(FD_BODY_OFFSET(vlan_en) == 732 && FD_BODY_OFFSET(vlan_id) == 734 &&
              FD_BODY_OFFSET(vlan_id_wlan) == 736 && FD_BODY_OFFSET(vlan_id_lan) == 738);
static_assert(FD_BODY_OFFSET(bridge_transparent) == 742 && FD_BODY_OFFSET(tdmaEn) == 743 &&
              FD_BODY_OFFSET(vlan_pvid) == 744 && FD_BODY_OFFSET(vlan_id_lan3) == 746 &&
              FD_BODY_OFFSET(vlan_id_lan4) == 748);

// One neighbouring access point from a device's scan; same layout on the wire and in memory.
struct config_otherwl_basic {
    uint8_t mac[6];
    int8_t signal;
    uint8_t channel;
    uint8_t secure_mode;
    uint8_t ssid[32];
    uint8_t ssid_len;
    uint8_t exchannel;
    uint8_t bandwidth;
};
static_assert(sizeof(config_otherwl_basic) == 44);
static_assert(offsetof(config_otherwl_basic, signal) == 6 &&
              offsetof(config_otherwl_basic, ssid) == 9 &&
              offsetof(config_otherwl_basic, ssid_len) == 41 &&
              offsetof(config_otherwl_basic, bandwidth) == 43);

// Configuration blocks: slices of the device-info body in the same layout.
struct IpConfigBlock {  // command 3, body bytes 8..29
    uint8_t ip_mode;
    uint8_t ip[4];
    uint8_t ip_mask[4];
    uint8_t ip_gateway[4];
    uint8_t ip_dns1[4];
    uint8_t ip_dns2[4];
    uint8_t reserved;
};
static_assert(sizeof(IpConfigBlock) == 22);

struct DeviceNameBlock {  // command 8, body bytes 30..62
    uint8_t ap_name[32];
    uint8_t ap_name_len;
};
static_assert(sizeof(DeviceNameBlock) == 33);

struct TimedRebootBlock {  // command 5, body bytes 96..99
    uint8_t restart_en;
    uint8_t restart_type;
    uint16_t restart_time;
};
static_assert(sizeof(TimedRebootBlock) == 4);

struct WirelessBlock {  // command 4, body bytes 100..427
    uint8_t bytes[328];
};
static_assert(sizeof(WirelessBlock) == 328);

// The wireless part of the bridge-configuration command (command 7): which access point a
// station joins and how. Not a slice of the device-info body: its own, shorter layout.
struct BridgeWepKey {
    uint8_t type;  // 0 ASCII, 1 Hex
    uint8_t value[26];
    uint8_t len;
};
static_assert(sizeof(BridgeWepKey) == 28);

struct BridgeWirelessBlock {
    uint8_t reserved0;
    uint8_t ap_mac[6];  // 1: the access point to join
    uint8_t channel;    // 7
    uint8_t ssid[32];   // 8
    uint8_t ssid_len;   // 40: bytes, not characters
    uint8_t reserved1;
    uint8_t secure_mode;         // 42
    uint8_t wpapsk_auth_type;    // 43: 0 AES, 1 TKIP, 2 TKIP&AES
    uint8_t wpapsk_key[64];      // 44
    uint8_t wpapsk_key_len;      // 108
    uint32_t wpapsk_key_time;    // 109
    uint8_t wep_auth_type;       // 113
    uint8_t wep_key_index;       // 114
    BridgeWepKey wep_keys[4];    // 115
    uint8_t reserved2;           // 227
    uint8_t wpa_radius_ip[4];    // 228
    uint16_t wpa_radius_port;    // 232
    uint8_t wpa_auth_type;       // 234
    uint8_t wpa_key[64];         // 235
    uint8_t wpa_key_len;         // 299
    uint32_t wpa_key_time;       // 300
};
static_assert(sizeof(BridgeWirelessBlock) == 304);
static_assert(offsetof(BridgeWirelessBlock, ap_mac) == 1 &&
              offsetof(BridgeWirelessBlock, channel) == 7 &&
              offsetof(BridgeWirelessBlock, ssid) == 8 &&
              offsetof(BridgeWirelessBlock, ssid_len) == 40 &&
              offsetof(BridgeWirelessBlock, secure_mode) == 42 &&
              offsetof(BridgeWirelessBlock, wpapsk_auth_type) == 43 &&
              offsetof(BridgeWirelessBlock, wpapsk_key) == 44 &&
              offsetof(BridgeWirelessBlock, wpapsk_key_len) == 108 &&
              offsetof(BridgeWirelessBlock, wpapsk_key_time) == 109 &&
              offsetof(BridgeWirelessBlock, wep_auth_type) == 113 &&
              offsetof(BridgeWirelessBlock, wep_keys) == 115 &&
              offsetof(BridgeWirelessBlock, wpa_radius_ip) == 228 &&
              offsetof(BridgeWirelessBlock, wpa_radius_port) == 232 &&
              offsetof(BridgeWirelessBlock, wpa_auth_type) == 234 &&
              offsetof(BridgeWirelessBlock, wpa_key) == 235 &&
              offsetof(BridgeWirelessBlock, wpa_key_len) == 299 &&
              offsetof(BridgeWirelessBlock, wpa_key_time) == 300);

// Body of command 7: the wireless part, then the same IP block as the set-IP command.
struct BridgeConfigBody {
    BridgeWirelessBlock wireless;
    IpConfigBlock ip;  // 304
};
static_assert(sizeof(BridgeConfigBody) == 326 && offsetof(BridgeConfigBody, ip) == 304);

// Command 13, body bytes 732..753. Most models take the first 10 bytes; ap_types 10 and 11
// take all 22 (the switches and the per-port VLANs follow).
struct VlanBlock {
    uint8_t vlan_en;
    uint8_t reserved0;
    uint16_t vlan_id;
    uint16_t vlan_id_wlan;
    uint16_t vlan_id_lan;
    uint8_t with_ip;  // 1: an address change follows in the same save; 0 in the record
    uint8_t reserved1;
    // ---- extension ----
    uint8_t bridge_transparent;
    uint8_t tdmaEn;
    uint16_t vlan_pvid;
    uint16_t vlan_id_lan3;
    uint16_t vlan_id_lan4;
    uint8_t reserved2[4];
};
static_assert(sizeof(VlanBlock) == 22 && offsetof(VlanBlock, with_ip) == 8 &&
              offsetof(VlanBlock, bridge_transparent) == 10 &&
              offsetof(VlanBlock, vlan_pvid) == 12 && offsetof(VlanBlock, vlan_id_lan4) == 16);

// Body of the upgrade request (command 11).
struct UpgradeImageInfo {
    char file_name[260];
    uint8_t name_len;
    uint8_t reserved[3];
    uint32_t file_size;
};
static_assert(sizeof(UpgradeImageInfo) == 268 && offsetof(UpgradeImageInfo, file_size) == 264);

#pragma pack(pop)

namespace fd {

constexpr std::size_t kScanHeaderSize = 3;
// A device puts at most 31 entries in one scan datagram; the encoder never writes more.
constexpr std::size_t kScanMaxEntries = 31;
constexpr std::size_t kScanForwardBytes = 1414;  // what the engine hands on of a scan body
// The reader keeps every entry that arrived whole within the bytes handed on: that is 32,
// one more than a device should send. A 32nd entry is a neighbour the device did report, so
// it is kept rather than dropped; a 33rd lies past the bytes handed on and is lost.
constexpr std::size_t kScanMaxDecodedEntries =
    (kScanForwardBytes - kScanHeaderSize) / sizeof(config_otherwl_basic);
static_assert(kScanMaxDecodedEntries == 32);
constexpr std::size_t kSettingBlockSize = 12;    // commands 18 and 19

// Body offsets of the configuration blocks inside the device-info body.
constexpr std::size_t kIpBlockOffset = 8;
constexpr std::size_t kNameBlockOffset = 30;
constexpr std::size_t kRebootBlockOffset = 96;
constexpr std::size_t kWirelessBlockOffset = 100;
constexpr std::size_t kVlanBlockOffset = 732;
constexpr std::size_t kVlanBlockShortSize = 10;  // what models other than 10 and 11 take

// A datagram that passed the size and magic checks: its header and the body bytes that
// actually arrived (never more than the datagram holds, whatever the header claims).
struct Datagram {
    PacketHeader header{};
    std::vector<uint8_t> body;
};

// Refuses anything outside 16..1472 bytes or with another magic. The body is the bytes
// after the header, capped at the header's length field.
std::optional<Datagram> DecodeDatagram(std::span<const uint8_t> bytes);

// The receiving filter, cheap enough for the receiving threads: the size and the magic
// DecodeDatagram checks, and the one command a listening port carries (search replies on
// 9785, keepalives on 9787; 9788 takes any command).
bool PassesReceiveFilter(uint16_t localPort, std::span<const uint8_t> bytes);

// Builds header + body; the body is cut at kMaxBody. multicast is the header flag.
std::vector<uint8_t> EncodeDatagram(uint16_t command, std::span<const uint8_t> body,
                                    const uint8_t mac[6], uint8_t multicast, uint16_t ap_type = 0);

// Copies min(body size, sizeof(T)) bytes into a zeroed T: a short body reads as zero
// beyond its end.
template <typename T>
T DecodeBody(std::span<const uint8_t> body) {
    T out{};
    std::size_t n = body.size() < sizeof(T) ? body.size() : sizeof(T);
    if (n) __builtin_memcpy(&out, body.data(), n);
    return out;
}

template <typename T>
std::span<const uint8_t> BytesOf(const T& value) {
    return {reinterpret_cast<const uint8_t*>(&value), sizeof(T)};
}

// Brief-info body; a body of 33 bytes or less yields only the version text.
BriefInfoBody DecodeBriefInfo(std::span<const uint8_t> body);
KeepaliveBody DecodeKeepalive(std::span<const uint8_t> body);

// Builds a record from a device-info reply: the body image from the received bytes (zero
// beyond them), mac text from the header, ap_type from the header, ap_status 0.
ap_info_stu DecodeDeviceInfo(const PacketHeader& header, std::span<const uint8_t> body);
// The 750 bytes a device sends as its device-info body.
std::vector<uint8_t> EncodeDeviceInfo(const ap_info_stu& rec);

uint8_t* BodyImage(ap_info_stu& rec);
const uint8_t* BodyImage(const ap_info_stu& rec);

// A block of the body image, and writing it back.
template <typename T>
T ExtractBlock(const ap_info_stu& rec, std::size_t bodyOffset) {
    T out{};
    __builtin_memcpy(&out, BodyImage(rec) + bodyOffset, sizeof(T));
    return out;
}
template <typename T>
void ApplyBlock(ap_info_stu& rec, std::size_t bodyOffset, const T& block) {
    __builtin_memcpy(BodyImage(rec) + bodyOffset, &block, sizeof(T));
}

IpConfigBlock GetIpBlock(const ap_info_stu& rec);
DeviceNameBlock GetNameBlock(const ap_info_stu& rec);
TimedRebootBlock GetRebootBlock(const ap_info_stu& rec);
WirelessBlock GetWirelessBlock(const ap_info_stu& rec);
VlanBlock GetVlanBlock(const ap_info_stu& rec);
// Bytes of command 13 for a model: 22 for ap_types 10 and 11, 10 for the others.
std::size_t VlanBlockSize(int apType);

struct ScanResult {
    uint8_t packet_count = 0;
    uint8_t packet_id = 0;
    uint8_t icount = 0;  // as sent
    // The entries that actually arrived whole (at most kScanMaxDecodedEntries).
    std::vector<config_otherwl_basic> entries;
};
// Only the first 1414 bytes count; icount is trusted only as far as whole entries arrived.
ScanResult DecodeScanResult(std::span<const uint8_t> body);
// A device's scan body: at most kScanMaxEntries entries, icount their number.
std::vector<uint8_t> EncodeScanResult(uint8_t packetCount, uint8_t packetId,
                                      std::span<const config_otherwl_basic> entries);
// A decoded result written back as it was read: icount as sent, every decoded entry.
std::vector<uint8_t> EncodeScanResult(const ScanResult& scan);

// Text fields: the first min(len, capacity) bytes, ending at the first zero byte (devices
// zero-pad their fields and may give the field's size as the length).
std::string_view FieldText(const uint8_t* field, std::size_t capacity, uint8_t len);
// Writes text into a field and its length byte, cut at the capacity (never mid-character
// when the text is UTF-8), zero-padding the rest.
void SetFieldText(uint8_t* field, std::size_t capacity, uint8_t& len, std::string_view text);

void SetRecordMac(ap_info_stu& rec, const uint8_t mac[6]);

}  // namespace fd
