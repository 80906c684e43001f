#include "timer_source.h"

#include <QCoreApplication>
#include <QWinEventNotifier>

#include <cstdint>
#include <utility>

#include <windows.h>
#include <mmsystem.h>

namespace {

// A one-shot waitable timer on the performance counter's clock. Windows' own
// timers wake on the system tick: a high-resolution waitable timer where the
// system has one, else the tick raised to 1 ms while the program runs. Either
// way the wait ends a little early and the last stretch is spun, as on Linux,
// but longer, since a wake-up here comes up to a tick late.
// The timer's completion routine wakes the program on its own thread, as soon
// as the event loop waits, which Qt's does alertably. A window being moved or
// sized, or a system dialog, runs a loop of its own that is not alertable; in
// it the timer's signal still comes, watched by the event loop through a
// notifier, later, by way of the thread pool's wait thread and a posted event.
// Whichever comes first wakes; the other then finds nothing due.
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
        // Cancelling also takes back a completion routine that is queued but has not run.
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
        m_dueNow = false;
        unsetTimer();
    }

private:
    static void CALLBACK completed(void *source, DWORD, DWORD)
    {
        static_cast<WaitableTimerSource *>(source)->onSignalled();
    }

    void onSignalled()
    {
        m_timerSet = false;
        if (!m_armed)
            return; // cancelled since it signalled
        // A signal from before the last re-arming, or one that came early: wait on.
        if (m_deadline - now() > SpinStretch) {
            arm();
            return;
        }
        for (;;) {
            m_armed = false;
            while (now() < m_deadline) {
            }
            m_waking = true;
            wake();
            m_waking = false;
            // A deadline the handler set that has passed already (a program
            // behind its time) follows at once while no input or paint waits:
            // a turn of the event loop costs a good part of a millisecond
            // under Wine, and frames that must catch up would gain little on
            // each. Input that came meanwhile has its turn first, as always.
            if (!std::exchange(m_dueNow, false) || !m_armed)
                return;
            if (HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT | QS_SENDMESSAGE)) != 0) {
                arm();
                return;
            }
            // Qt's own posted events (a repaint asked for, a queued close, a
            // deferred deletion) have their turn before the next frame too, as
            // in a turn of the event loop. They may cancel or move the deadline.
            m_waking = true;
            QCoreApplication::sendPostedEvents();
            m_waking = false;
            m_dueNow = false;
            if (!m_armed)
                return;
            if (m_deadline - now() > SpinStretch) {
                arm();
                return;
            }
        }
    }

    void arm()
    {
        const auto wait = m_deadline - SpinStretch - now();
        if (wait.count() <= 0) {
            // Due now or within the stretch that is spun anyway, as a frame is
            // when the one before took most of its interval: a posted event,
            // as Qt's own zero timer is, wakes on the next turn of the event
            // loop without the timer's signal passing through the system.
            unsetTimer();
            if (m_waking) {
                m_dueNow = true; // followed on when the handler returns
                return;
            }
            if (!m_posted) {
                m_posted = true;
                QMetaObject::invokeMethod(&m_notifier, [this] {
                    m_posted = false;
                    onSignalled();
                }, Qt::QueuedConnection);
            }
            return;
        }
        m_dueNow = false;
        // Relative, in 100 ns units, negative.
        LARGE_INTEGER due{};
        due.QuadPart = -(wait.count() / 100);
        ::SetWaitableTimer(m_timer, &due, 0, &WaitableTimerSource::completed, this, FALSE);
        m_timerSet = true;
        m_notifier.setEnabled(true);
    }

    // A call to the system only when the timer may still be set.
    void unsetTimer()
    {
        if (m_timerSet)
            ::CancelWaitableTimer(m_timer);
        m_timerSet = false;
    }

    HANDLE m_timer;
    bool m_raisedTick;
    QWinEventNotifier m_notifier;
    std::int64_t m_frequency = 1;
    Nanoseconds m_deadline{};
    bool m_armed = false;
    bool m_timerSet = false; // since it last signalled, or the last cancel
    bool m_posted = false; // an event is on its way to onSignalled()
    bool m_waking = false; // inside the wake handler
    bool m_dueNow = false; // the handler set a deadline that has passed
};

} // namespace

std::unique_ptr<TimerSource> makePreciseTimerSource()
{
    constexpr DWORD HighResolution = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
    if (HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS))
        return std::make_unique<WaitableTimerSource>(timer, false);
    if (HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS)) {
        ::timeBeginPeriod(1);
        return std::make_unique<WaitableTimerSource>(timer, true);
    }
    return makeQtTimerSource();
}
