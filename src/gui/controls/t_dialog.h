#pragma once
// The owner-drawn base of every dialog and page: a background picture or fill, decorative
// lines, optional rounded corners and translucency, dragging by the background, and no
// closing on Enter or Escape.

#include <QColor>
#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <vector>

struct line_point {
    int32_t x1, y1, x2, y2;
};

class CTDialog : public QDialog {
    Q_OBJECT
public:
    explicit CTDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // A dialog turned into a child widget of its parent (pages, strips, hosts). QDialog
    // makes every widget a window unless told otherwise.
    struct ChildTag {};
    CTDialog(QWidget* parent, ChildTag);

    // An empty path changes nothing; an image that does not load leaves no picture.
    void SetBkImage(const QString& path);
    // A window that changes size keeps this top-left part of its background picture at
    // its own size and stretches only the rest (logos and title bands stay as drawn).
    void SetBkFixedPart(QSize part) {
        m_bkFixed = part;
        update();
    }
    void SetDraggable(bool on) { m_draggable = on; }
    void SetFillBk(bool on);
    void SetBkColor(const QColor& c);
    void SetLineColor(const QColor& c) {
        m_lineColor = c;
        update();
    }
    void SetLineWidth(int w) {
        m_lineWidth = w;
        update();
    }
    void AddLine(int x1, int y1, int x2, int y2);
    void ClearLines() {
        m_lines.clear();
        update();
    }
    void SetRadius(int radius) {
        m_radius = radius;
        m_regionSet = false;
        update();
    }
    void SetAlpha(int alpha) {
        m_alpha = alpha;
        m_regionSet = false;
        update();
    }

    bool HasBkImage() const { return !m_bkImage.isNull(); }
    bool IsDraggable() const { return m_draggable; }
    bool RegionSet() const { return m_regionSet; }
    QColor BkColor() const { return m_bkColor; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void ApplyRegion();

    QPixmap m_bkImage;
    QSize m_bkFixed;
    bool m_draggable = false;
    bool m_fillBk = false;
    QColor m_bkColor{255, 255, 255};
    QColor m_lineColor{218, 218, 218};
    int m_lineWidth = 1;
    std::vector<line_point> m_lines;
    int m_radius = 0;
    bool m_regionSet = false;
    int m_alpha = 255;
    bool m_dragging = false;
    QPoint m_dragOffset;
};
