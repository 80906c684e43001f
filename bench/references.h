#pragma once

// The references: the same work as the program with nothing of ours, and the
// machine's limit.
#include "bench.h"

#include <QImage>
#include <QWidget>

#include <memory>

class QEventLoop;
class QSocketNotifier;
class PresentationRecorder;

// A bare Qt player: a plain window whose picture widget, on a chain of
// timerfd due times (frame n due n × t after the press), reads each frame
// with Qt's reader and repaints itself with it.
class BarePlayer : public QWidget
{
public:
    BarePlayer();
    ~BarePlayer() override;
    // Plays the 33 frames of the current folder at interval ms; false on a
    // frame that would not come.
    bool play(int interval);
    // The last run, as a chain child answers it.
    QByteArray answer() const;
    QByteArray presentationSource() const; // where the frames' presentation times come from
    // Reads and shows one frame; the time it took, in µs.
    double loadAndShow(const QString &fileName);

private:
    void wake();

    struct Picture;
    Picture *m_picture;
    std::unique_ptr<PresentationRecorder> m_presentation;
    int m_fd = -1;
    QEventLoop *m_loop = nullptr; // while a run plays
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_interval = 0, m_frame = 0;
    double m_pressedMs = 0, m_dueMs = 0, m_finishedMs = 0;
    std::vector<double> m_hops, m_paintEnds, m_dues;
};

// The machine's limit: one run of 33 one-shot timerfd wake-ups, each armed
// from the previous one's due time, with nothing else around them.
std::vector<double> wakeOnlyHops(int interval);

// The child process that measures the bare player on one platform; it answers
// "run T" and "load W H COLD REPEATS" as the program's child does.
int referenceChild(const QString &dir);
