#pragma once
// A picture larger than its window, with scroll bars where it does not fit; the arrows move
// it by 5 pixels.

#include <QPixmap>
#include <QScrollArea>

class QLabel;

class CScrollBitmapWnd : public QScrollArea {
    Q_OBJECT
public:
    explicit CScrollBitmapWnd(QWidget* parent = nullptr);

    bool SetBitmap(const QString& path);
    void SetBitmap(const QPixmap& pixmap);
    QSize BitmapSize() const { return m_pixmap.size(); }

private:
    QLabel* m_label;
    QPixmap m_pixmap;
};
