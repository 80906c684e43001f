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

} // namespace

std::unique_ptr<TimerSource> makeQtTimerSource()
{
    return std::make_unique<QtTimerSource>();
}
