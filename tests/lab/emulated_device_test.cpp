// What an emulated device makes of the command bodies it is sent, and the faulty datagrams
// it can send. No sockets: these run without a lab.

#include "devsim/emulated_device.h"

#include <gtest/gtest.h>

#include <cstring>

#include "rules/device_configuration.h"

using namespace fd;
using namespace fd::devsim;

namespace {

void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xff);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

TEST(EmulatedDeviceTest, VlanBlockAndItsExtension) {
    EmulatedDevice dev = MakeDevice(3);
    dev.info.bridge_transparent = 1;
    std::vector<uint8_t> body(10, 0);
    body[0] = 1;
    Put16(body, 2, 100);
    Put16(body, 4, 200);
    Put16(body, 6, 300);
    body[8] = 1;  // the "IP changes too" flag: no field of the device
    EXPECT_FALSE(ApplyCommand(dev, CMD_SET_VLAN, body));
    EXPECT_EQ(dev.info.vlan_en, 1);
    EXPECT_EQ(dev.info.vlan_id, 100);
    EXPECT_EQ(dev.info.vlan_id_wlan, 200);
    EXPECT_EQ(dev.info.vlan_id_lan, 300);
    EXPECT_EQ(dev.info.bridge_transparent, 1);  // no extension: kept

    // ap_types 10 and 11 send 22 bytes: the switches and the per-port VLANs follow. Other
    // models have no such ports and keep their bytes.
    body.resize(22, 0);
    body[10] = 0;  // bridge_transparent
    body[11] = 1;  // tdmaEn
    Put16(body, 12, 7);
    Put16(body, 14, 8);
    Put16(body, 16, 9);
    ApplyCommand(dev, CMD_SET_VLAN, body);
    EXPECT_EQ(dev.info.bridge_transparent, 1);
    EXPECT_EQ(dev.info.vlan_pvid, 0);
    dev.info.ap_type = 10;
    ApplyCommand(dev, CMD_SET_VLAN, body);
    EXPECT_EQ(dev.info.bridge_transparent, 0);
    EXPECT_EQ(dev.info.tdmaEn, 1);
    EXPECT_EQ(dev.info.vlan_pvid, 7);
    EXPECT_EQ(dev.info.vlan_id_lan3, 8);
    EXPECT_EQ(dev.info.vlan_id_lan4, 9);

    // A body too short for the block changes nothing.
    ap_info_stu before = dev.info;
    ApplyCommand(dev, CMD_SET_VLAN, std::vector<uint8_t>(9, 0xee));
    EXPECT_EQ(std::memcmp(&before, &dev.info, sizeof before), 0);
}

TEST(EmulatedDeviceTest, BridgeConfigurationMakesAStationOfTheChosenAccessPoint) {
    EmulatedDevice dev = MakeDevice(4);
    dev.info.work_mode = WORK_MODE_AP;
    std::vector<uint8_t> body(326, 0);
    const uint8_t bssid[6] = {0x02, 0xaa, 0, 0, 0, 9};
    std::memcpy(body.data() + 1, bssid, 6);
    body[7] = 149;
    std::memcpy(body.data() + 8, "far-side", 8);
    body[40] = 8;
    body[42] = 3;
    // The IP part: same address, another gateway.
    IpConfigBlock ip = ExtractBlock<IpConfigBlock>(dev.info, kIpBlockOffset);
    IpFromText("198.18.0.9", ip.ip_gateway);
    std::memcpy(body.data() + 304, &ip, sizeof ip);

    EXPECT_FALSE(ApplyCommand(dev, CMD_BRIDGE_CONFIG, body));  // the address stays
    EXPECT_EQ(dev.info.work_mode, WORK_MODE_STATION);
    EXPECT_EQ(std::memcmp(dev.info.bridge_mac, bssid, 6), 0);
    EXPECT_EQ(dev.info.bridge_channel, 149);
    EXPECT_EQ(FieldText(dev.info.bridge_ssid, 32, dev.info.bridge_ssid_len), "far-side");
    EXPECT_EQ(dev.info.secure_mode, 3);
    EXPECT_EQ(IpToText(dev.info.ip_gateway), "198.18.0.9");

    // A new address in the IP part moves the device.
    IpFromText("198.18.44.4", ip.ip);
    std::memcpy(body.data() + 304, &ip, sizeof ip);
    auto moved = ApplyCommand(dev, CMD_BRIDGE_CONFIG, body);
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, "198.18.44.4");

    // A short body is no configuration at all.
    ap_info_stu before = dev.info;
    EXPECT_FALSE(ApplyCommand(dev, CMD_BRIDGE_CONFIG, std::vector<uint8_t>(325, 0xff)));
    EXPECT_EQ(std::memcmp(&before, &dev.info, sizeof before), 0);

    // A device told to refuse the link answers with its result and stays as it was.
    dev.ackResult[CMD_BRIDGE_CONFIG] = 1;
    IpFromText("198.18.44.5", ip.ip);
    std::memcpy(body.data() + 304, &ip, sizeof ip);
    before = dev.info;
    EXPECT_FALSE(ApplyCommand(dev, CMD_BRIDGE_CONFIG, body));
    EXPECT_EQ(std::memcmp(&before, &dev.info, sizeof before), 0);
    EXPECT_EQ(AckResultFor(dev, CMD_BRIDGE_CONFIG), 1);
}

