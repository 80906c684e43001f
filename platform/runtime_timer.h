#pragma once

#include "timer_source.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class RuntimeTimer;

// Drives every RuntimeTimer from one TimerSource and delivers their ticks one at
// a time on the UI thread.
//
// While a tick is being handled, now() is the moment that tick was due, not the
// moment it was delivered. A timer enabled inside a tick handler therefore counts
// its interval from the due time, and a chain of timers that hand over to each
// other keeps to its schedule instead of adding up every wake-up's lateness.
class TimerScheduler : public QObject
{
    Q_OBJECT
public:
    explicit TimerScheduler(std::unique_ptr<TimerSource> source, QObject *parent = nullptr);
    ~TimerScheduler() override;

    Nanoseconds now() const;
    TimerSource &source() { return *m_source; }

signals:
    // Emitted just before a timer's own event, with the time it was due and the
    // time the source woke for it (both in nanoseconds of the source's clock).
    void aboutToTick(const RuntimeTimer *timer, qint64 dueNs, qint64 wokeNs);

private:
    friend class RuntimeTimer;
    void add(RuntimeTimer *timer);
    void remove(RuntimeTimer *timer);
    void reschedule();
    void onWake();
    RuntimeTimer *earliest() const;

    std::unique_ptr<TimerSource> m_source;
    std::vector<RuntimeTimer *> m_timers;
    std::optional<Nanoseconds> m_dispatchDue;
};

// A timer control: ticks once per Interval milliseconds while Enabled, the first
// tick one whole interval after it was enabled. An Interval of 0 never ticks.
class RuntimeTimer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::int32_t MaxInterval = 65535;

    explicit RuntimeTimer(TimerScheduler &scheduler, QObject *parent = nullptr);
    ~RuntimeTimer() override;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    std::int32_t interval() const { return m_interval; }
    // Accepts 0 ... MaxInterval and restarts the count; any other value throws
    // RuntimeError (InvalidPropertyValue) and leaves the interval as it was.
    void setInterval(std::int32_t milliseconds);

    std::optional<Nanoseconds> nextDue() const { return m_nextDue; }

signals:
    void timer();

private:
    friend class TimerScheduler;
    void restartCount();

    TimerScheduler &m_scheduler;
    bool m_enabled = false;
    std::int32_t m_interval = 1;
    std::optional<Nanoseconds> m_nextDue;
};
