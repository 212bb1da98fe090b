#pragma once
// One emulated device: what it reports about itself (the device-info image) and how it
// behaves towards the PC (behaviour knobs), plus the bodies it sends.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "wire/packet.h"

namespace fd::devsim {

// How a device acknowledges commands other than the search answer, the device-info
// request, the keepalive echo, the probe and the scan.
enum class AckMode {
    Ack,               // from its own address
    Silent,            // never
    FromOtherAddress,  // from ackAddress instead of its own
};

struct EmulatedDevice {
    // mac text, ap_type and the device-info body image it reports. The ip in the image is
    // the address it claims; address below is the one it actually sends from.
    ap_info_stu info{};
    std::string address;

    // ---- behaviour ----
    bool answerSearch = true;
    bool shortBrief = false;  // a 33-byte brief body (version only) instead of 109 bytes
    bool answerInfo = true;   // answers the device-info request
    AckMode ackMode = AckMode::Ack;
    std::string ackAddress;  // for AckMode::FromOtherAddress
    // Result byte sent with the acknowledgement of a command; commands not listed carry
    // result 0 if they are among 7, 9, 10, 13 and no body otherwise.
    std::map<uint16_t, uint8_t> ackResult;
    // Applies set-IP, name, wireless, timed-reboot and VLAN commands to its own image; a
    // set-IP then moves it to the new address after the acknowledgement (the address must
    // exist on the devices' side of the lab).
    bool applySettings = true;
    // Firmware that acknowledges a settings command but does not apply one of its fields:
    // the field keeps its value (a field name as `fielddesk-cli show` prints it: channel,
    // country, power, ssid, name, vlan-manage, vlan-wlan, ip, mask, gateway).
    std::string ignoredField;
    // Firmware that applies another value than sent to one field (same names; a number).
    std::string alteredField;
    int alteredValue = 0;
    // After a restart (reboot, VLAN change) it comes back with the settings it had before
    // the last restart, as a device whose changes were never saved; its addresses stay.
    bool revertOnRestart = false;
    std::optional<ap_info_stu> bootSettings;  // what it restarts with; set when added
    // Scan results sent in answer to a scan command, in this order; empty: no answer.
    std::vector<std::vector<uint8_t>> scanBodies;

    // ---- restarts ----
    // After acknowledging a reboot or a factory reset the device is silent this long (it
    // neither answers nor sends keepalives), then comes back with its up-time restarted.
    // Zero: it stays on the air.
    std::chrono::milliseconds restartSilence{0};
    std::chrono::steady_clock::time_point silentUntil{};
    // What a factory reset restores (all but the IP configuration, so that the device stays
    // in the lab). Taken from info when the device is added to a peer, unless set before.
    std::optional<ap_info_stu> factory;

    // ---- firmware upgrade (device_upgrade.cpp) ----
    // Fetching the image stops after its first block (the device stops acknowledging) and
    // the device reports a failure.
    bool upgradeFetchFails = false;
    // After the upgrade start it stays silent for good, as a device that never boots again.
    bool upgradeNeverReturns = false;
    // Silence while it flashes; it comes back with the image's version.
    std::chrono::milliseconds flashSilence{3000};
    std::string fetchedImage;  // the image fetched and checked last; empty: none
    bool fetching = false;     // a fetch is under way (a repeated request does not start one)

    // ---- faults ----
    double dropRate = 0;  // share of the datagrams for it that it never sees, 0..1
    std::chrono::milliseconds replyDelay{0};  // everything it sends leaves this much later
    // Every answer is preceded by a malformed datagram (wrong magic, cut header or too long,
    // in turn) that the PC must drop.
    bool malformed = false;

    bool Silent(std::chrono::steady_clock::time_point now) const { return now < silentUntil; }

    std::string MacText() const { return info.mac; }
    std::string ReportedIp() const { return IpToText(info.ip); }
};

// The address of the n-th device of the lab, n from 0: 198.18.1.1 ... 198.18.1.250,
// 198.18.2.1, ... (never a .0 or .255 host part).
std::string LabDeviceAddress(int n);

// The radio settings that go with a channel: channels 1-14 on the 2.4 GHz radio in
// 11b/g/n, the others on the 5 GHz radio in 11a/n; Auto bandwidth, country China.
void SetRadio(ap_info_stu& rec, int channel);

// A security mode with keys that pass the configuration rules (a WEP key 1, a passphrase,
// or a RADIUS server), so that opening and saving the device's settings sends nothing.
void SetSecurity(ap_info_stu& rec, int mode);

// A plausible device with index n: mac 02:fd:00:00:hh:ll, address LabDeviceAddress(n),
// station mode, name "Device-<n>", ssid "lab-<n>", channel 36.
EmulatedDevice MakeDevice(int n);

// Bodies the device sends.
std::vector<uint8_t> BriefInfoBodyOf(const EmulatedDevice& dev);   // 109 or 33 bytes
std::vector<uint8_t> DeviceInfoBodyOf(const EmulatedDevice& dev);  // 750 bytes
std::vector<uint8_t> KeepaliveBodyOf(const EmulatedDevice& dev);   // 40 bytes
// The result byte (if any) a device acknowledges this command with.
std::optional<uint8_t> AckResultFor(const EmulatedDevice& dev, uint16_t command);
// Neighbours split over as many scan-result bodies as needed (31 entries each), packet_id
// 0, 1, ... in order; at least one (empty) body.
std::vector<std::vector<uint8_t>> ScanBodiesFor(const std::vector<config_otherwl_basic>& aps);
// A neighbour with index n: mac 02:aa:00:00:hh:ll, ssid "ap-<n>", channel 1 + n % 11.
config_otherwl_basic MakeNeighbour(int n, int8_t signal = -60);
// count generated neighbours; the i-th takes levels[i % size] (default -40 - i % 50) and
// security codes[i % size] (default 0, open).
std::vector<config_otherwl_basic> MakeNeighbours(int count, const std::vector<int>& levels = {},
                                                 const std::vector<int>& securities = {});
// How another emulated device looks in a scan: its wireless mac (ssid_mac), ssid, channel
// and security, heard at signal.
config_otherwl_basic NeighbourOf(const EmulatedDevice& ap, int8_t signal);

// Applies a command body to the device's image (settings commands, the bridge
// configuration and the factory reset), then its ignoredField and alteredField. Returns the
// new address for a set-IP or bridge configuration command that changes it.
std::optional<std::string> ApplyCommand(EmulatedDevice& dev, uint16_t command,
                                        const std::vector<uint8_t>& body);

// Whether ignoredField and alteredField know this field name.
bool IsKnownDeviceField(const std::string& name);

// The device restarts: its clock starts again, and with revertOnRestart its settings go back
// to bootSettings (its addresses stay); otherwise what it has now becomes what it boots with.
void RestartDevice(EmulatedDevice& dev);

// The n-th malformed datagram a faulty device sends (n cycles through the kinds): wrong
// magic, a header cut short, a datagram longer than 1472 bytes.
std::vector<uint8_t> MalformedDatagram(const EmulatedDevice& dev, unsigned n);

}  // namespace fd::devsim
