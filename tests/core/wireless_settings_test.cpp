// The wireless page's lists, rules and collect step: the 328-byte block a save builds for
// each security mode, the channels a country offers, and the refusals of bad keys.

#include "rules/wireless_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "rules/country_table.h"

using namespace fd;

namespace {

// A record whose wireless slice is a byte pattern, so that any byte the collect step writes
// by mistake shows; its settings are a consistent 5 GHz device in China.
ap_info_stu PatternRecord() {
    ap_info_stu r{};
    std::strcpy(r.mac, "02:fd:00:00:00:01");
    r.ap_type = 6;
    uint8_t* body = BodyImage(r);
    for (std::size_t i = 0; i < sizeof(WirelessBlock); ++i)
        body[kWirelessBlockOffset + i] = static_cast<uint8_t>(0x40 + i % 97);
    r.rf_count = 1;
    r.rf_en = 1;
    r.rf_type = 1;
    r.country_code = 0;  // CN
    r.network_mode = 1;  // 11a/n
    r.bandwidth = 0;
    r.channel = 149;
    r.tx_power = 20;
    r.tx_power_min = 5;
    r.tx_power_max = 27;
    r.ssid_rf_type = 1;
    r.ssid_id = 0;
    r.ssid_hide = 0;
    SetFieldText(r.ssid, sizeof r.ssid, r.ssid_len, "tower-1");
    r.secure_mode = kSecureNone;
    r.ssid_count = 1;
    return r;
}

std::vector<int> Values(const ListItems& items) {
    std::vector<int> v;
    for (const auto& i : items) v.push_back(i.value);
    return v;
}

// The block offsets a collect step may write for a mode; every other byte must stay.
std::set<std::size_t> Written(std::initializer_list<std::pair<std::size_t, std::size_t>> ranges) {
    std::set<std::size_t> out;
    for (auto [from, size] : ranges)
        for (std::size_t i = from; i < from + size; ++i) out.insert(i);
    return out;
}

void ExpectOnlyWritten(const WirelessBlock& block, const ap_info_stu& rec,
                       const std::set<std::size_t>& written) {
    const WirelessBlock old = GetWirelessBlock(rec);
    for (std::size_t i = 0; i < sizeof block.bytes; ++i) {
        if (!written.count(i)) {
            EXPECT_EQ(block.bytes[i], old.bytes[i]) << "byte " << i;
        }
    }
}

uint32_t U32(const WirelessBlock& b, std::size_t at) {
    uint32_t v;
    std::memcpy(&v, b.bytes + at, 4);
    return v;
}

const std::set<std::size_t> kCommon = Written({{0, 9}, {22, 3}, {31, 33}, {64, 1}, {326, 1}});

}  // namespace

TEST(WirelessSettingsTest, UnchangedFormGivesTheRecordsBlockAndNoChange) {
    const ap_info_stu rec = PatternRecord();
    const WirelessCollect c = CollectWireless(rec, WirelessFormFromRecord(rec));
    ASSERT_TRUE(c.ok()) << c.failure.key;
    EXPECT_FALSE(c.changed);
    const WirelessBlock old = GetWirelessBlock(rec);
    EXPECT_EQ(std::memcmp(c.block.bytes, old.bytes, sizeof old.bytes), 0);
}

