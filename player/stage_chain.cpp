#include "stage_chain.h"

StageChain::StageChain(RuntimeServices &runtime, const Timers &timers, QWidget &startButton,
                       FrameDisplay &display, QObject *parent)
    : QObject(parent), m_runtime(runtime), m_timers(timers), m_startButton(startButton),
      m_display(display)
{
    for (int stage = 1; stage <= StageCount; ++stage)
        connect(m_timers[std::size_t(stage - 1)], &RuntimeTimer::timer, this,
                [this, stage] { runStage(stage); });
}

void StageChain::runStage(int stage)
{
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

void StageChain::stop()
{
    for (RuntimeTimer *timer : m_timers)
        timer->setEnabled(false);
    m_startButton.setEnabled(true);
}
