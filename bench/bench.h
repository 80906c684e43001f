#pragma once

// What the parts of tarvek-bench share: the clock, the spread of a sample, the
// folders of frames, one run of 33 frames as a chain child reports it, the
// report, and each part's entry.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

double monotonicMs(); // CLOCK_MONOTONIC, which the program's timers and the compositor use too
void writeFrames(const QString &dir, QSize size);
void waitExposed(QWidget &window);

struct Stats
{
    double median = 0, p99 = 0, max = 0;
    double over05 = 0, over1 = 0, over2 = 0; // shares above 0.5, 1 and 2 ms of a sample in µs, in per cent
};
Stats statsOf(std::vector<double> v);
double median(std::vector<double> v);

// One chain child's runs, in the order they came.
struct ChainRuns
{
    std::vector<int> painted;        // frames painted per run
    std::vector<double> runMs;       // press to the closing frame painted
    std::vector<double> driftMs;     // closing frame painted minus (press + 33 t)
    std::vector<double> hopUs;       // woke minus due, per frame
    std::vector<double> paintedUs;   // end of the frame's paint minus its due time
    std::vector<double> presentedUs; // the compositor's presentation minus due; -1: none, -2: discarded
    // Per frame, 1 where the compositor showed it with the window's commit
    // after the frame's own, which replaced it, else 0.
    std::vector<double> superseded;
    void add(const QList<QByteArray> &answer);
};

// A chain child's answer to "run T": one line,
// "PAINTED RUN_MS DRIFT_MS;HOPS;PAINT_ENDS;PRESENTED;SUPERSEDED".
QByteArray runAnswer(int painted, double runMs, double driftMs, const std::vector<double> &hops,
                     const std::vector<double> &paintEnds, const std::vector<double> &presented,
                     const std::vector<double> &superseded);
// A child's loop: answers each request line on standard input with one line;
// an empty answer ends the child with a failure.
int serveRequests(const std::function<QByteArray(const QByteArray &request)> &answer);

// The report: a table on standard output, and every figure in one JSON object.
class Report
{
public:
    void title(const char *text);
    // A line of words under a title.
    void note(const QString &text);
    // One figure for us and for its reference, and their ratio.
    void pair(const QString &what, double ours, double reference, const char *unit, const QString &key);
    void stats(const QString &what, const Stats &s, const QString &key);
    void line(const QString &what, double value, const char *unit, const QString &key);
    QJsonObject &json() { return m_json; }
    void finish() const;

private:
    QJsonObject m_json;
};

// Starting and talking to the child processes that measure.
class Child
{
public:
    // This program again with args, in env; through wrapper (a script that
    // starts a compositor, with its arguments, say) when given.
    Child(const QStringList &args, const QProcessEnvironment &env, const QStringList &wrapper = {});
    ~Child();
    // Sends one request and returns the answer's line, split at separator.
    QList<QByteArray> ask(const QByteArray &request, int timeoutMs, char separator = ' ');
    // One run of the chain at interval ms.
    void run(int interval, ChainRuns &into);

private:
    QProcess m_process;
};

// The caller's environment with Qt's platform, and DISPLAY when given.
QProcessEnvironment platformEnvironment(const QString &platform, const QByteArray &display);

// Answers "load W H COLD REPEATS": writes a W × H frame as 1.bmp in a folder of
// its own under dir, shows it REPEATS times through show (which returns the
// time it took, in µs), dropping the file from the page cache before each
// when COLD is 1, and answers the median. Anything else: an empty answer.
QByteArray loadRequest(const QByteArray &request, const QString &dir, const std::function<double(const QString &)> &show);

// The animation's timing: when each frame's tick comes and when its paint
// ends, against its due time, for the program and for the bare player.
// The child process that measures the program's window on one platform; it
// answers "run T" and "load W H COLD REPEATS". A still cursor does not blink.
int programChild(const QString &dir, bool stillCursor = false);

// A program child and a bare player child on one platform.
struct PlatformPair
{
    QString platform;
    std::unique_ptr<Child> program, reference;
};

// Plays interleaved rounds at 100, 16 and 1 ms on every pair and the wake-only
// chain, and reports lateness, paint ends and the closing frame's drift.
void measureTiming(Report &report, std::vector<PlatformPair> &pairs, bool quick);

// The compositors the on-screen part runs under, by name: "sway", "mutter", "kwin".
QStringList compositorNames();
// The command that runs a child inside a headless Wayland compositor of its
// own, named as above, as the real-window tests' are started; empty, with the
// reason in whyNot, where the compositor is not installed.
QStringList compositorWrapper(const QString &compositor, QString *whyNot);

// Resident memory of the program and of the bare player, each in a child process.
struct Memory
{
    double peakMb = 0, growthKb = 0;
};

// The child: who is "program" or "reference"; plays runs at 1 ms in dir.
int memoryChild(const QString &who, const QString &dir, int runs);
Memory memoryOf(const QString &who, const QString &dir, int runs);

// Start-up: from fork to the moment the X server maps the window.
// The median for each executable, started in turns so that all see the same
// machine; -1 where its window never came.
std::vector<double> startupMs(const std::vector<QByteArray> &executables, const QByteArray &display,
                              const QString &framesDir, int repeats);
