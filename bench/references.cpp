// The references, measured in the same run as the program: a bare timerfd
// chain that only wakes, and a bare Qt player that does the program's work
// with nothing of ours.
#include "references.h"

#include "bench.h"
#include "presentation.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QPaintEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
void armAt(int fd, double dueMs)
{
    const long long ns = (long long)(dueMs * 1e6);
    itimerspec setting{};
    setting.it_value = {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    timerfd_settime(fd, TFD_TIMER_ABSTIME, &setting, nullptr);
}
} // namespace

struct BarePlayer::Picture : QWidget
{
    explicit Picture(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        QPainter(this).drawImage(event->rect(), image, event->rect());
    }
    QImage image;
    int paints = 0;
};

BarePlayer::BarePlayer() : m_picture(new Picture(this))
{
    setFixedSize(320, 309);
    m_picture->setGeometry(0, 0, 320, 200);
    show();
    waitExposed(*this);
    m_presentation = std::make_unique<PresentationRecorder>(windowHandle());
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { wake(); });
}

BarePlayer::~BarePlayer()
{
    m_notifier.reset();
    ::close(m_fd);
}

void BarePlayer::wake()
{
    uint64_t expirations = 0;
    if (read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
        return;
    const double due = m_dueMs;
    m_hops.push_back((monotonicMs() - due) * 1e3);
    m_dues.push_back(due);
    ++m_frame;
    if (m_frame < 33) { // the next frame is due one interval after this one was
        m_dueMs += m_interval;
        armAt(m_fd, m_dueMs);
    }
    m_presentation->beforeFrame();
    m_picture->image = QImage(m_frame == 33 ? QStringLiteral("-1.bmp") : QStringLiteral("%1.bmp").arg(m_frame));
    m_picture->repaint();
    m_finishedMs = monotonicMs();
    m_presentation->afterFrame();
    m_paintEnds.push_back((m_finishedMs - due) * 1e3);
    if (m_frame == 33 && m_loop)
        m_loop->quit();
}

bool BarePlayer::play(int interval)
{
    m_hops.clear(), m_paintEnds.clear(), m_dues.clear();
    m_frame = m_picture->paints = 0;
    m_interval = interval;
    QCoreApplication::processEvents();
    m_pressedMs = monotonicMs();
    m_dueMs = m_pressedMs + interval;
    armAt(m_fd, m_dueMs);
    QEventLoop loop; // until the closing frame, or the watchdog
    m_loop = &loop;
    QTimer::singleShot(interval * 33 + 10000, &loop, &QEventLoop::quit);
    loop.exec();
    m_loop = nullptr;
    return m_frame == 33;
}

QByteArray BarePlayer::answer() const
{
    const std::vector<PresentationRecorder::Presentation> shown = m_presentation->collect();
    const std::vector<double> presented = latenessUs(shown, m_dues);
    const double runMs = m_finishedMs - m_pressedMs;
    return runAnswer(m_picture->paints, runMs, runMs - 33.0 * m_interval, m_hops, m_paintEnds, presented, supersededFlags(shown));
}

QByteArray BarePlayer::presentationSource() const
{
    return m_presentation->source();
}

double BarePlayer::loadAndShow(const QString &fileName)
{
    const double start = monotonicMs();
    m_picture->image = QImage(fileName);
    m_picture->resize(m_picture->image.size());
    m_picture->repaint();
    return (monotonicMs() - start) * 1e3;
}

std::vector<double> wakeOnlyHops(int interval)
{
    std::vector<double> hops;
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    double due = monotonicMs();
    for (int hop = 0; hop < 33; ++hop) {
        due += interval;
        armAt(fd, due);
        uint64_t expirations = 0;
        if (read(fd, &expirations, sizeof expirations) != sizeof expirations)
            break;
        hops.push_back((monotonicMs() - due) * 1e3);
    }
    close(fd);
    return hops;
}

int referenceChild(const QString &dir)
{
    QDir::setCurrent(dir);
    BarePlayer player;
    return serveRequests([&](const QByteArray &request) -> QByteArray {
        int interval = 0;
        if (request == "presentation")
            return player.presentationSource();
        if (std::sscanf(request.constData(), "run %d", &interval) == 1)
            return player.play(interval) ? player.answer() : QByteArray();
        return loadRequest(request, dir, [&](const QString &name) { return player.loadAndShow(name); });
    });
}
