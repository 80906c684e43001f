#pragma once

#include "frame_display.h"
#include "runtime_services.h"

#include <QObject>
#include <QWidget>

#include <array>

// The animation: 33 stages, stage n driven by timer n. Each stage switches its
// own timer off, switches the next one on (the last stage: the Start button) and
// shows its frame. Which timer is enabled is the only record of where the chain is.
//
// Within one refresh of the screen before a frame is due, the window's other
// repaints (the text box's blinking cursor, typing) wait for that frame and
// reach the screen in its flush. A compositor draws a window's content at most
// once a refresh: a flush of the cursor just before the frame's would make the
// frame wait for the next refresh.
class StageChain : public QObject
{
    Q_OBJECT
public:
    using Timers = std::array<RuntimeTimer *, StageCount>;

    StageChain(RuntimeServices &runtime, const Timers &timers, QWidget &startButton,
               FrameDisplay &display, QObject *parent = nullptr);

    // Whether a stage is running: its frame being read or painted.
    bool inStage() const { return m_inStage; }

signals:
    // A stage has run to its end with its frame on screen.
    void stageFinished(int stage);
    // A stage failed; the chain was stopped and the error reported.
    void failed(int stage);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void runStage(int stage);
    void stop();
    bool frameDueWithinRefresh() const;
    void releaseHeldRepaint();

    RuntimeServices &m_runtime;
    Timers m_timers;
    QWidget &m_startButton;
    FrameDisplay &m_display;
    QWidget *m_window = nullptr;
    bool m_inStage = false;
    bool m_repaintHeld = false;
};