TEST(WirelessSettingsTest, BlockForEachSecurityModeByteByByte) {
    const ap_info_stu rec = PatternRecord();
    WirelessForm f = WirelessFormFromRecord(rec);
    f.ssid = "塔-east";
    f.hideSsid = true;
    f.countryRow = FindCountryRow("US");
    f.networkMode = 3;
    f.bandwidth = 1;
    f.channel = 157;
    f.power = "27";

    // None: the radio, the SSID and the mode; the key fields keep the record's bytes.
    f.secureMode = kSecureNone;
    WirelessCollect c = CollectWireless(rec, f);
    ASSERT_TRUE(c.ok()) << c.failure.key;
    EXPECT_TRUE(c.changed);
    const uint8_t* b = c.block.bytes;
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[2], 1);  // rf_type from the record
    EXPECT_EQ(b[3], 1);  // "US" is code 1
    EXPECT_EQ(b[4], 3);
    EXPECT_EQ(b[5], 1);
    EXPECT_EQ(b[6], 157);
    EXPECT_EQ(b[7], rec.expand_channel);  // 5 GHz: kept
    EXPECT_EQ(b[8], 27);
    EXPECT_EQ(b[22], 1);
    EXPECT_EQ(b[23], 0);
    EXPECT_EQ(b[24], 1);
    EXPECT_EQ(b[63], std::strlen("塔-east"));
    EXPECT_EQ(std::memcmp(b + 31, "塔-east", b[63]), 0);
    for (std::size_t i = 31 + b[63]; i < 63; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[64], 0);
    EXPECT_EQ(b[326], 1);
    ExpectOnlyWritten(c.block, rec, kCommon);

    // PSK: cipher, key, its length and the interval.
    f.secureMode = kSecureMixedPsk;
    f.pskCipher = 2;
    f.pskKey = "correct horse";
    f.pskInterval = "3600";
    c = CollectWireless(rec, f);
    ASSERT_TRUE(c.ok()) << c.failure.key;
    b = c.block.bytes;
    EXPECT_EQ(b[64], 4);
    EXPECT_EQ(b[65], 2);
    EXPECT_EQ(std::memcmp(b + 66, "correct horse", 13), 0);
    EXPECT_EQ(b[66 + 13], 0);
    EXPECT_EQ(b[130], 13);
    EXPECT_EQ(U32(c.block, 131), 3600u);
    auto w = kCommon;
    for (auto i : Written({{65, 70}})) w.insert(i);
    ExpectOnlyWritten(c.block, rec, w);

    // WEP: authentication, default key and the four keys with their formats and lengths.
    f.secureMode = kSecureWep;
    f.wepAuth = 1;
    f.wepDefaultKey = 3;
    f.wepKeys[0] = "0123456789";
    f.wepKeyFormats[0] = 1;
    f.wepKeys[1] = "";
    f.wepKeys[2] = "abc_@";
    f.wepKeyFormats[2] = 0;
    f.wepKeys[3] = "0123456789abcdef0123456789";
    f.wepKeyFormats[3] = 1;
    c = CollectWireless(rec, f);
    ASSERT_TRUE(c.ok()) << c.failure.key;
    b = c.block.bytes;
    EXPECT_EQ(b[64], 1);
    EXPECT_EQ(b[135], 1);
    EXPECT_EQ(b[136], 3);
    EXPECT_EQ(b[137], 1);
    EXPECT_EQ(std::memcmp(b + 138, "0123456789", 10), 0);
    EXPECT_EQ(b[164], 10);
    EXPECT_EQ(b[137 + 28], 0);
    EXPECT_EQ(b[164 + 28], 0);  // key 2 empty
    EXPECT_EQ(b[137 + 56], 0);
    EXPECT_EQ(std::memcmp(b + 138 + 56, "abc_@", 5), 0);
    EXPECT_EQ(b[164 + 56], 5);
    EXPECT_EQ(b[137 + 84], 1);
    EXPECT_EQ(b[164 + 84], 26);
    w = kCommon;
    for (auto i : Written({{135, 2 + 4 * 28}})) w.insert(i);
    ExpectOnlyWritten(c.block, rec, w);

    // WPA2 with a RADIUS server: address in written order, port, the encryption's index,
    // the key and the interval.
    f.secureMode = kSecureWpa2;
    f.wpaEncryption = 2;
    f.radiusServer = "10.1.2.3";
    f.radiusPort = "1812";
    f.radiusKey = "radius-secret";
    f.radiusInterval = "0";
    c = CollectWireless(rec, f);
    ASSERT_TRUE(c.ok()) << c.failure.key;
    b = c.block.bytes;
    EXPECT_EQ(b[64], 6);
    EXPECT_EQ(b[250], 10);
    EXPECT_EQ(b[251], 1);
    EXPECT_EQ(b[252], 2);
    EXPECT_EQ(b[253], 3);
    EXPECT_EQ(b[254] | (b[255] << 8), 1812);
    EXPECT_EQ(b[256], 2);
    EXPECT_EQ(std::memcmp(b + 257, "radius-secret", 13), 0);
    EXPECT_EQ(b[321], 13);
    EXPECT_EQ(U32(c.block, 322), 0u);
    w = kCommon;
    for (auto i : Written({{250, 76}})) w.insert(i);
    ExpectOnlyWritten(c.block, rec, w);
}

