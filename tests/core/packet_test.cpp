#include "wire/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

using namespace fd;

namespace {

std::vector<uint8_t> Header(uint16_t cmd, uint16_t length, uint16_t magic = kMagic) {
    std::vector<uint8_t> h(16, 0);
    h[0] = magic & 0xff;
    h[1] = magic >> 8;
    h[2] = 0x05;  // ap_type 0x0105
    h[3] = 0x01;
    h[4] = cmd & 0xff;
    h[5] = cmd >> 8;
    for (int i = 0; i < 6; ++i) h[8 + i] = static_cast<uint8_t>(0xa0 + i);
    h[14] = length & 0xff;
    h[15] = length >> 8;
    return h;
}

}  // namespace

TEST(DatagramTest, SizeAndMagicAreChecked) {
    for (std::size_t n : {0u, 1u, 15u}) {
        std::vector<uint8_t> d(n, 0);
        if (n >= 2) d[0] = 0x86, d[1] = 0x19;
        EXPECT_FALSE(DecodeDatagram(d)) << n;
    }
    auto hdr = Header(CMD_SEARCH, 0);
    auto ok = DecodeDatagram(hdr);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->header.command, CMD_SEARCH);
    EXPECT_EQ(ok->header.ap_type, 0x0105);
    EXPECT_EQ(MacToText(ok->header.mac), "a0:a1:a2:a3:a4:a5");
    EXPECT_TRUE(ok->body.empty());

    // Big-endian magic is another magic.
    auto be = Header(CMD_SEARCH, 0);
    be[0] = 0x19;
    be[1] = 0x86;
    EXPECT_FALSE(DecodeDatagram(be));

    std::vector<uint8_t> max = Header(CMD_DEVICE_INFO, 1456);
    max.resize(1472, 0x11);
    EXPECT_TRUE(DecodeDatagram(max));
    max.push_back(0);
    EXPECT_FALSE(DecodeDatagram(max));
    std::vector<uint8_t> huge(65535, 0);
    huge[0] = 0x86, huge[1] = 0x19;
    EXPECT_FALSE(DecodeDatagram(huge));
}

TEST(DatagramTest, BodyNeverExceedsWhatArrived) {
    auto d = Header(CMD_DEVICE_INFO, 750);  // claims 750 bytes
    d.insert(d.end(), {1, 2, 3});           // only 3 arrive
    auto got = DecodeDatagram(d);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->body.size(), 3u);

    auto e = Header(CMD_REBOOT, 1);  // claims 1 byte, 4 arrive
    e.insert(e.end(), {7, 8, 9, 10});
    got = DecodeDatagram(e);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->body.size(), 1u);
    EXPECT_EQ(got->body[0], 7);
}

TEST(DatagramTest, EncodeRoundTripsAndCapsBody) {
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> body(22, 0x5a);
    auto bytes = EncodeDatagram(CMD_SET_IP, body, mac, 1);
    ASSERT_EQ(bytes.size(), 16u + 22u);
    EXPECT_EQ(bytes[0], 0x86);
    EXPECT_EQ(bytes[1], 0x19);
    EXPECT_EQ(bytes[6], 1);
    EXPECT_EQ(bytes[14], 22);
    auto back = DecodeDatagram(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->body, body);
    EXPECT_EQ(back->header.ap_type, 0);

    std::vector<uint8_t> big(5000, 1);
    EXPECT_EQ(EncodeDatagram(CMD_SET_VLAN, big, mac, 1).size(), kMaxDatagram);
}

TEST(BriefInfoTest, ShortBodiesReadAsZeroBeyondTheirEnd) {
    std::vector<uint8_t> body(109);
    std::iota(body.begin(), body.end(), uint8_t{1});
    body[32] = 5;  // version length
    auto full = DecodeBriefInfo(body);
    EXPECT_EQ(full.version_len, 5);
    EXPECT_EQ(full.work_mode, 34);
    EXPECT_EQ(full.up_time, 0x28272625u);
    EXPECT_EQ(full.ap_name[0], 41);
    EXPECT_EQ(full.ssid[0], 74);
    EXPECT_EQ(full.channel, 107);
    EXPECT_EQ(full.tdmaEn, 109);

    auto v33 = DecodeBriefInfo(std::span(body).first(33));
    EXPECT_EQ(v33.version_len, 5);
    EXPECT_EQ(v33.version[0], 1);
    EXPECT_EQ(v33.work_mode, 0);
    EXPECT_EQ(v33.up_time, 0u);

    auto v34 = DecodeBriefInfo(std::span(body).first(34));
    EXPECT_EQ(v34.work_mode, 34);
    EXPECT_EQ(v34.mode_btn_status, 0);

    auto none = DecodeBriefInfo({});
    EXPECT_EQ(none.version_len, 0);
}

