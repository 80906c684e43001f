#pragma once

// When the compositor has each frame on its output, through a Wayland
// window's surface, and what a 60 Hz display would make of those times.
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
    // Asks when the compositor has composed the window's next commit.
    void beforeFrame();
    // The times asked for since the last call, in ms on CLOCK_MONOTONIC, in
    // order; -1 for a frame the compositor never answered for.
    std::vector<double> collect();

    struct Wayland; // the connection's objects, where there is one

private:
    std::unique_ptr<Wayland> m_wayland;
};

// How many refreshes of a display refreshing every refreshMs each frame but
// the last stays on screen, when frames reach the compositor at the times
// given and each is shown from the next refresh on; the grid's phase is
// phaseMs. Frames not presented (negative times) are left out.
std::vector<int> refreshesShown(const std::vector<double> &presentedMs, double refreshMs, double phaseMs);

// The chance, over a display's phase spread evenly over one refresh of
// refreshMs, that a frame stays on screen for another number of refreshes than
// it would had it reached the compositor as late as the frame before it did:
// that a refresh falls between the two latenesses, min(|d|, R) / R for
// latenesses d apart, whatever the interval. The mean over the pairs of
// consecutive frames both presented, of one run's latenesses in ms (negative:
// not presented); -1 when there is no such pair.
double exactJudder(const std::vector<double> &latenessMs, double refreshMs);

class Report;
// Plays runs at 100, 53, 50 and 40 ms in a headless compositor, the program and the
// bare player in turns, and reports what reached the screen and when. With a
// still cursor the program's text box does not blink.
void measurePresentation(Report &report, const QString &frames, bool quick, bool stillCursor = false);