TEST(WirelessSettingsTest, ExtensionChannelOnTheTwoGigahertzRadio) {
    ap_info_stu rec = PatternRecord();
    rec.rf_type = 0;
    rec.country_code = 44;  // AU: channels 1-13
    rec.network_mode = 4;
    rec.bandwidth = 1;
    rec.channel = 6;
    rec.expand_channel = 1;
    WirelessForm f = WirelessFormFromRecord(rec);
    EXPECT_EQ(f.extensionChannel, 1);  // the record's side of two
    WirelessCollect c = CollectWireless(rec, f);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.block.bytes[7], 1);

    // Channel 11 of 13 offers only the channel below, whatever was asked for.
    f.channel = 11;
    f.extensionChannel = 1;
    c = CollectWireless(rec, f);
    EXPECT_EQ(c.block.bytes[7], 0);

    // Auto bandwidth or Auto channel: 2 ("none").
    f.bandwidth = 2;
    EXPECT_EQ(CollectWireless(rec, f).block.bytes[7], 2);
    f.bandwidth = 1;
    f.channel = 0;
    EXPECT_EQ(CollectWireless(rec, f).block.bytes[7], 2);
}

TEST(WirelessSettingsTest, ExtensionChannelListsOnAThirteenChannelList) {
    const std::size_t n = ChannelItems(FindCountryRow("AU"), 0, 1, 1).size();
    ASSERT_EQ(n, 14u);  // Auto and 1-13
    auto ext = [&](int ch) { return ExtensionChannelItems(0, 4, 1, ch, n, std::nullopt); };
    for (int ch = 1; ch <= 4; ++ch) {
        auto e = ext(ch);
        ASSERT_EQ(e.items.size(), 1u) << ch;
        EXPECT_EQ(e.items[0].text, std::to_string(ch + 4));
        EXPECT_EQ(e.items[0].value, 1);
    }
    for (int ch = 5; ch <= 9; ++ch) {
        auto e = ext(ch);
        ASSERT_EQ(e.items.size(), 2u) << ch;
        EXPECT_EQ(e.items[0].value, 0);
        EXPECT_EQ(e.items[1].value, 1);
        EXPECT_EQ(e.selected, 0);
    }
    for (int ch = 10; ch <= 13; ++ch) {
        auto e = ext(ch);
        ASSERT_EQ(e.items.size(), 1u) << ch;
        EXPECT_EQ(e.items[0].text, std::to_string(ch - 4));
        EXPECT_EQ(e.items[0].value, 0);
    }
    EXPECT_EQ(ExtensionChannelItems(0, 4, 1, 7, n, 1).selected, 1);
    // Not on 5 GHz, not in 11b/g, not at 20 MHz, not on Auto.
    EXPECT_FALSE(ExtensionChannelItems(1, 4, 1, 36, n).enabled);
    EXPECT_FALSE(ExtensionChannelItems(0, 0, 1, 6, n).enabled);
    EXPECT_FALSE(ExtensionChannelItems(0, 4, 0, 6, n).enabled);
    EXPECT_FALSE(ExtensionChannelItems(0, 4, 1, 0, n).enabled);
}

