#pragma once

// When the compositor has each frame on its output, through a Wayland
// window's surface, and what a 60 Hz display would make of those times.
#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class QWindow;

class PresentationRecorder
{
public:
    explicit PresentationRecorder(QWindow *window); // does nothing off Wayland
    ~PresentationRecorder();
    bool available() const;
    // Asks when the compositor presents the window's next commit, a frame's.
    void beforeFrame();
    // After the frame's commit: asks when it presents the commit after it,
    // which shows the frame where the compositor discarded the frame's own.
    void afterFrame();
    struct Presentation
    {
        double atMs = -1; // on CLOCK_MONOTONIC; -1: discarded, or never answered
        bool discarded = false; // the compositor said the frame was never shown
        bool superseded = false; // shown with the window's commit after the frame's, which replaced it
    };
    // The presentations asked for since the last call, in order.
    std::vector<Presentation> collect();
    // Where the times come from, one line: "wp_presentation CLOCK",
    // "frame-callbacks" (with " unpresented-wp_presentation" where the
    // compositor offered the protocol and presented none of a run), or "none".
    QByteArray source() const;

    struct Wayland; // the connection's objects, where there is one

private:
    std::unique_ptr<Wayland> m_wayland;
};

// Each presentation's time minus its frame's due time, in µs, in order; -1 for
// a frame never answered for, -2 for one the compositor discarded.
std::vector<double> latenessUs(const std::vector<PresentationRecorder::Presentation> &presented, const std::vector<double> &dueMs);
// Per presentation, 1 where the frame was shown with the commit after its own, else 0.
std::vector<double> supersededFlags(const std::vector<PresentationRecorder::Presentation> &presented);

class Report;
// Plays runs at 100, 53, 50 and 40 ms in a headless compositor (one of
// compositorNames()), the program and the bare player in turns, and reports
// what reached the screen and when. With a still cursor the program's text box
// does not blink.
void measurePresentation(Report &report, const QString &frames, bool quick, const QString &compositor, bool stillCursor = false);
