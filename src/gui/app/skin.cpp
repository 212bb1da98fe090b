#include "app/skin.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <algorithm>

namespace fd {

GuiSkin& Skin() {
    static GuiSkin skin;
    return skin;
}

void SetSkinBaseDir(const QString& baseDir, bool chineseLocale) {
    GuiSkin& s = Skin();
    s.baseDir = baseDir.endsWith('/') ? baseDir : baseDir + '/';
    s.skinDir = s.baseDir + QStringLiteral("Skin/");
    s.chineseLocale = chineseLocale;
}

QString GuiSkin::WebImage() const {
    return Image(chineseLocale ? QStringLiteral("web_chinese.bmp")
                               : QStringLiteral("web_other.bmp"));
}
QString GuiSkin::BridgeImage() const {
    return Image(chineseLocale ? QStringLiteral("bridge_chinese.bmp")
                               : QStringLiteral("bridge_other.bmp"));
}
QString GuiSkin::HelpImage() const {
    return Image(chineseLocale ? QStringLiteral("help_chinese.jpg")
                               : QStringLiteral("help_other.jpg"));
}

QFont MakeFont(const QString& face, int height, int weight) {
    QFont f(face);
    // Windows font heights include the internal leading; a pixel size a little below the
    // height gives the same apparent size.
    const int px = height > 0 ? std::max(8, height * 6 / 7 + 1) : 13;
    f.setPixelSize(px);
    if (weight > 0) f.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
    f.setStyleHint(QFont::SansSerif);
    return f;
}

void ApplyAppStyle(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setStyleSheet(QStringLiteral(
        "QLineEdit, QComboBox, QAbstractSpinBox, QDateTimeEdit {"
        " border: 1px solid #c3ccd8; border-radius: 3px; padding: 2px 4px; background: white; }"
        "QLineEdit:focus, QComboBox:focus, QAbstractSpinBox:focus { border-color: #2b5797; }"
        "QLineEdit:disabled, QComboBox:disabled { background: #f0f2f5; color: #8e99a8; }"
        "QProgressBar { border: 1px solid #c3ccd8; border-radius: 3px; background: white;"
        " text-align: center; }"
        "QProgressBar::chunk { background: #ed7020; border-radius: 2px; }"
        "QScrollBar:vertical { width: 12px; background: #f0f2f5; margin: 0; }"
        "QScrollBar:horizontal { height: 12px; background: #f0f2f5; margin: 0; }"
        "QScrollBar::handle { background: #b8c3d1; border-radius: 5px; min-height: 24px;"
        " min-width: 24px; margin: 2px; }"
        "QScrollBar::handle:hover { background: #2b5797; }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
        "QMenu { background: white; border: 1px solid #c3ccd8; padding: 4px; }"
        "QMenu::item { padding: 5px 24px 5px 8px; }"
        "QMenu::item:selected { background: #2b5797; color: white; }"
        "QToolTip { background: #1f3a5f; color: white; border: none; padding: 3px; }"));
}

QColor ColorFromRef(uint32_t colorRef) {
    return QColor(static_cast<int>(colorRef & 0xff), static_cast<int>((colorRef >> 8) & 0xff),
                  static_cast<int>((colorRef >> 16) & 0xff));
}

QFont GuiSkin::ButtonFont() const {
    return MakeFont(fontName, buttonFontHeight, buttonFontWeight);
}
QFont GuiSkin::MenuFont() const {
    return MakeFont(fontName, buttonMenuFontHeight, buttonMenuFontWeight);
}
QFont GuiSkin::StaticFont() const {
    return MakeFont(fontName, staticFontHeight, staticFontWeight);
}
QFont GuiSkin::GridTitleFont() const {
    return MakeFont(fontName, gridTitleFontHeight, gridTitleFontWeight);
}
QFont GuiSkin::GridFont() const {
    return MakeFont(fontName, gridFontHeight, gridFontWeight);
}

}  // namespace fd