TEST(EmulatedDeviceTest, ScanAnswersSplitAtThirtyOneAndCarryWhatWasAskedFor) {
    const auto aps = MakeNeighbours(40, {-60, -59, -75}, {10, 1});
    const auto bodies = ScanBodiesFor(aps);
    ASSERT_EQ(bodies.size(), 2u);
    const ScanResult first = DecodeScanResult(bodies[0]), second = DecodeScanResult(bodies[1]);
    EXPECT_EQ(first.packet_count, 2);
    EXPECT_EQ(first.entries.size(), 31u);
    EXPECT_EQ(second.packet_id, 1);
    ASSERT_EQ(second.entries.size(), 9u);
    EXPECT_EQ(first.entries[1].signal, -59);
    EXPECT_EQ(first.entries[2].signal, -75);
    EXPECT_EQ(first.entries[3].secure_mode, 1);
    EXPECT_EQ(second.entries[8].mac[5], 39);

    // Another emulated device in a scan is heard by its wireless mac.
    EmulatedDevice ap = MakeDevice(3);
    ap.info.ssid_mac[0] = 0x06;
    ap.info.secure_mode = 3;  // WPA2-PSK with TKIP: the scan's code 5
    ap.info.wpapsk_auth_type = 1;
    const config_otherwl_basic heard = NeighbourOf(ap, -52);
    EXPECT_EQ(std::memcmp(heard.mac, ap.info.ssid_mac, 6), 0);
    EXPECT_EQ(FieldText(heard.ssid, 32, heard.ssid_len), "lab-3");
    EXPECT_EQ(heard.secure_mode, 5);
    EXPECT_EQ(heard.channel, 36);
}

TEST(EmulatedDeviceTest, FactoryResetRestoresAllButTheAddress) {
    EmulatedDevice dev = MakeDevice(5);
    dev.factory = dev.info;
    std::vector<uint8_t> name(sizeof(DeviceNameBlock), 0);
    std::memcpy(name.data(), "changed", 7);
    name[32] = 7;
    ApplyCommand(dev, CMD_SET_NAME, name);
    std::vector<uint8_t> ip(sizeof(IpConfigBlock), 0);
    std::memcpy(ip.data(), BodyImage(dev.info) + kIpBlockOffset, ip.size());
    IpFromText("198.18.50.5", ip.data() + 1);
    ASSERT_EQ(ApplyCommand(dev, CMD_SET_IP, ip), "198.18.50.5");
    dev.info.tdmaEn = 1;

    ApplyCommand(dev, CMD_RESET, {});
    EXPECT_EQ(FieldText(dev.info.ap_name, 32, dev.info.ap_name_len), "Device-5");
    EXPECT_EQ(dev.info.tdmaEn, 0);
    EXPECT_EQ(IpToText(dev.info.ip), "198.18.50.5");  // still reachable in the lab
}

