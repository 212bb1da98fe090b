#include "controls/t_button_picture.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/skin.h"

CTButtonPicture::CTButtonPicture(QWidget* parent) : QAbstractButton(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    m_leaveTimer.setInterval(10);
    connect(&m_leaveTimer, &QTimer::timeout, this, &CTButtonPicture::CheckLeave);
    // Pressing and releasing change the picture.
    connect(this, &QAbstractButton::pressed, this, qOverload<>(&QWidget::update));
    connect(this, &QAbstractButton::released, this, qOverload<>(&QWidget::update));
}

void CTButtonPicture::SetImages(const QString& normal, const QString& hover, const QString& pressed,
                                const QString& disabled) {
    const QString paths[4] = {normal, hover, pressed, disabled};
    for (int i = 0; i < 4; ++i) m_images[i] = paths[i].isEmpty() ? QPixmap() : QPixmap(paths[i]);
    updateGeometry();
    update();
}

void CTButtonPicture::SetImageStrip(const QString& path, int count) {
    const QPixmap strip(path);
    count = std::max(count, 1);
    for (int i = 0; i < 4; ++i) {
        if (strip.isNull()) {
            m_images[i] = QPixmap();
            continue;
        }
        const int w = strip.width() / count;
        const int part = std::min(i, count - 1);
        m_images[i] = strip.copy(part * w, 0, w, strip.height());
    }
    updateGeometry();
    update();
}

void CTButtonPicture::SetTextColors(const QColor& normal, const QColor& hover,
                                    const QColor& disabled) {
    m_colorNormal = normal;
    m_colorHover = hover;
    m_colorDisabled = disabled;
    update();
}

void CTButtonPicture::SetFontSpec(const QString& face, int height, int weight) {
    m_face = face;
    m_fontHeight = height;
    m_fontWeight = weight;
    update();
}

void CTButtonPicture::SetAlign(int alignCode, int offset) {
    m_align = alignCode;
    m_offset = offset;
    update();
}

void CTButtonPicture::SetBorder(bool on) {
    m_border = on;
    update();
}

void CTButtonPicture::SetSelected(bool on) {
    m_selected = on;
    update();
}

void CTButtonPicture::SetHoverTracking(bool on) {
    m_hoverTracking = on;
    if (!on) SetHovering(false);
    update();
}

fd::ButtonState CTButtonPicture::State() const {
    if (!isEnabled()) return fd::ButtonState::Disabled;
    if (isDown()) return fd::ButtonState::Pressed;
    if (m_hovering) return fd::ButtonState::Hover;
    return fd::ButtonState::Normal;
}

QColor CTButtonPicture::CurrentTextColor() const {
    switch (fd::TextColorFor(State(), m_selected)) {
        case fd::ButtonTextColor::Hover:
            return m_colorHover;
        case fd::ButtonTextColor::Disabled:
            return m_colorDisabled;
        case fd::ButtonTextColor::Normal:
            break;
    }
    return m_colorNormal;
}

QSize CTButtonPicture::sizeHint() const {
    if (!m_images[0].isNull()) return m_images[0].size();
    return {80, 26};
}

void CTButtonPicture::SetHovering(bool on) {
    if (m_hovering == on) return;
    m_hovering = on;
    if (on) {
        m_leaveTimer.start();
    } else {
        m_leaveTimer.stop();
    }
    update();
}

void CTButtonPicture::mouseMoveEvent(QMouseEvent* e) {
    if (m_hoverTracking && !m_hovering && isEnabled()) SetHovering(true);
    QAbstractButton::mouseMoveEvent(e);
}

void CTButtonPicture::leaveEvent(QEvent* e) {
    SetHovering(false);
    QAbstractButton::leaveEvent(e);
}

void CTButtonPicture::CheckLeave() {
    // Leave events can be lost when the window loses the pointer abruptly (a menu opens,
    // the window hides); the 10 ms check catches those too.
    const bool inside = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
    if (!inside && !underMouse()) SetHovering(false);
}

void CTButtonPicture::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange && !isEnabled()) SetHovering(false);
    QAbstractButton::changeEvent(e);
}

void CTButtonPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const fd::ButtonState state = State();
    const QPixmap& img = m_selected ? m_images[static_cast<int>(fd::ButtonState::Pressed)]
                                    : m_images[static_cast<int>(state)];
    if (!img.isNull()) {
        if (img.size() == size()) {
            p.drawPixmap(0, 0, img);
        } else {
            p.drawPixmap(rect(), img);
        }
    }
    const QColor color = CurrentTextColor();
    if (state == fd::ButtonState::Hover && m_border) {
        p.setPen(color);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    const QString t = text();
    if (t.isEmpty()) return;
    QFont f = fd::MakeFont(m_face, m_fontHeight, m_selected ? 700 : m_fontWeight);
    p.setFont(f);
    p.setPen(color);
    const QFontMetrics fm(f);
    const int tw = fm.horizontalAdvance(t);
    const int th = fm.height();
    const fd::TextPos pos = fd::AlignTextPosition(m_align, m_offset, tw, th, width(), height());
    p.drawText(QRect(pos.x, pos.y, tw + 1, th), Qt::AlignLeft | Qt::AlignTop, t);
}
