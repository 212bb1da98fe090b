#pragma once
// The program's look and protocol timing from Setting.ini, and the full paths of the skin
// images. Read once at start-up; nothing is written back. A missing file or key gives the
// built-in default.
//
// Where Setting.ini is read, key by key, the first file holding the key wins:
//   1. the user's own:        $XDG_CONFIG_HOME/fielddesk/Setting.ini (~/.config/fielddesk/)
//   2. the administrator's:   /etc/fielddesk/Setting.ini (<prefix>/etc/fielddesk/ for an
//                             installation under another prefix than /usr)
//   3. the shipped defaults:  Setting.ini beside the program (read only)
// The first two apply to an installed program (one in <prefix>/lib/fielddesk/); a program
// run from a build tree or a folder of its own reads only the file beside it.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fd {

// A colour as r + 256*g + 65536*b (the Windows COLORREF layout the skin files describe).
using Colour = uint32_t;
constexpr Colour MakeColour(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<Colour>(r) | (static_cast<Colour>(g) << 8) | (static_cast<Colour>(b) << 16);
}
constexpr uint8_t ColourRed(Colour c) {
    return static_cast<uint8_t>(c & 0xFF);
}
constexpr uint8_t ColourGreen(Colour c) {
    return static_cast<uint8_t>((c >> 8) & 0xFF);
}
constexpr uint8_t ColourBlue(Colour c) {
    return static_cast<uint8_t>((c >> 16) & 0xFF);
}

// A font as the grids want it; 0 for height or weight means the platform's default.
struct FontSpec {
    int height = 0;
    int weight = 0;
    std::string face;
};

// Full paths of the skin images ("<base>Skin/<file>").
struct SkinPaths {
    std::string mainBk, mainLeftBk, btnPie, btnPie2, waitSearch;
    std::string menuSearchNormal, menuSearchDown, menuWirelessNormal, menuWirelessDown;
    std::string menuDeviceNormal, menuDeviceDown, menuUserNormal, menuUserDown;
    std::string menuAdStrategyNormal, menuAdStrategyDown, menuAdManagementNormal,
        menuAdManagementDown;
    std::string menuActiveNormal, menuActiveDown, menuSystemNormal, menuSystemDown;
    std::string btnSearch, btnDelete, btnExport, btnAdd;
    std::string btnReboot, btnRestore, btnUpgrade, btnConfig;
    std::string configBtn, btnUpdateNormal, btnUpdateDown;
    std::string closeNormal, minNormal, helpNormal, closeConfig, closeWait;
    std::string bridgeFinish;
    std::array<std::string, 6> signalStrength;  // singal_strength0.bmp ... 5
    std::string line, grayLine, orangeLine, btUrl, write;
    std::string helpProduct, helpSupport, helpContact, helpHelp;
    std::string wirelessBasic, wirelessConfig, wirelessEnable, wirelessDisable;
    // Language-dependent: "_chinese" on a 2052 system, "_other" elsewhere.
    std::string web, bridge, installHelp;
};

struct AppSettings {
    // [Color]; a malformed colour value leaves black (0), not the default.
    Colour childBkColor = 0;
    Colour buttonMenuFontColor = 0;
    Colour buttonFontColor = 0;
    Colour staticFontTextColor = 0;
    Colour staticFontBkColor = 0;
    Colour textDownColor = 0;
    Colour lineColor = 0;
    Colour expertTextColor = 0;
    Colour staticTextNumberColor = 0;
    Colour gridTextColor = 0;       // header row text
    Colour gridTitleTextColor = 0;  // cell text of stored devices
    Colour gridTitleBkColor = 0;    // header background
    Colour textUnlineColor = 0;     // rows known only from a search reply
    Colour textOnlineColor = 0;     // status cells
    // [Font]
    std::string fontName;
    int buttonMenuFontWeight = 0, buttonMenuFontHeight = 0;
    int buttonFontWeight = 0, buttonFontHeight = 0;
    int staticFontWeight = 0, staticFontHeight = 0;
    int gridTitleFontWeight = 0, gridTitleFontHeight = 0;
    int gridFontWeight = 0, gridFontHeight = 0;
    // [Setting]
    int retransmissionMax = 0;       // sends of one request
    int retransmissionInterval = 0;  // milliseconds between sends
    // Derived.
    FontSpec gridTitleFont;
    FontSpec gridFont;
    std::string versionText;   // "1.2.3"
    std::string versionTextV;  // "V1.2.3", as the main window shows it
    SkinPaths skin;
};

// Buffer size of one settings value: at most 127 characters count.
inline constexpr std::size_t kSettingValueBuffer = 128;

// "r,g,b": exactly three comma-separated parts, each read by its leading decimal digits (0
// when there are none) and within 0..255. On failure `out` is left as it was.
bool ParseColour(std::string_view text, Colour& out);
// Leading decimal digits after optional blanks and sign; 0 when there are none.
int ParseSettingInt(std::string_view text);

// The Setting.ini files a program in baseDir reads, first looked at first (see above).
// Files that do not exist are listed all the same.
std::vector<std::string> SettingsFiles(const std::string& baseDir);

// Reads the settings from `files` (first holding a key wins) and builds the skin paths
// under baseDir; localeId chooses the language-dependent images.
AppSettings LoadSettings(const std::vector<std::string>& files, const std::string& baseDir,
                         uint32_t localeId);
// The same with SettingsFiles(baseDir).
AppSettings LoadSettings(const std::string& baseDir, uint32_t localeId);
// The same with the locale the language start-up read.
AppSettings LoadSettings(const std::string& baseDir);

// How often and how far apart the engine resends an unanswered command, as every front end
// uses it: the [Setting] values bounded once, here. At most kMaxRetransmissions resends (a
// negative count is 0); kMinRetransmissionIntervalMs to kMaxRetransmissionIntervalMs between
// them, so that an unreadable or zero interval cannot make the engine resend in a tight loop
// and a huge one cannot leave a command waiting for hours.
inline constexpr int kMaxRetransmissions = 10;
inline constexpr int kMinRetransmissionIntervalMs = 100;
inline constexpr int kMaxRetransmissionIntervalMs = 60000;
struct Retransmission {
    int max = 3;
    int intervalMs = 2000;
    // How long a caller waits for an answer before it counts as lost: every send and its
    // interval, one interval more and two seconds for the answer to be handled.
    std::chrono::milliseconds AnswerDeadline() const {
        return std::chrono::milliseconds(static_cast<int64_t>(max + 2) * intervalMs + 2000);
    }
};
Retransmission RetransmissionOf(const AppSettings& settings);

// Fills only the skin paths.
void BuildSkinPaths(const std::string& baseDir, uint32_t localeId, SkinPaths& skin);

}  // namespace fd