TEST(WirelessSettingsTest, ListsByBandModelAndNetworkMode) {
    // 2.4 GHz in 11b/g: only 20 MHz.
    EXPECT_EQ(Values(BandwidthItems(0, 1, 0)), (std::vector<int>{0}));
    EXPECT_EQ(Values(BandwidthItems(0, 1, 4)), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(Values(NetworkModeItems(0, 10)), (std::vector<int>{1, 2, 0, 4}));
    EXPECT_EQ(Values(NetworkModeItems(1, 6)), (std::vector<int>{0, 3, 1}));
    EXPECT_EQ(Values(NetworkModeItems(1, 11)), (std::vector<int>{0, 3, 1, 2}));
    EXPECT_EQ(Values(BandwidthItems(1, 8, 1)), (std::vector<int>{2, 4, 0, 5, 1}));
    EXPECT_EQ(Values(BandwidthItems(1, 10, 1)), (std::vector<int>{2, 4, 0, 5, 1}));
    EXPECT_EQ(Values(BandwidthItems(1, 10, 2)), (std::vector<int>{2, 4, 0, 5, 1, 6, 7, 3}));
    EXPECT_EQ(Values(BandwidthItems(1, 1, 2)), (std::vector<int>{2, 0, 1}));

    // A record whose network mode the radio does not offer keeps it: the page shows it as
    // the current entry instead of putting a default the user did not choose.
    ap_info_stu rec = PatternRecord();
    rec.network_mode = 9;
    EXPECT_EQ(WirelessFormFromRecord(rec).networkMode, 9);
}

TEST(WirelessSettingsTest, ChannelsByCountryBandwidthAndRadarRules) {
    const int au = FindCountryRow("Australia");
    // Radar channels are not offered outside the test row.
    EXPECT_EQ(Values(ChannelItems(au, 1, 0, 1)),
              (std::vector<int>{0, 36, 40, 44, 48, 149, 153, 157, 161, 165}));
    // 40 MHz entries lose their side suffix.
    EXPECT_EQ(Values(ChannelItems(FindCountryRow("AE"), 1, 1, 1)),
              (std::vector<int>{0, 149, 153, 157, 161}));
    EXPECT_EQ(ChannelItems(au, 1, 0, 1).front().text, "Auto");
    EXPECT_TRUE(ChannelItems(au, 1, 0, 1)[1].literal);
    // 80 MHz for bandwidths 3, 6 and 7; 20 MHz for 0, 2, 4, 5.
    EXPECT_EQ(ChannelItems(au, 1, 6, 10), ChannelItems(au, 1, 3, 10));
    EXPECT_EQ(ChannelItems(au, 1, 5, 10), ChannelItems(au, 1, 0, 10));
    EXPECT_EQ(Values(ChannelItems(FindCountryRow("US"), 0, 0, 1)).back(), 11);

    const int test = FindCountryRow("Test");
    ASSERT_TRUE(IsTestCountryRow(test));
    const auto testValues = Values(ChannelItems(test, 1, 0, 1));
    for (int ch : {52, 100, 144, 8, 179, 181, 188})
        EXPECT_NE(std::find(testValues.begin(), testValues.end(), ch), testValues.end()) << ch;
    const auto acValues = Values(ChannelItems(test, 1, 0, 10));
    for (int ch : {8, 179, 181, 188})
        EXPECT_EQ(std::find(acValues.begin(), acValues.end(), ch), acValues.end()) << ch;
    EXPECT_NE(std::find(acValues.begin(), acValues.end(), 52), acValues.end());
}

TEST(WirelessSettingsTest, CountryTableRowsAndCodes) {
    const auto rows = CountryTable();
    ASSERT_EQ(rows.size(), 42u);
    EXPECT_STREQ(rows.front().name, "Australia");
    EXPECT_STREQ(rows.back().name, "Test");
    EXPECT_EQ(CountryCodeNumber("Test"), 61);
    EXPECT_EQ(CountryCodeNumber("AUT"), 59);
    EXPECT_EQ(CountryCodeNumber("XX"), 0);
    std::set<int> numbers;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // Every row's code is one the devices know (0 only for China), and every row is
        // reached back from its code number.
        const int n = CountryCodeNumber(rows[i].code);
        EXPECT_TRUE(n != 0 || std::string(rows[i].code) == "CN") << rows[i].code;
        EXPECT_EQ(CountryRowOfCodeNumber(n), static_cast<int>(i)) << rows[i].code;
        numbers.insert(n);
        for (const char* list :
             {rows[i].channels24, rows[i].channels20, rows[i].channels40, rows[i].channels80})
            EXPECT_EQ(std::string(list).rfind("0,", 0), 0u) << rows[i].code;
    }
    EXPECT_EQ(numbers.size(), rows.size());
    const CountryRow& au = rows[static_cast<std::size_t>(FindCountryRow("AU"))];
    EXPECT_STREQ(au.channels24, "0,1,2,3,4,5,6,7,8,9,10,11,12,13");
    EXPECT_STREQ(au.channels20,
                 "0,36,40,44,48,52,56,60,64,100,104,108,112,116,120,124,128,132,136,140,149,153,"
                 "157,161,165");
    EXPECT_STREQ(rows[static_cast<std::size_t>(FindCountryRow("US"))].channels24,
                 "0,1,2,3,4,5,6,7,8,9,10,11");
    const CountryRow& ae = rows[static_cast<std::size_t>(FindCountryRow("United Arab Emirates"))];
    EXPECT_STREQ(ae.channels20, "0,149,153,157,161,165");
    EXPECT_STREQ(ae.channels40, "0,149,153,157,161");
}

