// The pace reference that tarvek-pace runs beside the program, built for Linux
// and for Windows, T (ms) its first argument: a plain Qt window that does the
// program's work with nothing of ours. A click plays 1.bmp ... 32.bmp and
// -1.bmp from the current folder, frame n due n x T ms after the click, each
// read with Qt's reader and painted at once, on Qt's precise timers.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
class BarePlayer : public QWidget
{
public:
    static constexpr int Frames = 33;

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
        m_picture = QImage(frame == Frames ? QStringLiteral("-1.bmp") : QStringLiteral("%1.bmp").arg(frame));
        repaint();
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
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BarePlayer player(argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100);
    player.show();
    return QApplication::exec();
}
