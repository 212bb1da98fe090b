#include "controls/t_multi_pages.h"

#include <QMouseEvent>
#include <QPainter>

#include "presentation/skin_controls.h"

namespace {
constexpr int kItemMinWidth = 24;
constexpr int kItemHeight = 24;
constexpr int kItemGap = 3;
}  // namespace

CTMultiPages::CTMultiPages(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumHeight(kItemHeight);
}

void CTMultiPages::Attach(fd::IPageMessageHost* host, int pageId) {
    m_host = host;
    m_pageId = pageId;
    m_pageCount = 0;
    m_current = 1;
    m_hovered = m_pressed = -1;
    m_items.clear();
    m_rects.clear();
    update();
}

void CTMultiPages::SetPages(int pageCount, int currentPage) {
    m_pageCount = std::max(pageCount, 0);
    m_current = currentPage < 1 ? 1 : currentPage;
    m_items = fd::ComputePageItems(m_pageCount, m_current);
    m_hovered = m_pressed = -1;
    Layout();
    update();
}

QString CTMultiPages::ItemText(int item) const {
    return item == fd::kPageItemEllipsis ? QStringLiteral("...") : QString::number(item);
}

QStringList CTMultiPages::ItemTexts() const {
    QStringList out;
    for (int item : m_items) out << ItemText(item);
    return out;
}

void CTMultiPages::Layout() {
    m_rects.clear();
    const QFontMetrics fm(font());
    const int y = (height() - kItemHeight) / 2;
    int x = 0;
    for (int item : m_items) {
        const int w = std::max(kItemMinWidth, fm.horizontalAdvance(ItemText(item)) + 8);
        m_rects.emplace_back(x, y, w, kItemHeight);
        x += w + kItemGap;
    }
}

void CTMultiPages::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Layout();
}

int CTMultiPages::ItemAt(const QPoint& pt) const {
    for (size_t i = 0; i < m_rects.size(); ++i) {
        if (m_rects[i].contains(pt)) return static_cast<int>(i);
    }
    return -1;
}

void CTMultiPages::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), m_bkColor);
    QFont normal = font();
    QFont bold = normal;
    bold.setBold(true);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const int item = m_items[i];
        const QRect r = m_rects[i];
        if (item == fd::kPageItemEllipsis) {
            p.fillRect(r, Qt::white);
            p.setFont(normal);
        } else if (item == m_current) {
            p.fillRect(r, Qt::white);
            p.setFont(bold);
        } else {
            const bool hovered = static_cast<int>(i) == m_hovered;
            p.fillRect(r, hovered ? QColor(187, 187, 187) : QColor(Qt::white));
            p.setPen(QColor(136, 136, 136));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setFont(normal);
        }
        p.setPen(Qt::black);
        p.drawText(r, Qt::AlignCenter, ItemText(item));
    }
}

void CTMultiPages::mouseMoveEvent(QMouseEvent* e) {
    const int hit = ItemAt(e->position().toPoint());
    if (hit != m_hovered) {
        m_hovered = hit;
        update();
    }
}

void CTMultiPages::leaveEvent(QEvent*) {
    if (m_hovered != -1) {
        m_hovered = -1;
        update();
    }
}

void CTMultiPages::mousePressEvent(QMouseEvent* e) {
    m_pressed = -1;
    if (e->button() != Qt::LeftButton) return;
    const int hit = ItemAt(e->position().toPoint());
    if (hit < 0) return;
    const int item = m_items[static_cast<size_t>(hit)];
    // "..." and the page already shown are not pages to go to.
    if (item == fd::kPageItemEllipsis || item == m_current) return;
    m_pressed = hit;
}

void CTMultiPages::mouseReleaseEvent(QMouseEvent* e) {
    const int pressed = m_pressed;
    m_pressed = -1;
    if (e->button() != Qt::LeftButton || pressed < 0) return;
    if (ItemAt(e->position().toPoint()) != pressed) return;
    const int page = m_items[static_cast<size_t>(pressed)];
    SetPages(m_pageCount, page);
    if (m_host != nullptr) m_host->OnPageMessage(m_pageId, page);
    emit pageMessage(m_pageId, page);
}
