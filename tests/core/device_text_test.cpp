#include "wire/device_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using fd::DeviceTextToLocal;

namespace {

// A strict UTF-8 check written independently of the code under test (by code points).
bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int n;
        uint32_t cp;
        if (c < 0x80) {
            n = 0;
            cp = c;
        } else if ((c >> 5) == 6) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c >> 4) == 14) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c >> 3) == 30) {
            n = 3;
            cp = c & 0x07;
        } else
            return false;
        if (i + static_cast<std::size_t>(n) >= s.size() && n > 0) return false;
        for (int k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 2) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(n) + 1;
    }
    return true;
}

TEST(DeviceTextTest, AsciiAndValidUtf8AreKept) {
    EXPECT_EQ(DeviceTextToLocal(""), "");
    EXPECT_EQ(DeviceTextToLocal("Roof-CPE 7"), "Roof-CPE 7");
    EXPECT_EQ(DeviceTextToLocal("\x01\x7f"), "\x01\x7f");
    EXPECT_EQ(DeviceTextToLocal("屋顶-AP"), "屋顶-AP");
    EXPECT_EQ(DeviceTextToLocal("café 😀"), "café 😀");
    EXPECT_EQ(DeviceTextToLocal("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF");  // U+10FFFF
}

TEST(DeviceTextTest, NulEndsTheText) {
    EXPECT_EQ(DeviceTextToLocal(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(DeviceTextToLocal(std::string_view("屋\0\xff", 5)), "屋");
    EXPECT_EQ(DeviceTextToLocal(std::string_view("\0abc", 4)), "");
}

TEST(DeviceTextTest, CharacterCutShortAtTheEndIsDropped) {
    const std::string roof = "屋顶";  // two 3-byte characters
    EXPECT_EQ(DeviceTextToLocal(roof.substr(0, 5)), "屋");
    EXPECT_EQ(DeviceTextToLocal(roof.substr(0, 4)), "屋");
    EXPECT_EQ(DeviceTextToLocal("ab\xF0\x9F\x98"), "ab");  // 3 of 4 bytes
    EXPECT_EQ(DeviceTextToLocal("ab\xC3"), "ab");          // 1 of 2 bytes
    // A 32-byte field holding 10 CJK characters and 2 bytes of the 11th.
    std::string field;
    for (int i = 0; i < 11; ++i) field += "顶";
    EXPECT_EQ(DeviceTextToLocal(field.substr(0, 32)), field.substr(0, 30));
}

TEST(DeviceTextTest, InvalidBytesAreDroppedNotStored) {
    EXPECT_EQ(DeviceTextToLocal("a\xFF"
                                "b"),
              "ab");
    EXPECT_EQ(DeviceTextToLocal("a\x80\xBF"
                                "b"),
              "ab");  // stray continuation bytes
    EXPECT_EQ(DeviceTextToLocal("\xC0\xAF"
                                "x"),
              "x");  // overlong '/'
    EXPECT_EQ(DeviceTextToLocal("\xE0\x80\xAF"
                                "x"),
              "x");  // overlong, 3 bytes
    EXPECT_EQ(DeviceTextToLocal("\xED\xA0\x80"
                                "x"),
              "x");  // UTF-16 surrogate
    EXPECT_EQ(DeviceTextToLocal("\xF4\x90\x80\x80"
                                "x"),
              "x");  // above U+10FFFF
    EXPECT_EQ(DeviceTextToLocal("\xF5\x80\x80\x80"
                                "x"),
              "x");
    // A lead byte interrupted by ASCII: the ASCII survives.
    EXPECT_EQ(DeviceTextToLocal("\xE5"
                                "A"
                                "\xB1\x8B"),
              "A");
    // Latin-1 text from a device that ignored the encoding.
    EXPECT_EQ(DeviceTextToLocal("Caf\xE9 Ost"), "Caf Ost");
}

TEST(DeviceTextTest, RandomBytesAlwaysGiveValidShorterText) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 20000; ++round) {
        std::string in(rng() % 40, '\0');
        for (char& c : in) c = static_cast<char>(rng() % 4 == 0 ? rng() % 128 : 128 + rng() % 128);
        const std::string out = DeviceTextToLocal(in);
        ASSERT_TRUE(IsValidUtf8(out)) << round;
        ASSERT_LE(out.size(), in.size());
        ASSERT_EQ(out.find('\0'), std::string::npos);
        // Repairing a repaired text changes nothing.
        ASSERT_EQ(DeviceTextToLocal(out), out);
    }
}

TEST(DeviceTextTest, FieldConversionInPlace) {
    uint8_t field[32];
    std::memset(field, 'x', sizeof field);
    const std::string name = "屋顶";
    std::memcpy(field, name.data(), 5);  // cut-short second character
    uint8_t len = 5;
    fd::ConvertDeviceTextField(field, sizeof field, len, true);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 3), "屋");
    for (std::size_t i = 3; i < sizeof field; ++i) ASSERT_EQ(field[i], 0) << i;

    // A length byte beyond the field is never followed past the field, and is kept as
    // received when asked to.
    std::memset(field, 'a', sizeof field);
    len = 200;
    fd::ConvertDeviceTextField(field, sizeof field, len, false);
    EXPECT_EQ(len, 200);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 32), std::string(32, 'a'));
}

}  // namespace
