#include "controls/scroll_bitmap_wnd.h"

#include <QLabel>
#include <QScrollBar>

CScrollBitmapWnd::CScrollBitmapWnd(QWidget* parent) : QScrollArea(parent), m_label(new QLabel) {
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidget(m_label);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    horizontalScrollBar()->setSingleStep(5);
    verticalScrollBar()->setSingleStep(5);
}

bool CScrollBitmapWnd::SetBitmap(const QString& path) {
    const QPixmap pm(path);
    SetBitmap(pm);
    return !pm.isNull();
}

void CScrollBitmapWnd::SetBitmap(const QPixmap& pixmap) {
    m_pixmap = pixmap;
    m_label->setPixmap(m_pixmap);
    m_label->resize(m_pixmap.isNull() ? QSize(0, 0) : m_pixmap.size());
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}
