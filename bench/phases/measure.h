// What tarvek-phases measures with: a microsecond clock, a frame's moments, the
// figures of many frames, and the program's runtime with its loads timed.
#pragma once

#include "runtime_services.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <functional>
#include <vector>

class QWidget;

inline constexpr int Interval = 1;

// Microseconds on one clock, started by main().
extern QElapsedTimer clockMs;
inline double nowUs() { return double(clockMs.nsecsElapsed()) / 1e3; }

struct Frame
{
    double ready = 0, tick = 0, loadStart = 0, loaded = 0, end = 0;
};

// Each played frame's phases, over frames 2 to 33 of complete runs.
struct Sample
{
    std::vector<double> wake, load, show, late;
    void add(const std::vector<Frame> &run);
};

double quantile(std::vector<double> v, double q);
void printRow(const char *what, const std::vector<double> &v);
void waitExposed(QWidget &window);

// The program's runtime, with the picture's load timed.
class TimedRuntime : public RuntimeServices
{
public:
    std::vector<Frame> *frames = nullptr;
    QImage loadPicture(const QString &fileName) override;
};

// How late a handler runs, 200 times, its due time `ahead` µs after arming.
template <typename Arm>
std::vector<double> wakeUps(double ahead, Arm arm)
{
    std::vector<double> late;
    for (int i = 0; i < 200; ++i) {
        QEventLoop loop;
        double woke = 0;
        const double due = nowUs() + ahead;
        arm(ahead, [&] {
            woke = nowUs();
            loop.quit();
        });
        loop.exec();
        late.push_back(woke - due);
    }
    return late;
}
