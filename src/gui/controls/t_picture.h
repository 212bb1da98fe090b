#pragma once
// A picture control: still images, or GIF animations played frame by frame on the GUI
// thread with the frame delays of the file.

#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <vector>

class CTPicture : public QWidget {
    Q_OBJECT
public:
    explicit CTPicture(QWidget* parent = nullptr);
    ~CTPicture() override;

    // Reads and decodes the file. False when it cannot be read or decoded.
    bool Load(const QString& path);
    // Starts the animation of a GIF of more than one frame; shows a still image otherwise.
    void Draw();
    void Stop();

    void SetBkColor(const QColor& c) {
        m_bkColor = c;
        update();
    }
    bool IsAnimating() const { return m_timer.isActive(); }
    int FrameCount() const { return static_cast<int>(m_frames.size()); }
    int CurrentFrame() const { return m_current; }
    // Milliseconds a frame stays: the file's delay when above 40 ms, otherwise 100 ms.
    static int FrameDelayMs(int delayMs);
    int DelayOf(int frame) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void NextFrame();

    struct Frame {
        QImage image;  // already composed over the earlier frames by the GIF reader
        int delayMs = 0;
    };
    std::vector<Frame> m_frames;
    QImage m_still;
    int m_current = 0;
    bool m_drawn = false;
    bool m_cleared = false;  // the pause after the last frame shows only the background
    QColor m_bkColor{255, 255, 255};
    QTimer m_timer;
};
