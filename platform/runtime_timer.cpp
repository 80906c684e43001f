#include "runtime_timer.h"

#include "runtime_error.h"

#include <QPointer>

#include <algorithm>

TimerScheduler::TimerScheduler(std::unique_ptr<TimerSource> source, QObject *parent)
    : QObject(parent), m_source(std::move(source))
{
    m_source->setWakeHandler([this] { onWake(); });
}

TimerScheduler::~TimerScheduler()
{
    m_source->setWakeHandler({});
}

Nanoseconds TimerScheduler::now() const
{
    return m_dispatchDue ? *m_dispatchDue : m_source->now();
}

void TimerScheduler::add(RuntimeTimer *timer)
{
    m_timers.push_back(timer);
}

void TimerScheduler::remove(RuntimeTimer *timer)
{
    std::erase(m_timers, timer);
    reschedule();
}

RuntimeTimer *TimerScheduler::earliest() const
{
    RuntimeTimer *first = nullptr;
    for (RuntimeTimer *timer : m_timers) {
        // Strictly earlier only: of two timers due together, the older one ticks first.
        if (timer->m_nextDue && (!first || *timer->m_nextDue < *first->m_nextDue))
            first = timer;
    }
    return first;
}

void TimerScheduler::reschedule()
{
    // A handler may switch several timers; the source is armed once, after it returns.
    if (m_dispatchDue)
        return;
    if (const RuntimeTimer *next = earliest())
        m_source->wakeAt(*next->m_nextDue);
    else
        m_source->cancel();
}

void TimerScheduler::onWake()
{
    if (m_dispatchDue)
        return; // a nested event loop inside a handler; the wake is re-armed after it
    const Nanoseconds woke = m_source->now();
    QPointer<RuntimeTimer> timer = earliest();
    if (!timer || *timer->m_nextDue > woke) {
        reschedule();
        return;
    }

    // One tick per wake-up, so paint and input events get their turn between ticks.
    // A late tick is delivered once; the periods it overran are not owed again,
    // and the timer keeps its phase.
    const Nanoseconds due = *timer->m_nextDue;
    const Nanoseconds period = std::chrono::milliseconds(timer->m_interval);
    Nanoseconds next = due + period;
    if (next <= woke)
        next += ((woke - next) / period + 1) * period;
    timer->m_nextDue = next;
    m_dispatchDue = due;
    emit aboutToTick(timer, due.count(), woke.count());
    if (timer)
        emit timer->timer();
    m_dispatchDue.reset();
    reschedule();
}

RuntimeTimer::RuntimeTimer(TimerScheduler &scheduler, QObject *parent)
    : QObject(parent), m_scheduler(scheduler)
{
    m_scheduler.add(this);
}

RuntimeTimer::~RuntimeTimer()
{
    m_scheduler.remove(this);
}

void RuntimeTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restartCount();
}

void RuntimeTimer::setInterval(std::int32_t milliseconds)
{
    if (milliseconds < 0 || milliseconds > MaxInterval)
        throw RuntimeError(ErrorNumber::InvalidPropertyValue);
    m_interval = milliseconds;
    restartCount();
}

void RuntimeTimer::restartCount()
{
    if (m_enabled && m_interval > 0)
        m_nextDue = m_scheduler.now() + std::chrono::milliseconds(m_interval);
    else
        m_nextDue.reset();
    m_scheduler.reschedule();
}
