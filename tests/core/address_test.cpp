#include "wire/address.h"

#include <gtest/gtest.h>

#include "wire/utf8.h"

namespace {

using fd::IpBytes;
using fd::MacBytes;

TEST(Address, TextBytesAndNumberRoundTrip) {
    for (const char* text : {"0.0.0.0", "1.2.3.4", "198.18.0.255", "255.255.255.255"}) {
        uint8_t ip[4];
        ASSERT_TRUE(fd::IpFromText(text, ip)) << text;
        EXPECT_EQ(fd::IpToText(ip), text);
        const uint32_t value = fd::IpToValue(ip);
        EXPECT_EQ(fd::ParseIpv4(text), value) << text;
        EXPECT_EQ(fd::Ipv4ToText(value), text);
        uint8_t back[4];
        fd::IpFromValue(value, back);
        EXPECT_EQ(fd::IpToText(back), text);
        EXPECT_EQ(fd::ScanIpLenient(fd::IpToText(ip)), (IpBytes{ip[0], ip[1], ip[2], ip[3]}));
    }
    const uint8_t mac[6] = {0, 0xAB, 0x0c, 0xff, 0x10, 0x01};
    EXPECT_EQ(fd::MacToText(mac), "00:ab:0c:ff:10:01");
    uint8_t parsed[6] = {};
    ASSERT_TRUE(fd::MacFromText("00:AB:0c:FF:10:01", parsed));
    EXPECT_EQ(fd::MacToText(parsed), "00:ab:0c:ff:10:01");
    EXPECT_EQ(fd::ScanMacLenient(fd::MacToText(mac)), (MacBytes{0, 0xAB, 0x0c, 0xff, 0x10, 0x01}));
}

// One byte order for the number form: the first octet is the highest byte, so numbers
// compare in address order and a mask cuts off the host part.
TEST(Address, NumberFormHasTheFirstOctetHighest) {
    const uint8_t ip[4] = {192, 168, 1, 10};
    EXPECT_EQ(fd::IpToValue(ip), 0xC0A8010Au);
    EXPECT_EQ(fd::ParseIpv4("192.168.1.10"), 0xC0A8010Au);
    EXPECT_LT(*fd::ParseIpv4("192.168.0.20"), *fd::ParseIpv4("192.168.1.10"));
    EXPECT_EQ(fd::Ipv4ToText(*fd::ParseIpv4("10.1.2.3") | ~*fd::ParseIpv4("255.255.0.0")),
              "10.1.255.255");
}

TEST(Address, StrictReadingRefusesEverythingButTheExactForm) {
    uint8_t ip[4] = {9, 9, 9, 9};
    for (const char* bad : {"", "1.2.3", "256.1.1.1", "1.2.3.4.", "a.b.c.d", "1..2.3", " 1.2.3.4",
                            "1.2.3.4 ", "0001.2.3.4", "-1.2.3.4"}) {
        EXPECT_FALSE(fd::ParseIpv4(bad)) << bad;
        EXPECT_FALSE(fd::IpFromText(bad, ip)) << bad;
        EXPECT_EQ(fd::IpToText(ip), "0.0.0.0") << bad;
    }
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    for (const char* bad : {"", "aa:bb", "aa:bb:cc:dd:ee:fg", "aa-bb-cc-dd-ee-ff",
                            "aa:bb:cc:dd:ee:ff0", "1:2:3:4:5:6"})
        EXPECT_FALSE(fd::MacFromText(bad, mac)) << bad;
    EXPECT_EQ(fd::MacToText(mac), "01:02:03:04:05:06");  // untouched by a failed read
}

TEST(Address, LenientReadingActsLikeScanf) {
    EXPECT_EQ(fd::ScanIpLenient("300.1.1.1"), (IpBytes{44, 1, 1, 1}));
    EXPECT_EQ(fd::ScanIpLenient(""), (IpBytes{}));
    EXPECT_EQ(fd::ScanIpLenient("10.1"), (IpBytes{10, 1, 0, 0}));  // stops where reading fails
    EXPECT_EQ(fd::ScanIpLenient("10.x.3.4"), (IpBytes{10, 0, 0, 0}));
    EXPECT_EQ(fd::ScanIpLenient(" 1. 2. 3. 4"), (IpBytes{1, 2, 3, 4}));  // %d skips blanks
    EXPECT_EQ(fd::ScanIpLenient("-1.+2.3.4junk"), (IpBytes{255, 2, 3, 4}));
    // 2^32 + 5, 10^20 (a multiple of 256) and 2^32 * 1000 + 257 keep their low 8 bits.
    EXPECT_EQ(fd::ScanIpLenient("4294967301.0.0.0")[0], 5);
    EXPECT_EQ(fd::ScanIpLenient("100000000000000000000.0.0.0")[0], 0);
    EXPECT_EQ(fd::ScanIpLenient("4294967296257.0.0.0")[0], 1);

    EXPECT_EQ(fd::ScanMacLenient("1:2:3:4:5:6"), (MacBytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(fd::ScanMacLenient("aa-bb-cc-dd-ee-ff"), (MacBytes{0xaa, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fd::ScanMacLenient("abc:de"), (MacBytes{0xab, 0, 0, 0, 0, 0}));  // two digits
    EXPECT_EQ(fd::ScanMacLenient("zz:11"), (MacBytes{}));
}

TEST(Address, SubnetNeedsAllThreeAddressesSet) {
    EXPECT_TRUE(fd::InSameSubnet("198.18.1.1", "198.18.200.7", "255.254.0.0"));
    EXPECT_FALSE(fd::InSameSubnet("198.18.1.1", "198.20.0.7", "255.254.0.0"));
    // An unset or unreadable address or mask matches nothing, not everything.
    EXPECT_FALSE(fd::InSameSubnet("198.18.1.1", "198.18.1.2", "0.0.0.0"));
    EXPECT_FALSE(fd::InSameSubnet("", "0.0.0.0", "255.255.255.0"));
    EXPECT_FALSE(fd::InSameSubnet("198.18.1.1", "198.18.1.x", "255.255.255.0"));
}

TEST(Utf8, PrefixNeverEndsInsideACharacterAndRepairMarksBadBytes) {
    const std::string cjk = "\xe5\xb1\x8b\xe5\xb1\x8b";  // two three-byte characters
    EXPECT_EQ(fd::Utf8Prefix(cjk, 5), "\xe5\xb1\x8b");
    EXPECT_EQ(fd::Utf8Prefix(cjk, 6), cjk);
    EXPECT_EQ(fd::Utf8Prefix(cjk, 2), "");
    EXPECT_EQ(fd::Utf8Prefix("ab\xf0\x9f\x98\x80", 5), "ab");

    EXPECT_EQ(fd::RepairUtf8("a\xff"
                             "b\xe5\xb1"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(fd::RepairUtf8("a\tb", fd::BadBytes::Replace, [](char32_t c) { return c < 0x20; }),
              "a\xEF\xBF\xBD"
              "b");
}

}  // namespace