TEST(WirelessSettingsTest, KeyRulesRefuseWithTheirMessages) {
    const std::string hex63(63, 'a');
    EXPECT_TRUE(CheckPskKey(hex63 + "g").Failed());  // 64 characters, one of them not hex
    EXPECT_FALSE(CheckPskKey(hex63).Failed());
    EXPECT_TRUE(CheckPskKey(std::string(64, 'x')).Failed());
    EXPECT_FALSE(CheckPskKey(std::string(63, '~')).Failed());
    EXPECT_FALSE(CheckPskKey(std::string(64, 'F')).Failed());
    EXPECT_TRUE(CheckPskKey("1234567").Failed());
    EXPECT_TRUE(CheckPskKey("pässword").Failed());
    EXPECT_EQ(CheckPskKey("short").key,
              "Please enter a key for 8~63 ASCII characters or 8~64 HEX characters!");

    EXPECT_EQ(CheckKeyInterval("59", SettingField::PskInterval).key,
              "The key update interval range: 60~99999 or 0!");
    EXPECT_FALSE(CheckKeyInterval("0", SettingField::PskInterval).Failed());
    EXPECT_FALSE(CheckKeyInterval("60", SettingField::PskInterval).Failed());
    EXPECT_FALSE(CheckKeyInterval("99999", SettingField::PskInterval).Failed());
    EXPECT_TRUE(CheckKeyInterval("100000", SettingField::PskInterval).Failed());
    EXPECT_TRUE(CheckKeyInterval("99999999999999999999999", SettingField::PskInterval).Failed());
    EXPECT_EQ(CheckKeyInterval("", SettingField::RadiusInterval).key,
              "The key update interval should not be empty!");
    EXPECT_EQ(CheckKeyInterval("", SettingField::RadiusInterval).field,
              SettingField::RadiusInterval);

    EXPECT_FALSE(CheckWepKey("0123456789", true, SettingField::WepKey1).Failed());
    EXPECT_FALSE(CheckWepKey("aBcDeF0123456789aBcDeF0123", true, SettingField::WepKey1).Failed());
    EXPECT_EQ(CheckWepKey("012345678g", true, SettingField::WepKey1).key,
              "WEP key is invalid! Please enter 10 or 26 HEX characters!");
    EXPECT_EQ(CheckWepKey("ab de", false, SettingField::WepKey2).key,
              "WEP key includes invalid characters (It should only include 0-9,a-z,A-Z,@,*,- and "
              "_.)!");
    EXPECT_EQ(CheckWepKey("abcd", false, SettingField::WepKey2).key,
              "WEP key is invalid! Please enter 5 or 13 ASCII characters!");
    EXPECT_TRUE(CheckWepKey("abcd", false, SettingField::WepKey2).appCaption);

    EXPECT_EQ(CheckRadius("10.0.0.255", "1812").key, "Please enter a valid RADIUS Server address!");
    EXPECT_EQ(CheckRadius("10.0.0.1", "0").key, "Please specify a valid RADIUS Port!");
    EXPECT_TRUE(CheckRadius("10.0.0.1", "").Failed());
    EXPECT_TRUE(CheckRadius("10.0.0.1", "65536").Failed());
    EXPECT_TRUE(CheckRadius("127.0.0.1", "1812").Failed());
    EXPECT_TRUE(CheckRadius("", "1812").Failed());
    EXPECT_FALSE(CheckRadius("10.0.0.1", "65535").Failed());
}

