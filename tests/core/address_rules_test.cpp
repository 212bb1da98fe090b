// The address, mask and device-name rules, and the range walk of the bulk address setting.

#include "rules/address_rules.h"

#include <gtest/gtest.h>

using namespace fd;

TEST(AddressRules, HostAddressesAreRefusedWhenNotUsable) {
    for (const char* bad : {"127.0.0.1", "0.1.2.3", "224.0.0.1", "255.1.1.1", "10.0.0.0",
                            "10.0.0.255", "300.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.x", "1..2.3",
                            " 1.2.3.4", "1.2.3.4 ", "01234.1.1.1", "-1.2.3.4", "1.2.3.4."}) {
        EXPECT_FALSE(IsValidIpAddress(bad, true)) << bad;
    }
    for (const char* good : {"10.0.0.1", "192.168.1.254", "223.255.255.254", "1.0.0.1"})
        EXPECT_TRUE(IsValidIpAddress(good, false)) << good;
    // Empty and 0.0.0.0 stand for "not given": fine only where the field is optional.
    EXPECT_TRUE(IsValidIpAddress("", true));
    EXPECT_TRUE(IsValidIpAddress("0.0.0.0", true));
    EXPECT_FALSE(IsValidIpAddress("", false));
    EXPECT_FALSE(IsValidIpAddress("0.0.0.0", false));
}

TEST(AddressRules, MasksNeedFourOctetsButNotContiguousBits) {
    EXPECT_TRUE(IsValidSubnetMask("255.255.255.0"));
    EXPECT_TRUE(IsValidSubnetMask("255.0.255.0"));
    EXPECT_FALSE(IsValidSubnetMask("255.255.255.255"));
    EXPECT_FALSE(IsValidSubnetMask("0.0.0.0"));
    EXPECT_FALSE(IsValidSubnetMask("255.255.0"));
    EXPECT_FALSE(IsValidSubnetMask(""));
    EXPECT_FALSE(IsValidSubnetMask("255.255.256.0"));
}

TEST(AddressRules, SameSubnetComparesUnderTheMask) {
    EXPECT_TRUE(IsSameSubnet("192.168.1.10", "192.168.1.1", "255.255.255.0"));
    EXPECT_FALSE(IsSameSubnet("192.168.2.10", "192.168.1.1", "255.255.255.0"));
    EXPECT_TRUE(IsSameSubnet("192.168.2.10", "192.168.1.1", "255.255.0.0"));
    // Non-contiguous masks compare exactly the bits they hold.
    EXPECT_TRUE(IsSameSubnet("10.1.20.1", "10.2.20.9", "255.0.255.0"));
    EXPECT_FALSE(IsSameSubnet("10.1.20.1", "10.2.21.9", "255.0.255.0"));
    // An empty text is 0.0.0.0.
    EXPECT_TRUE(IsSameSubnet("", "0.0.0.0", "255.255.255.0"));
}

TEST(AddressRules, OneDeviceChecksStopAtTheFirstFailureInOrder) {
    AddressForm f{"192.168.1.10", "255.255.255.0", "192.168.1.1", "8.8.8.8", "", ""};
    EXPECT_EQ(CheckDeviceAddress(f).key, "");
    f.gateway = "";
    EXPECT_EQ(CheckDeviceAddress(f).key, "");  // no gateway: no subnet check
    f.gateway = "0.0.0.0";
    EXPECT_EQ(CheckDeviceAddress(f).key, "");

    auto with = [&](auto change) {
        AddressForm g = f;
        change(g);
        return CheckDeviceAddress(g).key;
    };
    EXPECT_EQ(with([](AddressForm& g) { g.ip = "10.0.0.255", g.mask = "0.0.0.0"; }),
              "The ip address is invalid!");
    EXPECT_EQ(with([](AddressForm& g) { g.mask = "255.255.255.255"; }),
              "The subnet mask is invalid!");
    EXPECT_EQ(with([](AddressForm& g) { g.gateway = "127.0.0.1"; }),
              "The gateway address is invalid!");
    EXPECT_EQ(with([](AddressForm& g) { g.gateway = g.ip; }),
              "The ip address and gateway address cannot be the same!");
    EXPECT_EQ(with([](AddressForm& g) { g.gateway = "192.168.2.1"; }),
              "Ip address and gateway address is not in the same subnet!");
    EXPECT_EQ(with([](AddressForm& g) { g.dns1 = "1.1.1.0"; }),
              "The primary DNS Server is invalid!");
    EXPECT_EQ(with([](AddressForm& g) { g.dns2 = "224.1.1.1"; }),
              "The secondary DNS Server is invalid!");
}

TEST(AddressRules, RangeChecksLookAtTheEndOnlyForSeveralDevices) {
    AddressForm f{"192.168.1.10", "255.255.255.0", "192.168.1.1", "", "", "192.168.1.10"};
    // Begin equal to end: one device ignores the end, several are refused.
    EXPECT_EQ(CheckRangeAddress(f, 1).key, "");
    EXPECT_EQ(CheckRangeAddress(f, 2).key, "The ip address is invalid!");
    f.end = "192.168.1.9";
    EXPECT_EQ(CheckRangeAddress(f, 2).key, "The ip address is invalid!");
    f.end = "192.168.1.20";
    EXPECT_EQ(CheckRangeAddress(f, 2).key, "");
    f.end = "192.168.2.20";
    EXPECT_EQ(CheckRangeAddress(f, 2).key, "Ip address and gateway address is not in the same subnet!");
    EXPECT_EQ(CheckRangeAddress(f, 1).key, "");
    f.end = f.gateway = "192.168.1.50";
    EXPECT_EQ(CheckRangeAddress(f, 2).key, "The ip address and gateway address cannot be the same!");
}

