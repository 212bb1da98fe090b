#include "config/settings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "config/ini_file.h"
#include "config/language.h"
#include "fielddesk_version.h"
#include "system/system_info.h"

namespace fd {

int ParseSettingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Saturates instead of overflowing on absurdly long numbers.
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT_MAX) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool ParseColour(std::string_view text, Colour& out) {
    int parts[3];
    std::size_t count = 0;
    std::size_t pos = 0;
    while (true) {
        const auto comma = text.find(',', pos);
        const std::string_view part = text.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (count == 3) return false;  // a fourth part
        parts[count++] = ParseSettingInt(part);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    if (count != 3) return false;
    for (int p : parts) {
        if (p < 0 || p > 255) return false;
    }
    out = MakeColour(static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                     static_cast<uint8_t>(parts[2]));
    return true;
}

void BuildSkinPaths(const std::string& baseDir, uint32_t localeId, SkinPaths& skin) {
    const std::string dir = baseDir + "Skin/";
    auto p = [&](const char* file) { return dir + file; };
    const char* lang = localeId == kLocaleChineseSimplified ? "_chinese" : "_other";

    skin.mainBk = p("main_bk.jpg");
    skin.mainLeftBk = p("main_left_bk.jpg");
    skin.btnPie = p("btn_pie.bmp");
    skin.btnPie2 = p("btn_pie2.bmp");
    skin.waitSearch = p("wait_search.gif");
    skin.menuSearchNormal = p("bt_menu_search_normal.bmp");
    skin.menuSearchDown = p("bt_menu_search_down.bmp");
    skin.menuWirelessNormal = p("bt_menu_wireless_normal.bmp");
    skin.menuWirelessDown = p("bt_menu_wireless_down.bmp");
    skin.menuDeviceNormal = p("bt_menu_device_normal.bmp");
    skin.menuDeviceDown = p("bt_menu_device_down.bmp");
    skin.menuUserNormal = p("bt_menu_user_normal.bmp");
    skin.menuUserDown = p("bt_menu_user_down.bmp");
    skin.menuAdStrategyNormal = p("bt_menu_adstragy_normal.bmp");
    skin.menuAdStrategyDown = p("bt_menu_adstragy_down.bmp");
    skin.menuAdManagementNormal = p("bt_menu_admanagment_normal.bmp");
    skin.menuAdManagementDown = p("bt_menu_admanagment_down.bmp");
    skin.menuActiveNormal = p("bt_menu_active_normal.bmp");
    skin.menuActiveDown = p("bt_menu_active_down.bmp");
    skin.menuSystemNormal = p("bt_menu_system_normal.bmp");
    skin.menuSystemDown = p("bt_menu_system_down.bmp");
    skin.btnSearch = p("btn_search.bmp");
    skin.btnDelete = p("btn_delete.bmp");
    skin.btnExport = p("btn_export.bmp");
    skin.btnAdd = p("btn_add.bmp");
    skin.btnReboot = p("btn_reboot.bmp");
    skin.btnRestore = p("btn_restore.bmp");
    skin.btnUpgrade = p("btn_upgrade.bmp");
    skin.btnConfig = p("btn_config.bmp");
    skin.configBtn = p("config_btn.bmp");
    skin.btnUpdateNormal = p("btn_update_normal.bmp");
    skin.btnUpdateDown = p("btn_update_down.bmp");
    skin.closeNormal = p("close_normal.bmp");
    skin.minNormal = p("min_normal.bmp");
    skin.helpNormal = p("help_normal.bmp");
    skin.closeConfig = p("close_config.bmp");
    skin.closeWait = p("close_wait.bmp");
    skin.bridgeFinish = p("bridge_finish.jpg");
    for (std::size_t i = 0; i < skin.signalStrength.size(); ++i) {
        skin.signalStrength[i] = dir + "singal_strength" + std::to_string(i) + ".bmp";
    }
    skin.line = p("line.bmp");
    skin.grayLine = p("gray_line.bmp");
    skin.orangeLine = p("orange_line.bmp");
    skin.btUrl = p("bt_url.bmp");
    skin.write = p("write.bmp");
    skin.helpProduct = p("help_product_normal.bmp");
    skin.helpSupport = p("help_support_normal.bmp");
    skin.helpContact = p("help_contact_normal.bmp");
    skin.helpHelp = p("help_help_normal.bmp");
    skin.wirelessBasic = p("wireless_basic.bmp");
    skin.wirelessConfig = p("wireless_config.bmp");
    skin.wirelessEnable = p("wireless_enable.bmp");
    skin.wirelessDisable = p("wireless_disable.bmp");
    skin.web = dir + "web" + lang + ".bmp";
    skin.bridge = dir + "bridge" + lang + ".bmp";
    skin.installHelp = dir + "help" + lang + ".jpg";
}

std::vector<std::string> SettingsFiles(const std::string& baseDirIn) {
    std::string baseDir = baseDirIn;
    if (!baseDir.empty() && baseDir.back() != '/') baseDir += '/';
    std::vector<std::string> files;
    const std::string prefix = InstallPrefixOf(baseDir);
    if (!prefix.empty()) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
        if (xdg && xdg[0] == '/')
            files.push_back(std::string(xdg) + "/fielddesk/Setting.ini");
        else if (home && home[0] == '/')
            files.push_back(std::string(home) + "/.config/fielddesk/Setting.ini");
        const std::string etc = prefix == "/usr" || prefix == "/" ? "/etc" : prefix + "/etc";
        files.push_back(etc + "/fielddesk/Setting.ini");
    }
    files.push_back(baseDir + "Setting.ini");
    return files;
}

