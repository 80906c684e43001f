#include "timer_source.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdint>

namespace {

class QtTimerSource final : public TimerSource
{
public:
    QtTimerSource()
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            // Windows' timers fire on their own tick, up to a millisecond before
            // the clock here says the deadline has come: the rest is spun.
            while (now() < m_deadline) {
            }
            wake();
        });
        m_clock.start();
    }

    Nanoseconds now() const override { return Nanoseconds(m_clock.nsecsElapsed()); }

    void wakeAt(Nanoseconds deadline) override
    {
        m_deadline = deadline;
        const auto remaining = deadline - now();
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(remaining);
        m_timer.start(std::max<int>(0, int(std::min<std::int64_t>(wait.count(), 1 << 30))));
    }

    void cancel() override { m_timer.stop(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    Nanoseconds m_deadline{};
};

} // namespace

std::unique_ptr<TimerSource> makeQtTimerSource()
{
    return std::make_unique<QtTimerSource>();
}
