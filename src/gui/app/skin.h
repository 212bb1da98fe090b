#pragma once
// The look of the program for this run: colours, fonts and skin image paths, read once at
// start-up from Setting.ini and kept for every window.

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;

namespace fd {

struct AppSettings;

struct GuiSkin {
    QString baseDir;  // directory of the executable, ends in '/'
    QString skinDir;  // baseDir + "Skin/"
    bool chineseLocale = false;
    QString versionText;  // "V1.0.0" form, shown in the main window

    QColor childBkColor{255, 255, 255};
    QString fontName = QStringLiteral("Arial");
    int buttonMenuFontWeight = 0;
    int buttonMenuFontHeight = 15;
    QColor buttonMenuFontColor{0, 0, 0};
    int buttonFontWeight = 0;
    int buttonFontHeight = 15;
    QColor buttonFontColor{0, 0, 0};
    int staticFontWeight = 0;
    int staticFontHeight = 15;
    QColor staticFontTextColor{0, 0, 0};
    QColor staticFontBkColor{255, 255, 255};
    QColor textDownColor{216, 34, 40};
    QColor lineColor{215, 215, 215};
    QColor expertTextColor{255, 0, 0};
    QColor staticTextNumberColor{142, 142, 142};
    int gridTitleFontWeight = 700;
    int gridTitleFontHeight = 15;
    int gridFontWeight = 0;
    int gridFontHeight = 15;
    QColor gridTextColor{0, 0, 0};
    QColor gridTitleTextColor{237, 112, 32};
    QColor gridTitleBkColor{221, 217, 196};
    QColor textUnlineColor{142, 142, 142};
    QColor textOnlineColor{0, 153, 0};

    // Full path of a skin image by file name ("btn_search.bmp").
    QString Image(const QString& file) const { return skinDir + file; }
    // The language-dependent pictures: the "_chinese" ones on a Chinese system.
    QString WebImage() const;
    QString BridgeImage() const;
    QString HelpImage() const;

    QFont ButtonFont() const;
    QFont MenuFont() const;
    QFont StaticFont() const;
    QFont GridTitleFont() const;
    QFont GridFont() const;
};

// The one skin of the process. Start-up fills it; windows read it.
GuiSkin& Skin();

// Points the skin at a base directory (the executable's, ends in '/').
void SetSkinBaseDir(const QString& baseDir, bool chineseLocale);
// Copies the values read from Setting.ini.
void ApplySettings(GuiSkin& skin, const AppSettings& settings);

// A font from the settings' face, height in pixels and weight (0 = default weight).
QFont MakeFont(const QString& face, int height, int weight);

// The platform-independent base style and the look of the plain controls (combos, edits,
// progress bars, scroll bars) that match the skin.
void ApplyAppStyle(QApplication& app);

// Colours in the settings are kept as r + 256*g + 65536*b.
QColor ColorFromRef(uint32_t colorRef);

}  // namespace fd
