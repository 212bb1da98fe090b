#include "config/labels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "config/language.h"
#include "support/temp_dir.h"

namespace {

using fd::test::TempDir;

// Labels in a language whose texts differ from the keys, so a label that skips the lookup
// (or looks up a wrong key) shows.
class LabelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        s_dir->Write("Languages/Test.lng",
                     "[ProgramOutStr]\n"
                     "Outline=L-Outline\nOnline=L-Online\nUpgrade fail=L-Upgrade fail\n"
                     "AP=L-AP\nRouter=L-Router\nDisable=L-Disable\nWPA2=L-WPA2\n"
                     "Auto=L-Auto\nOn2=L-On\nOff2=L-Off\n"
                     // Must never be used: model names and N/A are not translated.
                     "N/A=L-NA\nFDX-C101=L-model\n");
        ::setenv("LANG", "C", 1);
        fd::InitLanguage(s_dir->Dir());
        fd::SetLanguage("Test");
    }
    static void TearDownTestSuite() {
        fd::SetLanguage("English");
        delete s_dir;
    }
    static TempDir* s_dir;
};
TempDir* LabelsTest::s_dir = nullptr;

TEST_F(LabelsTest, CodeTablesGoThroughTheLookupAndStopAtTheirEnds) {
    EXPECT_EQ(fd::GetStatusLabel(0), "L-Outline");
    EXPECT_EQ(fd::GetStatusLabel(1), "L-Online");
    EXPECT_EQ(fd::GetStatusLabel(5), "Reseting");  // untranslated: the key itself
    EXPECT_EQ(fd::GetStatusLabel(9), "L-Upgrade fail");
    EXPECT_EQ(fd::GetStatusLabel(10), "");  // discovered-only marker has no label
    EXPECT_EQ(fd::GetStatusLabel(-1), "");

    EXPECT_EQ(fd::GetWorkModeLabel(0), "");
    EXPECT_EQ(fd::GetWorkModeLabel(1), "L-AP");
    EXPECT_EQ(fd::GetWorkModeLabel(3), "Universal Repeater");
    EXPECT_EQ(fd::GetWorkModeLabel(7), "L-Router");
    EXPECT_EQ(fd::GetWorkModeLabel(8), "");

    EXPECT_EQ(fd::GetSecurityLabel(0), "L-Disable");
    EXPECT_EQ(fd::GetSecurityLabel(4), "WPAWPA2_PSK");
    EXPECT_EQ(fd::GetSecurityLabel(6), "L-WPA2");
    EXPECT_EQ(fd::GetSecurityLabel(7), "");
    EXPECT_EQ(fd::GetSecurityLabel(-1), "");
}

TEST_F(LabelsTest, Channel) {
    EXPECT_EQ(fd::GetChannelLabel(0), "L-Auto");
    EXPECT_EQ(fd::GetChannelLabel(149), "149");
    EXPECT_EQ(fd::GetChannelLabel(-3), "-3");
}

TEST_F(LabelsTest, TransparentBridgeByModelAndWorkMode) {
    EXPECT_EQ(fd::GetTransparentBridgeLabel(4, 1, 1), "N/A");
    EXPECT_EQ(fd::GetTransparentBridgeLabel(261, 2, 1), "N/A");
    EXPECT_EQ(fd::GetTransparentBridgeLabel(1, 2, 1), "L-On");
    EXPECT_EQ(fd::GetTransparentBridgeLabel(1, 2, 0), "L-Off");
    EXPECT_EQ(fd::GetTransparentBridgeLabel(1, 1, 7), "L-On");  // any non-zero flag
    EXPECT_EQ(fd::GetTransparentBridgeLabel(1, 3, 0), "L-Off");
    for (int mode = 4; mode <= 7; ++mode) {
        EXPECT_EQ(fd::GetTransparentBridgeLabel(1, mode, 1), "N/A") << mode;
    }
    EXPECT_EQ(fd::GetTransparentBridgeLabel(1, 8, 1), "L-On");
}

TEST_F(LabelsTest, AirSlotOnlyOnItsModels) {
    const std::set<int> withAirSlot = {6, 8, 9, 10, 11, 265, 266, 267};
    for (int code = -1; code <= 300; ++code) {
        if (withAirSlot.count(code)) {
            EXPECT_EQ(fd::GetAirSlotLabel(code, 1), "L-On") << code;
            EXPECT_EQ(fd::GetAirSlotLabel(code, 0), "L-Off") << code;
        } else {
            ASSERT_EQ(fd::GetAirSlotLabel(code, 1), "N/A") << code;
        }
    }
}

TEST_F(LabelsTest, ModelNames) {
    std::set<std::string> names;
    std::vector<int> codes;
    for (int c = 1; c <= 11; ++c) codes.push_back(c);
    for (int c = 257; c <= 267; ++c) codes.push_back(c);
    for (int code : codes) {
        const std::string name = fd::GetModelLabel(code);
        EXPECT_FALSE(name.empty());
        EXPECT_LE(name.size(), 32u);  // fits the ap_type_str column
        names.insert(name);
        EXPECT_EQ(fd::GetModelCode(name), code) << name;
    }
    EXPECT_EQ(names.size(), 22u);
    const std::string first = fd::GetModelLabel(1);
    EXPECT_EQ(fd::GetModelLabel(0), first);
    EXPECT_EQ(fd::GetModelLabel(12), first);
    EXPECT_EQ(fd::GetModelLabel(256), first);
    EXPECT_EQ(fd::GetModelLabel(300), first);
    EXPECT_EQ(fd::GetModelLabel(-1), first);
    EXPECT_EQ(fd::GetModelCode("no such model"), 1);
    EXPECT_EQ(fd::GetModelCode(""), 1);
    // Exact comparison: other letter case or blanks are other names.
    std::string lower = fd::GetModelLabel(259);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(fd::GetModelCode(lower), 1);
    EXPECT_EQ(fd::GetModelCode(fd::GetModelLabel(259) + " "), 1);
}

TEST(UptimeTextTest, DaysOnlyWhenThereAreAny) {
    EXPECT_EQ(fd::GetUptimeText(0), "0:0:0");
    EXPECT_EQ(fd::GetUptimeText(59), "0:0:59");
    EXPECT_EQ(fd::GetUptimeText(3661), "1:1:1");
    EXPECT_EQ(fd::GetUptimeText(86399), "23:59:59");
    EXPECT_EQ(fd::GetUptimeText(86400), "1 0:0:0");
    EXPECT_EQ(fd::GetUptimeText(90061), "1 1:1:1");
    EXPECT_EQ(fd::GetUptimeText(4294967295u), "49710 6:28:15");
}

}  // namespace