AppSettings LoadSettings(const std::string& baseDir, uint32_t localeId) {
    return LoadSettings(SettingsFiles(baseDir), baseDir, localeId);
}

AppSettings LoadSettings(const std::vector<std::string>& files, const std::string& baseDirIn,
                         uint32_t localeId) {
    std::string baseDir = baseDirIn;
    if (!baseDir.empty() && baseDir.back() != '/') baseDir += '/';
    // A key absent from a file reads as this text, which no value can be (it holds a NUL).
    static constexpr std::string_view kAbsent{"\0absent", 7};
    auto read = [&](const char* section, const char* key, const char* def) {
        for (const std::string& path : files) {
            std::string v = ReadProfileString(path, section, key, kAbsent, kSettingValueBuffer);
            if (v != kAbsent) return v;
        }
        return std::string(def);
    };
    auto colour = [&](const char* key, const char* def, Colour& out) {
        ParseColour(read("Color", key, def), out);  // malformed: stays black
    };
    auto integer = [&](const char* section, const char* key, const char* def) {
        return ParseSettingInt(read(section, key, def));
    };

    AppSettings s;
    colour("ChildBkColor", "255,255,255", s.childBkColor);
    s.fontName = read("Font", "FontName", "Arial");
    s.buttonMenuFontWeight = integer("Font", "ButtonMenuFontWeight", "0");
    s.buttonMenuFontHeight = integer("Font", "ButtonMenuFontHeight", "15");
    colour("ButtonMenuFontColor", "0,0,0", s.buttonMenuFontColor);
    s.buttonFontWeight = integer("Font", "ButtonFontWeight", "0");
    s.buttonFontHeight = integer("Font", "ButtonFontHeight", "15");
    colour("ButtonFontColor", "0,0,0", s.buttonFontColor);
    s.staticFontWeight = integer("Font", "StaticFontWeight", "0");
    s.staticFontHeight = integer("Font", "StaticFontHeight", "15");
    colour("StaticFontTextColor", "0,0,0", s.staticFontTextColor);
    colour("StaticFontBkColor", "255,255,255", s.staticFontBkColor);
    colour("TextDownColor", "216,34,40", s.textDownColor);
    colour("LineColor", "215,215,215", s.lineColor);
    colour("ExpertTextColor", "255,0,0", s.expertTextColor);
    colour("StaticTextNumberColor", "142,142,142", s.staticTextNumberColor);
    s.gridTitleFontWeight = integer("Font", "GridTitleFontWeight", "700");
    s.gridTitleFontHeight = integer("Font", "GridTitleFontHeight", "15");
    s.gridFontWeight = integer("Font", "GridFontWeight", "0");
    s.gridFontHeight = integer("Font", "GridFontHeight", "15");
    colour("GridTextColor", "0,0,0", s.gridTextColor);
    colour("GridTitleTextColor", "237,112,32", s.gridTitleTextColor);
    colour("GridTitleBkColor", "221,217,196", s.gridTitleBkColor);
    colour("TextUnlineColor", "142,142,142", s.textUnlineColor);
    colour("TextOnlineColor", "0,153,0", s.textOnlineColor);
    s.retransmissionMax = integer("Setting", "retransmission_max", "3");
    s.retransmissionInterval = integer("Setting", "retransmission_interval", "2000");

    s.gridTitleFont = FontSpec{s.gridTitleFontHeight, s.gridTitleFontWeight, s.fontName};
    s.gridFont = FontSpec{s.gridFontHeight, s.gridFontWeight, s.fontName};
    s.versionText = FIELDDESK_VERSION;
    s.versionTextV = std::string("V") + FIELDDESK_VERSION;

    BuildSkinPaths(baseDir, localeId, s.skin);
    return s;
}

AppSettings LoadSettings(const std::string& baseDir) {
    return LoadSettings(baseDir, GetSystemLocaleId());
}

Retransmission RetransmissionOf(const AppSettings& settings) {
    Retransmission r;
    r.max = std::clamp(settings.retransmissionMax, 0, kMaxRetransmissions);
    r.intervalMs = std::clamp(settings.retransmissionInterval, kMinRetransmissionIntervalMs,
                              kMaxRetransmissionIntervalMs);
    return r;
}

}  // namespace fd
