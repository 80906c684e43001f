#pragma once

// The pace reference for the benchmarks, built for Linux and for Windows: a
// plain Qt window that does the program's work with nothing of ours. A click
// plays 1.bmp ... 32.bmp and -1.bmp from the current folder, frame n due
// n x T ms after the click, each read with Qt's reader and painted at once,
// on Qt's precise timers.
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <functional>

class BarePlayer : public QWidget
{
public:
    static constexpr int Frames = 33;

    // What a benchmark in the same process is told of each frame; the
    // reference program sets none of them.
    std::function<void(int frame)> started, loaded, shown;

    explicit BarePlayer(int interval) : m_interval(interval)
    {
        setWindowTitle(QStringLiteral("Bare player"));
        setFixedSize(320, 309);
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { showFrame(); });
    }

    void play()
    {
        if (m_frame != 0)
            return; // playing
        m_clock.start();
        m_frame = 1;
        schedule();
    }

protected:
    void mousePressEvent(QMouseEvent *) override { play(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawImage(0, 0, m_picture);
    }

private:
    void schedule()
    {
        const double wait = double(m_frame) * m_interval - double(m_clock.nsecsElapsed()) / 1e6;
        m_timer.start(std::max(0, int(std::ceil(wait))));
    }
    void showFrame()
    {
        const int frame = m_frame;
        if (started)
            started(frame);
        m_picture = QImage(frame == Frames ? QStringLiteral("-1.bmp") : QStringLiteral("%1.bmp").arg(frame));
        if (loaded)
            loaded(frame);
        repaint();
        if (shown)
            shown(frame);
        m_frame = frame == Frames ? 0 : frame + 1;
        if (m_frame != 0)
            schedule();
    }

    const int m_interval;
    int m_frame = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QImage m_picture;
};
