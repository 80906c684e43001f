#include "timer_source.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

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

} // namespace

std::unique_ptr<TimerSource> makePreciseTimerSource()
{
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0)
        return std::make_unique<TimerfdSource>(fd);
    return makeQtTimerSource();
}
