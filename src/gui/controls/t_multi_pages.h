#pragma once
// The page-number strip under every device list: up to seven items (page numbers and
// "..."), the current page in bold; a click on another page tells the host to reload.

#include <QColor>
#include <QRect>
#include <QWidget>
#include <vector>

namespace fd {
// Receives the page message: reload page `pageId` at page `pageNumber`.
class IPageMessageHost {
public:
    virtual ~IPageMessageHost() = default;
    virtual void OnPageMessage(int pageId, int pageNumber) = 0;
};
}  // namespace fd

class CTMultiPages : public QWidget {
    Q_OBJECT
public:
    explicit CTMultiPages(QWidget* parent = nullptr);

    // Resets to page 1 with no items.
    void Attach(fd::IPageMessageHost* host, int pageId);
    void SetPages(int pageCount, int currentPage);
    void SetBkColor(const QColor& c) {
        m_bkColor = c;
        update();
    }

    int PageCount() const { return m_pageCount; }
    int CurrentPage() const { return m_current; }
    const std::vector<int>& Items() const { return m_items; }
    const std::vector<QRect>& ItemRects() const { return m_rects; }
    // Texts as shown: "1", "...", ...
    QStringList ItemTexts() const;

signals:
    void pageMessage(int pageId, int pageNumber);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void Layout();
    int ItemAt(const QPoint& pt) const;
    QString ItemText(int item) const;

    int m_pageCount = 0;
    int m_current = 1;
    int m_hovered = -1;
    int m_pressed = -1;
    std::vector<int> m_items;
    std::vector<QRect> m_rects;
    QColor m_bkColor{240, 240, 240};
    fd::IPageMessageHost* m_host = nullptr;
    int m_pageId = 0;
};