TEST(AddressRules, RangeWalkSkipsNetworkAndBroadcastOctets) {
    EXPECT_EQ(
        WalkIpRange("192.168.1.254", "192.168.2.3", 10),
        (std::vector<std::string>{"192.168.1.254", "192.168.2.1", "192.168.2.2", "192.168.2.3"}));
    // Fewer devices than addresses: the walk stops at the device count.
    EXPECT_EQ(WalkIpRange("10.0.0.1", "10.0.0.100", 2),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_TRUE(WalkIpRange("10.0.0.9", "10.0.0.1", 5).empty());
    EXPECT_TRUE(WalkIpRange("10.0.0.1", "bad", 5).empty());
    // The very top of the address space does not wrap around.
    EXPECT_EQ(WalkIpRange("255.255.255.253", "255.255.255.255", 5),
              (std::vector<std::string>{"255.255.255.253", "255.255.255.254"}));
}

TEST(DeviceNameRules, ChineseCharactersAndTheirPunctuation) {
    EXPECT_TRUE(IsChineseChar(0x4E00));
    EXPECT_TRUE(IsChineseChar(0x9FA5));
    EXPECT_FALSE(IsChineseChar(0x9FA6));
    EXPECT_FALSE(IsChineseChar(0x4DFF));
    EXPECT_TRUE(IsChineseChar(0x3008));
    EXPECT_TRUE(IsChineseChar(0x3011));
    EXPECT_FALSE(IsChineseChar(0x3012));
    EXPECT_TRUE(IsChineseChar(0xFFE5));
    EXPECT_TRUE(IsChineseChar(0x00B7));
    EXPECT_FALSE(IsChineseChar(0xFF02));
}

TEST(DeviceNameRules, Utf8CountIsPerUtf16Unit) {
    EXPECT_EQ(Utf8ByteCount(std::u16string_view(u"ab")), 2u);
    EXPECT_EQ(Utf8ByteCount(std::u16string_view(u"\u00e9")), 2u);
    EXPECT_EQ(Utf8ByteCount(std::u16string_view(u"\u4e2d")), 3u);
    EXPECT_EQ(Utf8ByteCount(std::u16string_view(u"\U0001F600")), 6u);  // surrogate pair
    EXPECT_EQ(Utf8ByteCount(std::string_view("\xF0\x9F\x98\x80")), 6u);
    EXPECT_EQ(Utf8ByteCount(std::string_view("\xE4\xB8")), std::nullopt);  // cut short
    EXPECT_EQ(Utf8ByteCount(std::string_view("\xC0\x80")), std::nullopt);  // overlong NUL
}

TEST(DeviceNameRules, LengthLimitIs32Utf8Bytes) {
    std::string ten, eleven;
    for (int i = 0; i < 10; ++i) ten += "\xE4\xB8\xAD";  // U+4E2D
    eleven = ten + "\xE4\xB8\xAD";
    for (int type : {1, 4}) {
        EXPECT_TRUE(IsValidDeviceName(ten, type)) << type;
        EXPECT_FALSE(IsValidDeviceName(eleven, type)) << type;
        EXPECT_TRUE(IsValidDeviceName(std::string(32, 'a'), type));
        EXPECT_FALSE(IsValidDeviceName(std::string(33, 'a'), type));
        EXPECT_FALSE(IsValidDeviceName("", type));
    }
}

TEST(DeviceNameRules, StrictModelsRefuseSpacesAndOtherMarks) {
    for (int strict : {4, 261}) {
        EXPECT_TRUE(IsValidDeviceName("Tower-3_(east)", strict));
        EXPECT_TRUE(IsValidDeviceName("a!#$%&()*+-./<=>?@^_~", strict));
        EXPECT_FALSE(IsValidDeviceName("Tower 3", strict));
        for (const char* bad : {"a,b", "a:b", "a;b", "a'b", "a\"b", "a[b", "a|b", "a`b"})
            EXPECT_FALSE(IsValidDeviceName(bad, strict)) << bad;
        EXPECT_TRUE(IsValidDeviceName("\xE5\xA1\x94\xE6\x9E\xB6", strict));  // 塔架
        EXPECT_NE(std::string(DeviceNameRuleMessage(strict)).find("lowercase letters"),
                  std::string::npos);
    }
    for (int plain : {1, 5, 260, 262}) {
        EXPECT_TRUE(IsValidDeviceName("Tower 3, roof", plain));
        EXPECT_TRUE(IsValidDeviceName("tab\there", plain));
        EXPECT_FALSE(IsValidDeviceName("caf\xC3\xA9", plain));       // é is neither ASCII nor CJK
        EXPECT_FALSE(IsValidDeviceName("\xF0\x9F\x98\x80", plain));  // emoji
        EXPECT_FALSE(IsValidDeviceName("bad\xFF", plain));           // not UTF-8
        EXPECT_NE(std::string(DeviceNameRuleMessage(plain)).find("ASCII characters"),
                  std::string::npos);
    }
}
