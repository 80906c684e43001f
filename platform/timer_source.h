#pragma once

#include <chrono>
#include <functional>
#include <memory>

using Nanoseconds = std::chrono::nanoseconds;

// Where the runtime's timers get their time and their wake-ups from. One
// source serves all timers: it is armed for the earliest deadline only.
class TimerSource
{
public:
    virtual ~TimerSource() = default;

    // Monotonic time; the deadlines passed to wakeAt() are on the same scale.
    virtual Nanoseconds now() const = 0;
    // Wake once at the deadline, replacing any earlier request. A deadline that
    // has already passed wakes as soon as the event loop runs again, never inside
    // this call; on Windows, one set by the wake handler may follow as soon as
    // the handler returns, while no input or paint waits.
    virtual void wakeAt(Nanoseconds deadline) = 0;
    virtual void cancel() = 0;

    void setWakeHandler(std::function<void()> handler) { m_onWake = std::move(handler); }

protected:
    void wake()
    {
        if (m_onWake)
            m_onWake();
    }

private:
    std::function<void()> m_onWake;
};

// The most precise source of the system, each in a file of its own: a one-shot
// timerfd on Linux (timer_source_linux.cpp), a waitable timer on Windows
// (timer_source_win.cpp), a precise QTimer elsewhere or where those fail.
std::unique_ptr<TimerSource> makePreciseTimerSource();
// A precise QTimer. It rounds each wait up to a whole millisecond.
std::unique_ptr<TimerSource> makeQtTimerSource();
