#include "controls/t_static.h"

#include "app/skin.h"

CTStatic::CTStatic(QWidget* parent) : QLabel(parent) {
    setFont(fd::MakeFont(QStringLiteral("Arial"), 16, 0));
    ApplyPalette();
}

CTStatic::CTStatic(const QString& text, QWidget* parent) : CTStatic(parent) {
    setText(text);
}

void CTStatic::SetTextColor(const QColor& c) {
    m_textColor = c;
    ApplyPalette();
}

void CTStatic::SetBkColor(const QColor& c) {
    m_bkColor = c;
    ApplyPalette();
}

void CTStatic::SetTransparent(bool on) {
    m_transparent = on;
    ApplyPalette();
}

void CTStatic::SetFontSpec(const QString& face, int height, int weight) {
    setFont(fd::MakeFont(face, height, weight));
}

void CTStatic::ApplyStaticSkin() {
    const fd::GuiSkin& s = fd::Skin();
    setFont(s.StaticFont());
    m_textColor = s.staticFontTextColor;
    m_bkColor = s.staticFontBkColor;
    ApplyPalette();
}

void CTStatic::ApplyPalette() {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, m_textColor);
    pal.setColor(QPalette::Window, m_bkColor);
    setPalette(pal);
    setAutoFillBackground(!m_transparent);
    update();
}
