#pragma once
// Small helpers shared by the widget tests.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace fdtest {

inline QString BinDir() {
    return QString::fromLocal8Bit(qgetenv("FD_BIN_DIR"));
}
inline QString SkinFile(const QString& name) {
    return BinDir() + "/Skin/" + name;
}

// Whether any pixel of the widget's rendering has exactly this colour.
inline bool RendersColour(QWidget* w, const QColor& c) {
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb want = c.rgb();
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if ((line[x] | 0xff000000u) == (want | 0xff000000u)) return true;
        }
    }
    return false;
}

// A click where the widget is drawn (at local, by default its centre), delivered to
// whatever its window has on top there: a widget drawn over it takes the click, as it would
// from a user.
inline void ClickWhereDrawn(QWidget* w, QPoint local = QPoint(-1, -1)) {
    QWidget* window = w->window();
    const QPoint p = w->mapTo(window, local == QPoint(-1, -1) ? w->rect().center() : local);
    QWidget* hit = window->childAt(p);
    if (hit == nullptr) hit = window;
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(window, p));
}

// Processes events until pred() holds or ms milliseconds have passed; whether it held.
template <typename Pred>
bool WaitFor(Pred pred, int ms) {
    return QTest::qWaitFor(pred, ms);
}

// Processes events for ms milliseconds (timers run).
inline void Spin(int ms) {
    QTest::qWait(ms);
}

}  // namespace fdtest
