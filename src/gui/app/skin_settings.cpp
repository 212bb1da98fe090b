#include "app/skin.h"
#include "config/settings.h"

namespace fd {

void ApplySettings(GuiSkin& s, const AppSettings& a) {
    s.childBkColor = ColorFromRef(a.childBkColor);
    s.fontName = a.fontName.empty() ? QStringLiteral("Arial") : QString::fromStdString(a.fontName);
    s.buttonMenuFontWeight = a.buttonMenuFontWeight;
    s.buttonMenuFontHeight = a.buttonMenuFontHeight;
    s.buttonMenuFontColor = ColorFromRef(a.buttonMenuFontColor);
    s.buttonFontWeight = a.buttonFontWeight;
    s.buttonFontHeight = a.buttonFontHeight;
    s.buttonFontColor = ColorFromRef(a.buttonFontColor);
    s.staticFontWeight = a.staticFontWeight;
    s.staticFontHeight = a.staticFontHeight;
    s.staticFontTextColor = ColorFromRef(a.staticFontTextColor);
    s.staticFontBkColor = ColorFromRef(a.staticFontBkColor);
    s.textDownColor = ColorFromRef(a.textDownColor);
    s.lineColor = ColorFromRef(a.lineColor);
    s.expertTextColor = ColorFromRef(a.expertTextColor);
    s.staticTextNumberColor = ColorFromRef(a.staticTextNumberColor);
    s.gridTitleFontWeight = a.gridTitleFontWeight;
    s.gridTitleFontHeight = a.gridTitleFontHeight;
    s.gridFontWeight = a.gridFontWeight;
    s.gridFontHeight = a.gridFontHeight;
    s.gridTextColor = ColorFromRef(a.gridTextColor);
    s.gridTitleTextColor = ColorFromRef(a.gridTitleTextColor);
    s.gridTitleBkColor = ColorFromRef(a.gridTitleBkColor);
    s.textUnlineColor = ColorFromRef(a.textUnlineColor);
    s.textOnlineColor = ColorFromRef(a.textOnlineColor);
    s.versionText = QString::fromStdString(a.versionTextV);
}

}  // namespace fd
