#pragma once

#include "frame_display.h"
#include "runtime_services.h"

#include <QObject>
#include <QWidget>

#include <array>

// The animation: 33 stages, stage n driven by timer n. Each stage switches its
// own timer off, switches the next one on (the last stage: the Start button) and
// shows its frame. Which timer is enabled is the only record of where the chain is.
class StageChain : public QObject
{
    Q_OBJECT
public:
    using Timers = std::array<RuntimeTimer *, StageCount>;

    StageChain(RuntimeServices &runtime, const Timers &timers, QWidget &startButton,
               FrameDisplay &display, QObject *parent = nullptr);

signals:
    // A stage has run to its end with its frame on screen.
    void stageFinished(int stage);
    // A stage failed; the chain was stopped and the error reported.
    void failed(int stage);

private:
    void runStage(int stage);
    void stop();

    RuntimeServices &m_runtime;
    Timers m_timers;
    QWidget &m_startButton;
    FrameDisplay &m_display;
};
