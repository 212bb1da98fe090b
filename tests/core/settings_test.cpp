#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "fielddesk_version.h"
#include "support/temp_dir.h"
#include "system/system_info.h"

namespace {

using fd::MakeColour;
using fd::test::TempDir;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        fd::ClearProfileCache();
    }
    fd::AppSettings LoadWith(const std::string& ini, uint32_t locale = 1033) {
        m_dir.Write("Setting.ini", ini);
        return fd::LoadSettings(m_dir.Dir(), locale);
    }
    TempDir m_dir;
};

void ExpectDefaults(const fd::AppSettings& s) {
    EXPECT_EQ(s.childBkColor, MakeColour(255, 255, 255));
    EXPECT_EQ(s.fontName, "Arial");
    EXPECT_EQ(s.buttonMenuFontWeight, 0);
    EXPECT_EQ(s.buttonMenuFontHeight, 15);
    EXPECT_EQ(s.buttonMenuFontColor, 0u);
    EXPECT_EQ(s.buttonFontWeight, 0);
    EXPECT_EQ(s.buttonFontHeight, 15);
    EXPECT_EQ(s.buttonFontColor, 0u);
    EXPECT_EQ(s.staticFontWeight, 0);
    EXPECT_EQ(s.staticFontHeight, 15);
    EXPECT_EQ(s.staticFontTextColor, 0u);
    EXPECT_EQ(s.staticFontBkColor, MakeColour(255, 255, 255));
    EXPECT_EQ(s.textDownColor, MakeColour(216, 34, 40));
    EXPECT_EQ(s.lineColor, MakeColour(215, 215, 215));
    EXPECT_EQ(s.expertTextColor, MakeColour(255, 0, 0));
    EXPECT_EQ(s.staticTextNumberColor, MakeColour(142, 142, 142));
    EXPECT_EQ(s.gridTitleFontWeight, 700);
    EXPECT_EQ(s.gridTitleFontHeight, 15);
    EXPECT_EQ(s.gridFontWeight, 0);
    EXPECT_EQ(s.gridFontHeight, 15);
    EXPECT_EQ(s.gridTextColor, 0u);                             // header text black ...
    EXPECT_EQ(s.gridTitleBkColor, MakeColour(221, 217, 196));   // ... on this background
    EXPECT_EQ(s.gridTitleTextColor, MakeColour(237, 112, 32));  // cell text of stored devices
    EXPECT_EQ(s.textUnlineColor, MakeColour(142, 142, 142));
    EXPECT_EQ(s.textOnlineColor, MakeColour(0, 153, 0));
    EXPECT_EQ(s.retransmissionMax, 3);
    EXPECT_EQ(s.retransmissionInterval, 2000);
}

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
    const fd::AppSettings s = fd::LoadSettings(m_dir.Dir(), 1033);
    ExpectDefaults(s);
    EXPECT_EQ(s.gridTitleFont.height, 15);
    EXPECT_EQ(s.gridTitleFont.weight, 700);
    EXPECT_EQ(s.gridTitleFont.face, "Arial");
    EXPECT_EQ(s.gridFont.weight, 0);
}

TEST_F(SettingsTest, ShippedFileMatchesTheDefaults) {
    const char* src = std::getenv("FD_SOURCE_DIR");
    if (!src) GTEST_SKIP() << "FD_SOURCE_DIR not set (run through ctest)";
    ExpectDefaults(fd::LoadSettings(std::string(src) + "/resources/", 1033));
}

TEST_F(SettingsTest, MalformedColoursAreBlackNotTheDefault) {
    const fd::AppSettings s = LoadWith(
        "[Color]\n"
        "ChildBkColor=10,20\n"            // two parts
        "StaticFontBkColor=10,20,256\n"   // above 255
        "TextDownColor=1, 2,  3\n"        // blanks after commas are fine
        "LineColor=1,2,3,4\n"             // four parts
        "ExpertTextColor=\n"              // present but empty
        "StaticTextNumberColor=-1,0,0\n"  // below 0
        "GridTitleBkColor=9x,8y,7z\n"     // leading digits count
        "TextOnlineColor=a,b,c\n"         // no digits: 0,0,0 is a valid colour
        "GridTitleTextColor=99999999999999999999,0,0\n");
    EXPECT_EQ(s.childBkColor, 0u);
    EXPECT_EQ(s.staticFontBkColor, 0u);
    EXPECT_EQ(s.textDownColor, MakeColour(1, 2, 3));
    EXPECT_EQ(s.lineColor, 0u);
    EXPECT_EQ(s.expertTextColor, 0u);
    EXPECT_EQ(s.staticTextNumberColor, 0u);
    EXPECT_EQ(s.gridTitleBkColor, MakeColour(9, 8, 7));
    EXPECT_EQ(s.textOnlineColor, 0u);
    EXPECT_EQ(s.gridTitleTextColor, 0u);
    EXPECT_EQ(s.textUnlineColor, MakeColour(142, 142, 142));  // missing key: default
}

