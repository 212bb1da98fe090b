#pragma once
// A skinned label: its own text and background colours and font; transparent by default,
// so the page's background shows through.

#include <QColor>
#include <QLabel>

class CTStatic : public QLabel {
    Q_OBJECT
public:
    explicit CTStatic(QWidget* parent = nullptr);
    explicit CTStatic(const QString& text, QWidget* parent = nullptr);

    void SetTextColor(const QColor& c);
    void SetBkColor(const QColor& c);
    void SetTransparent(bool on);
    void SetFontSpec(const QString& face, int height, int weight);
    // The static font and colours of the skin.
    void ApplyStaticSkin();

    QColor TextColor() const { return m_textColor; }

private:
    void ApplyPalette();

    QColor m_textColor{0, 0, 0};
    QColor m_bkColor{255, 255, 255};
    bool m_transparent = true;
};
