#include "controls/t_dialog.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>
#include <algorithm>

CTDialog::CTDialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

CTDialog::CTDialog(QWidget* parent, ChildTag) : QDialog(parent) {
    setWindowFlags(Qt::Widget);
}

void CTDialog::SetBkImage(const QString& path) {
    if (path.isEmpty()) return;
    m_bkImage = QPixmap(path);
    update();
}

void CTDialog::SetFillBk(bool on) {
    m_fillBk = on;
    update();
}

void CTDialog::SetBkColor(const QColor& c) {
    m_bkColor = c;
    update();
}

void CTDialog::AddLine(int x1, int y1, int x2, int y2) {
    m_lines.push_back({x1, y1, x2, y2});
    update();
}

void CTDialog::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!m_bkImage.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize img = m_bkImage.size();
        const int fx = std::clamp(m_bkFixed.width(), 0, std::min(img.width() - 1, width()));
        const int fy = std::clamp(m_bkFixed.height(), 0, std::min(img.height() - 1, height()));
        if (fx <= 0 && fy <= 0) {
            p.drawPixmap(rect(), m_bkImage);
        } else {
            // Four parts: the fixed corner as it is, the others stretched to the rest.
            const int xs[] = {0, fx, img.width()};
            const int ys[] = {0, fy, img.height()};
            const int xd[] = {0, fx, width()};
            const int yd[] = {0, fy, height()};
            for (int i = 0; i < 2; ++i) {
                for (int j = 0; j < 2; ++j) {
                    const QRect src(xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]);
                    const QRect dst(xd[i], yd[j], xd[i + 1] - xd[i], yd[j + 1] - yd[j]);
                    if (!src.isEmpty() && !dst.isEmpty()) p.drawPixmap(dst, m_bkImage, src);
                }
            }
        }
    } else if (m_fillBk) {
        p.fillRect(rect(), m_bkColor);
    }
    if (!m_lines.empty()) {
        p.setPen(QPen(m_lineColor, m_lineWidth, Qt::SolidLine));
        for (const line_point& l : m_lines) p.drawLine(l.x1, l.y1, l.x2, l.y2);
    }
    if (m_radius > 0 && !m_regionSet) ApplyRegion();
}

void CTDialog::ApplyRegion() {
    // A rounded window shape; painting a path into a bitmap gives the same corners as the
    // region the platform would make.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), m_radius, m_radius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
    // Any alpha other than opaque gives the one translucency the skin uses.
    if (m_alpha != 255 && isWindow()) setWindowOpacity(200.0 / 255.0);
    m_regionSet = true;
    update();
}

void CTDialog::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    if (m_radius > 0) m_regionSet = false;
}

void CTDialog::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape must never close a dialog or a page; every dialog ends through its
    // own buttons.
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            e->accept();
            return;
        default:
            QDialog::keyPressEvent(e);
    }
}

void CTDialog::mousePressEvent(QMouseEvent* e) {
    if (m_draggable && e->button() == Qt::LeftButton) {
        // A press on our own background (children take their own presses) moves the whole
        // window, also when this is a page inside the main window.
        QWidget* top = window();
        if (QWindow* handle = top->windowHandle(); handle != nullptr && handle->startSystemMove()) {
            e->accept();
            return;
        }
        m_dragging = true;
        m_dragOffset = e->globalPosition().toPoint() - top->frameGeometry().topLeft();
        e->accept();
        return;
    }
    if (!isWindow()) {
        // A page or strip keeps its presses: they must not reach the main window and drag
        // it from inside a page.
        e->accept();
        return;
    }
    QDialog::mousePressEvent(e);
}

void CTDialog::mouseMoveEvent(QMouseEvent* e) {
    if (m_dragging && (e->buttons() & Qt::LeftButton)) {
        window()->move(e->globalPosition().toPoint() - m_dragOffset);
        e->accept();
        return;
    }
    QDialog::mouseMoveEvent(e);
}

void CTDialog::mouseReleaseEvent(QMouseEvent* e) {
    if (m_dragging && e->button() == Qt::LeftButton) {
        m_dragging = false;
        e->accept();
        return;
    }
    QDialog::mouseReleaseEvent(e);
}
