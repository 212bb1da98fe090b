#pragma once
// The skinned push button: four state pictures (normal, hover, pressed, disabled), hover
// tracking, a "selected" look for navigation buttons, and text placed by alignment code.

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QTimer>
#include <array>

#include "presentation/skin_controls.h"

class CTButtonPicture : public QAbstractButton {
    Q_OBJECT
public:
    explicit CTButtonPicture(QWidget* parent = nullptr);

    // Each path is loaded on its own; one that fails leaves that state without a picture.
    void SetImages(const QString& normal, const QString& hover, const QString& pressed,
                   const QString& disabled);
    // The same picture for all four states.
    void SetImage(const QString& path) { SetImages(path, path, path, path); }
    // One picture holding `count` states side by side (normal, hover, pressed[, disabled]);
    // missing states reuse the last one.
    void SetImageStrip(const QString& path, int count);

    void SetTextColors(const QColor& normal, const QColor& hover, const QColor& disabled);
    void SetFontSpec(const QString& face, int height, int weight);
    void SetAlign(int alignCode, int offset = 0);
    void SetBorder(bool on);
    void SetSelected(bool on);
    void SetHoverTracking(bool on);

    bool IsSelected() const { return m_selected; }
    bool IsHovering() const { return m_hovering; }
    fd::ButtonState State() const;
    // The colour the text is drawn with in the present state.
    QColor CurrentTextColor() const;
    const QPixmap& Image(fd::ButtonState s) const { return m_images[static_cast<int>(s)]; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void CheckLeave();
    void SetHovering(bool on);

    std::array<QPixmap, 4> m_images;
    bool m_selected = false;
    bool m_hoverTracking = true;
    bool m_hovering = false;
    bool m_border = false;
    QColor m_colorNormal{0, 0, 0};
    QColor m_colorHover{255, 255, 255};
    QColor m_colorDisabled{153, 153, 153};
    QString m_face = QStringLiteral("Arial");
    int m_fontHeight = 16;
    int m_fontWeight = 0;
    int m_align = 768;
    int m_offset = 0;
    QTimer m_leaveTimer;  // follows the cursor out of the button every 10 ms
};