TEST(EmulatedDeviceTest, MalformedDatagramsAreAllRefusedByTheDecoder) {
    EmulatedDevice dev = MakeDevice(6);
    for (unsigned n = 0; n < 6; ++n) {
        auto bytes = MalformedDatagram(dev, n);
        EXPECT_FALSE(DecodeDatagram(bytes)) << "kind " << n % 3 << ", " << bytes.size() << " bytes";
    }
    EXPECT_EQ(MalformedDatagram(dev, 1).size(), kHeaderSize - 1);
    EXPECT_EQ(MalformedDatagram(dev, 2).size(), kMaxDatagram + 1);
}

// The settings a generated device reports are ones the configuration dialog accepts as they
// are: opening it and saving sends nothing, whatever the radio, model and security mode.
TEST(EmulatedDeviceTest, ReportedSettingsPassTheConfigurationRulesUnchanged) {
    for (int apType : {1, 4, 6, 10, 11, 261}) {
        for (int channel : {1, 6, 11, 36, 149, 165}) {
            for (int mode = 0; mode <= 6; ++mode) {
                EmulatedDevice dev = MakeDevice(apType);
                dev.info.ap_type = static_cast<uint16_t>(apType);
                SetRadio(dev.info, channel);
                SetSecurity(dev.info, mode);
                const ap_info_stu& r = dev.info;
                ConfigurationForms forms;
                forms.wireless = WirelessFormFromRecord(r);
                forms.ip = IpSettingsFormFromRecord(r);
                forms.vlan = VlanFormFromRecord(r);
                forms.reboot = TimedRebootFormFromRecord(r);
                const ConfigurationPlan plan = PlanConfiguration(r, forms, {});
                EXPECT_TRUE(plan.ok())
                    << apType << "/" << channel << "/" << mode << ": " << plan.failure.key;
                EXPECT_TRUE(plan.pending.Empty()) << apType << "/" << channel << "/" << mode;
            }
        }
    }
}

// What the configuration commands leave in the device's image: the next device info shows
// exactly the blocks that were sent.
TEST(EmulatedDeviceTest, ConfigurationCommandsShowInTheNextDeviceInfo) {
    EmulatedDevice dev = MakeDevice(5);
    ap_info_stu changed = dev.info;
    SetFieldText(changed.ap_name, sizeof changed.ap_name, changed.ap_name_len, "Mast-9");
    SetFieldText(changed.ssid, sizeof changed.ssid, changed.ssid_len, "renamed");
    changed.channel = 149;
    changed.restart_en = 1;
    changed.restart_type = 0x80;
    changed.restart_time = 1439;
    IpFromText("198.18.7.7", changed.ip);
    auto bytes = [](const auto& block) {
        const auto b = BytesOf(block);
        return std::vector<uint8_t>(b.begin(), b.end());
    };
    const auto nameBlock = GetNameBlock(changed);
    const auto wirelessBlock = GetWirelessBlock(changed);
    const auto rebootBlock = GetRebootBlock(changed);
    const auto ipBlock = GetIpBlock(changed);
    EXPECT_FALSE(ApplyCommand(dev, CMD_SET_NAME, bytes(nameBlock)));
    EXPECT_FALSE(ApplyCommand(dev, CMD_SET_WIRELESS, bytes(wirelessBlock)));
    EXPECT_FALSE(ApplyCommand(dev, CMD_SET_TIMED_REBOOT, bytes(rebootBlock)));
    EXPECT_EQ(ApplyCommand(dev, CMD_SET_IP, bytes(ipBlock)), "198.18.7.7");
    const std::vector<uint8_t> info = DeviceInfoBodyOf(dev);
    const std::vector<uint8_t> expected = EncodeDeviceInfo(changed);
    EXPECT_EQ(info, expected);

    // A name block whose length byte claims more than the field holds is cut to the field.
    std::vector<uint8_t> name(33, 'a');
    name[32] = 200;
    ApplyCommand(dev, CMD_SET_NAME, name);
    EXPECT_EQ(dev.info.ap_name_len, 32);
}