TEST(WirelessSettingsTest, CollectStopsAtTheFirstRefusalInOrder) {
    const ap_info_stu rec = PatternRecord();
    WirelessForm f = WirelessFormFromRecord(rec);
    f.secureMode = kSecureWpaPsk;
    f.pskKey = "short";
    f.power = "4";  // one below the minimum: power is checked before the key
    WirelessCollect c = CollectWireless(rec, f);
    EXPECT_EQ(c.failure.key, "Power value range:%d-%d");
    EXPECT_EQ(c.failure.args, (std::vector<int>{5, 27}));
    EXPECT_EQ(RuleFailureText(c.failure), "Power value range:5-27");
    f.power = "";
    EXPECT_EQ(CollectWireless(rec, f).failure.field, SettingField::Power);
    for (const char* edge : {"5", "27"}) {
        f.power = edge;
        EXPECT_EQ(CollectWireless(rec, f).failure.field, SettingField::PskKey) << edge;
    }
    f.ssid = "";
    EXPECT_EQ(CollectWireless(rec, f).failure.key, "The ssid can not be empty!");
    ap_info_stu strict = rec;
    strict.ap_type = 4;
    f.ssid = "with space";
    EXPECT_EQ(CollectWireless(strict, f).failure.key,
              "SSID maximum allowed 32 bytes, only support combination of Chinese, lowercase "
              "letters, 0-9 numbers");

    // WEP: a bad key before the missing default key; the default key must be given.
    f = WirelessFormFromRecord(rec);
    f.secureMode = kSecureWep;
    f.wepDefaultKey = 2;
    for (auto& key : f.wepKeys) key.clear();
    f.wepKeys[0] = "abcde";
    c = CollectWireless(rec, f);
    EXPECT_EQ(c.failure.key, "Please enter the WEP key2!");
    EXPECT_EQ(c.failure.field, SettingField::WepKey2);
    f.wepKeys[3] = "abc";
    EXPECT_EQ(CollectWireless(rec, f).failure.field, SettingField::WepKey4);

    // RADIUS: server, then key, then interval.
    f = WirelessFormFromRecord(rec);
    f.secureMode = kSecureWpa;
    f.radiusServer = "10.0.0.9";
    f.radiusPort = "1812";
    f.radiusKey = "";
    f.radiusInterval = "59";
    EXPECT_EQ(CollectWireless(rec, f).failure.key, "Please enter a key for 1~64 ASCII characters!");
    f.radiusKey = std::string(64, 'k');
    EXPECT_EQ(CollectWireless(rec, f).failure.field, SettingField::RadiusInterval);
}
