#include "timer_source.h"

#include <QElapsedTimer>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace {

class QtTimerSource final : public TimerSource
{
public:
    QtTimerSource()
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { wake(); });
        m_clock.start();
    }

    Nanoseconds now() const override { return Nanoseconds(m_clock.nsecsElapsed()); }

    void wakeAt(Nanoseconds deadline) override
    {
        const auto remaining = deadline - now();
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(remaining);
        m_timer.start(std::max<int>(0, int(std::min<std::int64_t>(wait.count(), 1 << 30))));
    }

    void cancel() override { m_timer.stop(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
};

#ifdef Q_OS_LINUX
// A one-shot CLOCK_MONOTONIC timerfd armed at an absolute deadline, watched by
// the event loop. A QTimer rounds its wait to whole milliseconds; this source
// sleeps until shortly before the deadline and spins the last stretch, since
// waking from a long sleep alone takes a hundred microseconds or more here.
class TimerfdSource final : public TimerSource
{
public:
    static constexpr Nanoseconds SpinStretch = std::chrono::microseconds(200);

    explicit TimerfdSource(int fd) : m_fd(fd), m_notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { onReadable(); });
    }
    ~TimerfdSource() override
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    Nanoseconds now() const override
    {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::chrono::seconds(ts.tv_sec) + Nanoseconds(ts.tv_nsec);
    }

    void wakeAt(Nanoseconds deadline) override
    {
        m_deadline = deadline;
        // An all-zero value would disarm the timer instead of firing at once.
        const auto ns = std::max<std::int64_t>((deadline - SpinStretch).count(), 1);
        itimerspec setting{};
        setting.it_value.tv_sec = ns / 1'000'000'000;
        setting.it_value.tv_nsec = ns % 1'000'000'000;
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &setting, nullptr);
    }

    void cancel() override
    {
        itimerspec setting{};
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &setting, nullptr);
    }

private:
    void onReadable()
    {
        std::uint64_t expirations = 0;
        if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
            return; // re-armed or cancelled since it became readable
        while (now() < m_deadline) {
        }
        wake();
    }

    int m_fd;
    Nanoseconds m_deadline{};
    QSocketNotifier m_notifier;
};
#endif

} // namespace

std::unique_ptr<TimerSource> makeQtTimerSource()
{
    return std::make_unique<QtTimerSource>();
}

std::unique_ptr<TimerSource> makePreciseTimerSource()
{
#ifdef Q_OS_LINUX
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0)
        return std::make_unique<TimerfdSource>(fd);
#endif
    return makeQtTimerSource();
}
