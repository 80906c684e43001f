#include "stage_chain.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScopeGuard>
#include <QScreen>

#include <chrono>
#include <utility>

StageChain::StageChain(RuntimeServices &runtime, const Timers &timers, QWidget &startButton,
                       FrameDisplay &display, QObject *parent)
    : QObject(parent), m_runtime(runtime), m_timers(timers), m_startButton(startButton),
      m_display(display), m_window(startButton.window())
{
    m_window->installEventFilter(this);
    for (int stage = 1; stage <= StageCount; ++stage)
        connect(m_timers[std::size_t(stage - 1)], &RuntimeTimer::timer, this,
                [this, stage] { runStage(stage); });
}

void StageChain::runStage(int stage)
{
    // The frame's repaint flushes whatever else of the window waits to be painted.
    m_inStage = true;
    const auto stageEnd = qScopeGuard([this] {
        m_inStage = false;
        releaseHeldRepaint();
    });
    try {
        // The next timer is switched on before the picture is read, so its interval
        // counts from this tick and the load time is part of it.
        m_timers[std::size_t(stage - 1)]->setEnabled(false);
        if (stage < StageCount)
            m_timers[std::size_t(stage)]->setEnabled(true);
        m_display.showFrame(stage);
        // Start unlocks with the closing frame, once that frame is painted: the
        // button's own repaint must not hold up the frame's.
        if (stage == StageCount)
            m_startButton.setEnabled(true);
    } catch (const RuntimeError &error) {
        // Stop first: the next stage is armed already, and it must not run behind
        // the report nor after it.
        stop();
        m_runtime.report(error, m_startButton.window());
        emit failed(stage);
        return;
    }
    emit stageFinished(stage);
}

bool StageChain::eventFilter(QObject *watched, QEvent *event)
{
    // A window's repaint outside a stage comes as a posted update request; the
    // frame's own repaint is sent inside its stage.
    if (watched == m_window && event->type() == QEvent::UpdateRequest && !m_inStage && frameDueWithinRefresh()) {
        m_repaintHeld = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool StageChain::frameDueWithinRefresh() const
{
    const QScreen *screen = m_window->screen();
    const qreal hz = screen ? screen->refreshRate() : 0;
    const Nanoseconds refresh(std::int64_t(1e9 / (hz >= 1 && hz <= 1000 ? hz : 60)));
    const Nanoseconds now = m_runtime.timers().now();
    for (const RuntimeTimer *timer : m_timers)
        if (timer->isEnabled() && timer->nextDue() && *timer->nextDue() - now <= refresh)
            return true;
    return false;
}

// A held repaint went out with the frame's flush; should it not have (a stage
// that failed, a window not shown), the request is made again, and goes out at
// once unless the next frame is near and will take it.
void StageChain::releaseHeldRepaint()
{
    if (!std::exchange(m_repaintHeld, false))
        return;
    QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

void StageChain::stop()
{
    for (RuntimeTimer *timer : m_timers)
        timer->setEnabled(false);
    m_startButton.setEnabled(true);
    releaseHeldRepaint(); // painted behind the report, as the rest of the window
}