TEST(DeviceInfoTest, FieldsSitAtTheirBodyOffsets) {
    std::vector<uint8_t> body(750, 0);
    auto put = [&](std::size_t off, uint8_t v) { body[off] = v; };
    put(0, 2);                    // work_mode
    put(4, 0x10), put(7, 0x20);   // up_time
    put(9, 198), put(12, 7);      // ip
    put(30, 'N'), put(62, 1);     // ap_name
    put(63, 'V'), put(95, 1);     // version
    put(98, 0x34), put(99, 0x12); // restart_time
    put(106, 149);                // channel
    put(125, 0xde);               // ssid_mac
    for (std::size_t i = 131; i < 163; ++i) put(i, 's');
    put(163, 200);                // ssid length (oversized)
    put(230, 64);                 // wpapsk length
    put(264, 26);                 // wep0 length
    put(354, 0x14), put(355, 0x07);  // radius port
    put(421, 9);
    put(429, 0xbb);               // bridge_mac
    put(468, 3);                  // bridge_ssid length
    put(732, 1);
    put(734, 0x0a), put(735, 0x01);  // vlan_id 266
    put(742, 1), put(743, 1);
    put(744, 0x22);
    put(748, 0x78), put(749, 0x56);  // vlan_id_lan4
    PacketHeader h{};
    h.magic = kMagic;
    h.ap_type = 258;
    uint8_t mac[6] = {0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03};
    std::memcpy(h.mac, mac, 6);
    auto r = DecodeDeviceInfo(h, body);
    EXPECT_STREQ(r.mac, "aa:bb:cc:01:02:03");
    EXPECT_EQ(r.ap_type, 258);
    EXPECT_EQ(r.ap_status, 0);
    EXPECT_EQ(r.work_mode, 2);
    EXPECT_EQ(r.up_time, 0x20000010u);
    EXPECT_EQ(IpToText(r.ip), "198.0.0.7");
    EXPECT_EQ(r.ap_name[0], 'N');
    EXPECT_EQ(r.version[0], 'V');
    EXPECT_EQ(r.restart_time, 0x1234);
    EXPECT_EQ(r.channel, 149);
    EXPECT_EQ(r.ssid_mac[0], 0xde);
    EXPECT_EQ(FieldText(r.ssid, sizeof r.ssid, r.ssid_len).size(), 32u);  // capped
    EXPECT_EQ(r.wpapsk_key_value_len, 64);
    EXPECT_EQ(r.wep_key_value0_len, 26);
    EXPECT_EQ(r.wpa_radius_port, 0x0714);
    EXPECT_EQ(r.wpa_key_len, 9);
    EXPECT_EQ(r.bridge_mac[0], 0xbb);
    EXPECT_EQ(r.bridge_ssid_len, 3);
    EXPECT_EQ(r.vlan_en, 1);
    EXPECT_EQ(r.vlan_id, 266);
    EXPECT_EQ(r.bridge_transparent, 1);
    EXPECT_EQ(r.tdmaEn, 1);
    EXPECT_EQ(r.vlan_pvid, 0x22);
    EXPECT_EQ(r.vlan_id_lan4, 0x5678);

    EXPECT_EQ(EncodeDeviceInfo(r), body);

    // A truncated body leaves the rest zero.
    auto shortRec = DecodeDeviceInfo(h, std::span(body).first(100));
    EXPECT_EQ(shortRec.restart_time, 0x1234);
    EXPECT_EQ(shortRec.channel, 0);
    EXPECT_EQ(shortRec.vlan_id_lan4, 0);
}

