#include "timer_source.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdint>

#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <cerrno>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <windows.h>
#include <mmsystem.h>
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

#ifdef Q_OS_WIN
// A one-shot waitable timer, watched by the event loop, on the performance
// counter's clock. Windows' own timers wake on the system tick: a
// high-resolution waitable timer where the system has one, else the tick raised
// to 1 ms while the program runs. Either way the wait ends a little early and the
// last stretch is spun, as on Linux, but longer, since a wake-up here comes up
// to a tick late and also passes through the event notifier's thread.
class WaitableTimerSource final : public TimerSource
{
public:
    static constexpr Nanoseconds SpinStretch = std::chrono::microseconds(1500);

    WaitableTimerSource(HANDLE timer, bool raisedTick)
        : m_timer(timer), m_raisedTick(raisedTick), m_notifier(timer)
    {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        m_frequency = frequency.QuadPart;
        QObject::connect(&m_notifier, &QWinEventNotifier::activated, [this] { onSignalled(); });
    }
    ~WaitableTimerSource() override
    {
        m_notifier.setEnabled(false);
        ::CancelWaitableTimer(m_timer);
        ::CloseHandle(m_timer);
        if (m_raisedTick)
            ::timeEndPeriod(1);
    }

    Nanoseconds now() const override
    {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        const auto ticks = counter.QuadPart;
        // Split, so that the product cannot overflow however long the machine is up.
        return std::chrono::seconds(ticks / m_frequency)
            + Nanoseconds((ticks % m_frequency) * 1'000'000'000 / m_frequency);
    }

    void wakeAt(Nanoseconds deadline) override
    {
        m_deadline = deadline;
        m_armed = true;
        arm();
    }

    void cancel() override
    {
        m_armed = false;
        ::CancelWaitableTimer(m_timer);
    }

private:
    void onSignalled()
    {
        if (!m_armed)
            return; // cancelled since it signalled
        // A signal from before the last re-arming, or one that came early: wait on.
        if (m_deadline - now() > SpinStretch) {
            arm();
            return;
        }
        m_armed = false;
        while (now() < m_deadline) {
        }
        wake();
    }

    void arm()
    {
        // Relative, in 100 ns units, negative; a wait of zero or less signals at once.
        const auto wait = m_deadline - SpinStretch - now();
        LARGE_INTEGER due{};
        due.QuadPart = -std::max<std::int64_t>(wait.count() / 100, 0);
        ::SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE);
        m_notifier.setEnabled(true);
    }

    HANDLE m_timer;
    bool m_raisedTick;
    QWinEventNotifier m_notifier;
    std::int64_t m_frequency = 1;
    Nanoseconds m_deadline{};
    bool m_armed = false;
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
#ifdef Q_OS_WIN
    constexpr DWORD HighResolution = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
    if (HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS))
        return std::make_unique<WaitableTimerSource>(timer, false);
    if (HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS)) {
        ::timeBeginPeriod(1);
        return std::make_unique<WaitableTimerSource>(timer, true);
    }
#endif
    return makeQtTimerSource();
}
