#pragma once

// What the parts of tarvek-bench share: the clock, the spread of a sample, the
// folders of frames, and one run of 33 frames as a chain child reports it.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>
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
