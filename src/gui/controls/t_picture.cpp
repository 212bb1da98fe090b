#include "controls/t_picture.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>

CTPicture::CTPicture(QWidget* parent) : QWidget(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CTPicture::NextFrame);
}

CTPicture::~CTPicture() {
    Stop();
}

int CTPicture::FrameDelayMs(int delayMs) {
    // Files written with tiny delays (0 to 4 hundredths) would spin; they get 100 ms.
    return delayMs > 40 ? delayMs : 100;
}

int CTPicture::DelayOf(int frame) const {
    if (frame < 0 || frame >= FrameCount()) return 0;
    return FrameDelayMs(m_frames[static_cast<size_t>(frame)].delayMs);
}

bool CTPicture::Load(const QString& path) {
    Stop();
    m_frames.clear();
    m_still = QImage();
    m_current = 0;
    m_drawn = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QByteArray bytes = file.readAll();
    QBuffer buf(&bytes);
    buf.open(QIODevice::ReadOnly);
    const bool gif = bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a");
    QImageReader reader(&buf, gif ? QByteArray("gif") : QByteArray());
    if (gif) {
        for (;;) {
            QImage img = reader.read();
            if (img.isNull()) break;
            // After a frame is read the reader reports how long that frame stays.
            const int delay = reader.nextImageDelay();
            m_frames.push_back({std::move(img), delay});
        }
        if (m_frames.empty()) return false;
        if (m_frames.size() == 1) {
            m_still = m_frames.front().image;
            m_frames.clear();
        }
    } else {
        m_still = reader.read();
        if (m_still.isNull()) return false;
    }
    updateGeometry();
    update();
    return true;
}

void CTPicture::Draw() {
    m_drawn = true;
    if (m_frames.size() > 1) {
        m_current = 0;
        m_cleared = false;
        m_timer.start(DelayOf(0));
    }
    update();
}

void CTPicture::Stop() {
    m_timer.stop();
    m_drawn = false;
    update();
}

void CTPicture::NextFrame() {
    if (m_frames.empty()) return;
    if (m_cleared || m_current + 1 < FrameCount()) {
        m_current = m_cleared ? 0 : m_current + 1;
        m_cleared = false;
        m_timer.start(DelayOf(m_current));
    } else {
        // After the last frame the control is cleared to the background and the
        // animation starts again at the first frame.
        m_cleared = true;
        m_timer.start(0);
    }
    update();
}

QSize CTPicture::sizeHint() const {
    if (!m_frames.empty()) return m_frames.front().image.size();
    if (!m_still.isNull()) return m_still.size();
    return {16, 16};
}

void CTPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), m_bkColor);
    if (!m_drawn) return;
    const QImage* img = nullptr;
    if (!m_frames.empty()) {
        if (!m_cleared) img = &m_frames[static_cast<size_t>(m_current)].image;
    } else if (!m_still.isNull()) {
        img = &m_still;
    }
    if (img == nullptr) return;
    // Centred, scaled down only when the control is smaller than the picture.
    QSize s = img->size();
    if (s.width() > width() || s.height() > height()) s.scale(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, *img);
}
