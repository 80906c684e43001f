#include "timer_source.h"

#include <QWinEventNotifier>

#include <algorithm>
#include <cstdint>

#include <windows.h>
#include <mmsystem.h>

namespace {

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