TEST(ParseColourTest, FailureLeavesTheTargetAlone) {
    fd::Colour c = 0x123456;
    EXPECT_FALSE(fd::ParseColour("1,2", c));
    EXPECT_FALSE(fd::ParseColour("1,2,3,", c));
    EXPECT_FALSE(fd::ParseColour("", c));
    EXPECT_EQ(c, 0x123456u);
    EXPECT_TRUE(fd::ParseColour("255,0,128", c));
    EXPECT_EQ(c, 255u + 128u * 65536u);
    EXPECT_EQ(fd::ColourRed(c), 255);
    EXPECT_EQ(fd::ColourGreen(c), 0);
    EXPECT_EQ(fd::ColourBlue(c), 128);
    EXPECT_TRUE(fd::ParseColour(",,", c));
    EXPECT_EQ(c, 0u);
}

TEST_F(SettingsTest, IntegersAreReadByTheirLeadingDigits) {
    const fd::AppSettings s = LoadWith(
        "[Setting]\nretransmission_interval=abc\nretransmission_max=5 times\n"
        "[Font]\nGridFontWeight= 400\nGridTitleFontHeight=-12\nButtonFontHeight=\n"
        "StaticFontHeight=99999999999999\n");
    EXPECT_EQ(s.retransmissionInterval, 0);
    EXPECT_EQ(s.retransmissionMax, 5);
    // What the engine is started with: an unreadable interval cannot make it resend in a
    // tight loop, nor a huge count keep a command going for good.
    fd::Retransmission r = fd::RetransmissionOf(s);
    EXPECT_EQ(r.intervalMs, fd::kMinRetransmissionIntervalMs);
    EXPECT_EQ(r.max, 5);
    fd::AppSettings wild = s;
    wild.retransmissionMax = -4;
    wild.retransmissionInterval = 1 << 30;
    r = fd::RetransmissionOf(wild);
    EXPECT_EQ(r.max, 0);
    EXPECT_EQ(r.intervalMs, fd::kMaxRetransmissionIntervalMs);
    wild.retransmissionMax = 1000;
    EXPECT_EQ(fd::RetransmissionOf(wild).max, fd::kMaxRetransmissions);
    EXPECT_EQ(s.gridFontWeight, 400);
    EXPECT_EQ(s.gridFont.weight, 400);
    EXPECT_EQ(s.gridTitleFontHeight, -12);
    EXPECT_EQ(s.buttonFontHeight, 0);
    EXPECT_EQ(s.staticFontHeight, 2147483647);  // saturates instead of overflowing
}

TEST_F(SettingsTest, TextValuesCountOnly127Characters) {
    const std::string longName(300, 'F');
    const fd::AppSettings s = LoadWith("[font]\nfontname=" + longName + "\n");
    EXPECT_EQ(s.fontName, std::string(127, 'F'));
    EXPECT_EQ(s.gridFont.face, s.fontName);
    EXPECT_EQ(s.gridTitleFont.face, s.fontName);
}

TEST_F(SettingsTest, VersionInBothForms) {
    const fd::AppSettings s = fd::LoadSettings(m_dir.Dir(), 1033);
    EXPECT_EQ(s.versionText, FIELDDESK_VERSION);
    EXPECT_EQ(s.versionTextV, std::string("V") + FIELDDESK_VERSION);
    EXPECT_FALSE(s.versionText.empty());
}