TEST(DeviceInfoTest, BlocksAreSlicesOfTheBody) {
    ap_info_stu r{};
    r.ip_mode = 1;
    uint8_t ip[4] = {198, 18, 1, 9};
    std::memcpy(r.ip, ip, 4);
    r.reserved1 = 0;
    SetFieldText(r.ap_name, sizeof r.ap_name, r.ap_name_len, "roof-east");
    r.restart_en = 1;
    r.restart_time = 300;
    r.rf_count = 1;
    r.ssid_count = 4;

    auto ipb = GetIpBlock(r);
    EXPECT_EQ(ipb.ip_mode, 1);
    EXPECT_EQ(ipb.ip[3], 9);
    auto nb = GetNameBlock(r);
    EXPECT_EQ(nb.ap_name_len, 9);
    EXPECT_EQ(std::memcmp(nb.ap_name, "roof-east", 9), 0);
    auto rb = GetRebootBlock(r);
    EXPECT_EQ(rb.restart_en, 1);
    EXPECT_EQ(rb.restart_time, 300);
    auto wb = GetWirelessBlock(r);
    EXPECT_EQ(wb.bytes[0], 1);      // rf_count at body 100
    EXPECT_EQ(wb.bytes[326], 4);    // ssid_count at body 426

    ipb.ip[3] = 77;
    ApplyBlock(r, kIpBlockOffset, ipb);
    EXPECT_EQ(r.ip[3], 77);
}

TEST(ScanResultTest, EntriesAreBoundedByWhatArrived) {
    std::vector<config_otherwl_basic> aps(40);
    for (std::size_t i = 0; i < aps.size(); ++i) {
        aps[i].mac[5] = static_cast<uint8_t>(i);
        aps[i].signal = static_cast<int8_t>(-40 - static_cast<int>(i));
    }
    auto body = EncodeScanResult(3, 1, aps);
    EXPECT_EQ(body.size(), 3u + 31u * 44u);
    auto r = DecodeScanResult(body);
    EXPECT_EQ(r.packet_count, 3);
    EXPECT_EQ(r.packet_id, 1);
    ASSERT_EQ(r.entries.size(), 31u);
    EXPECT_EQ(r.entries[30].mac[5], 30);
    EXPECT_EQ(r.entries[2].signal, -42);

    // icount says 31, only two whole entries arrived.
    auto cut = DecodeScanResult(std::span(body).first(3 + 2 * 44 + 10));
    EXPECT_EQ(cut.icount, 31);
    EXPECT_EQ(cut.entries.size(), 2u);

    // icount of 255 never reads past the entries that arrived.
    body[2] = 255;
    EXPECT_EQ(DecodeScanResult(body).entries.size(), 31u);
    EXPECT_EQ(DecodeScanResult({}).entries.size(), 0u);

    // A 32nd entry still lies within the 1414 bytes read and is kept; a 33rd does not.
    std::vector<uint8_t> big = {1, 0, 33};
    for (std::size_t i = 0; i < 33; ++i) {
        auto bytes = BytesOf(aps[i]);
        big.insert(big.end(), bytes.begin(), bytes.end());
    }
    auto wide = DecodeScanResult(big);
    ASSERT_EQ(wide.entries.size(), 32u);
    EXPECT_EQ(wide.entries[31].mac[5], 31);
    // Written back, it keeps icount as sent and every entry read.
    EXPECT_EQ(EncodeScanResult(wide).size(), 3u + 32u * 44u);
    EXPECT_EQ(DecodeScanResult(EncodeScanResult(wide)).icount, 33);
}

TEST(TextFieldTest, LengthIsCappedAndUtf8IsNotSplit) {
    uint8_t field[32];
    uint8_t len = 0;
    SetFieldText(field, sizeof field, len, std::string(40, 'x'));
    EXPECT_EQ(len, 32);
    EXPECT_EQ(FieldText(field, sizeof field, 255).size(), 32u);

    // 11 three-byte characters = 33 bytes: the last one must go whole.
    std::string cjk;
    for (int i = 0; i < 11; ++i) cjk += "\xe5\xb1\x8b";
    SetFieldText(field, sizeof field, len, cjk);
    EXPECT_EQ(len, 30);
}