TEST_F(SettingsTest, SkinPathsAndTheLanguageDependentImages) {
    const fd::AppSettings zh = fd::LoadSettings(m_dir.Dir(), 2052);
    const std::string skin = m_dir.Dir() + "Skin/";
    EXPECT_EQ(zh.skin.mainBk, skin + "main_bk.jpg");
    EXPECT_EQ(zh.skin.menuAdManagementDown, skin + "bt_menu_admanagment_down.bmp");
    EXPECT_EQ(zh.skin.signalStrength[0], skin + "singal_strength0.bmp");
    EXPECT_EQ(zh.skin.signalStrength[5], skin + "singal_strength5.bmp");
    EXPECT_EQ(zh.skin.web, skin + "web_chinese.bmp");
    EXPECT_EQ(zh.skin.bridge, skin + "bridge_chinese.bmp");
    EXPECT_EQ(zh.skin.installHelp, skin + "help_chinese.jpg");
    for (uint32_t other : {1033u, 1028u, 3076u, 4100u}) {
        const fd::AppSettings s = fd::LoadSettings(m_dir.Dir(), other);
        EXPECT_EQ(s.skin.web, skin + "web_other.bmp") << other;
        EXPECT_EQ(s.skin.bridge, skin + "bridge_other.bmp") << other;
        EXPECT_EQ(s.skin.installHelp, skin + "help_other.jpg") << other;
    }
    // A base directory given without its trailing separator still gives the same paths.
    std::string noSlash = m_dir.Dir();
    noSlash.pop_back();
    EXPECT_EQ(fd::LoadSettings(noSlash, 2052).skin.mainBk, zh.skin.mainBk);
}

// An installed program reads three files, key by key: the user's own, the administrator's,
// then the defaults shipped beside it. A program of a build tree reads its own file only,
// so a developer's or a machine's settings never reach the tests.
TEST_F(SettingsTest, InstalledProgramLayersUserAdministratorAndShippedFiles) {
    const std::string lib = m_dir.Path("opt/lib/fielddesk/");
    m_dir.Write("opt/lib/fielddesk/Setting.ini",
                "[Font]\nFontName=Arial\nGridFontHeight=17\n"
                "[Setting]\nretransmission_max=3\nretransmission_interval=2000\n");
    m_dir.Write("opt/etc/fielddesk/Setting.ini",
                "; every key commented out but one\n[Setting]\n;retransmission_max=9\n"
                "retransmission_interval=500\n[Font]\nFontName=Liberation Sans\n");
    m_dir.Write("xdg/fielddesk/Setting.ini", "[font]\n fontname = DejaVu Sans\n");
    m_dir.Write("home/.config/fielddesk/Setting.ini", "[Setting]\nretransmission_max=7\n");

    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", m_dir.Path("home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", m_dir.Path("xdg").c_str(), 1);
    EXPECT_EQ(fd::SettingsFiles(lib),
              (std::vector<std::string>{m_dir.Path("xdg/fielddesk/Setting.ini"),
                                        m_dir.Path("opt/etc/fielddesk/Setting.ini"),
                                        lib + "Setting.ini"}));
    auto s = fd::LoadSettings(lib, 1033);
    EXPECT_EQ(s.fontName, "DejaVu Sans");       // the user's
    EXPECT_EQ(s.retransmissionInterval, 500);   // the administrator's
    EXPECT_EQ(s.retransmissionMax, 3);          // shipped: the commented key is no key
    EXPECT_EQ(s.gridFontHeight, 17);            // shipped
    EXPECT_EQ(s.gridFont.face, "DejaVu Sans");  // derived from the layered values
    EXPECT_EQ(s.skin.mainBk, lib + "Skin/main_bk.jpg");

    // Without XDG_CONFIG_HOME (or with a relative one, which is to be ignored): ~/.config.
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    s = fd::LoadSettings(lib, 1033);
    EXPECT_EQ(s.retransmissionMax, 7);
    EXPECT_EQ(s.fontName, "Liberation Sans");

    // The same files around a build tree's program: only its own counts.
    m_dir.Write("build/bin/Setting.ini", "[Setting]\nretransmission_interval=1500\n");
    EXPECT_EQ(fd::SettingsFiles(m_dir.Path("build/bin/")),
              std::vector<std::string>{m_dir.Path("build/bin/Setting.ini")});
    s = fd::LoadSettings(m_dir.Path("build/bin/"), 1033);
    EXPECT_EQ(s.retransmissionInterval, 1500);
    EXPECT_EQ(s.retransmissionMax, 3);
    EXPECT_EQ(s.fontName, "Arial");

    // The package's own prefix keeps the administrator's file in /etc, not /usr/etc.
    EXPECT_EQ(fd::SettingsFiles("/usr/lib/fielddesk/").at(1), "/etc/fielddesk/Setting.ini");

    oldXdg ? ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    oldHome ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
}

TEST(SystemInfoTest, ExecutableDirectoryHoldsThisTest) {
    const std::string dir = fd::GetExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(dir + "settings_test"));
    EXPECT_EQ(fd::GetExecutableDirectoryCached(), dir);
}

}  // namespace
