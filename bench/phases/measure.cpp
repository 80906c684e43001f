#include "measure.h"

#include "frame_display.h"

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>

QElapsedTimer clockMs;

void Sample::add(const std::vector<Frame> &run)
{
    if (run.size() != StageCount)
        return;
    for (std::size_t k = 1; k < run.size(); ++k) {
        const Frame &f = run[k];
        const double ready = std::max(f.ready, run[k - 1].end);
        wake.push_back(f.tick - ready);
        load.push_back(f.loaded - f.loadStart);
        show.push_back(f.end - f.loaded);
        late.push_back(f.tick - run[0].tick - double(k) * Interval * 1e3);
    }
}

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(q * double(v.size() - 1) + 0.5))];
}

void printRow(const char *what, const std::vector<double> &v)
{
    std::printf("    %-30s %9.1f %9.1f %9.1f\n", what, quantile(v, 0.5), quantile(v, 0.99), quantile(v, 1));
}

void waitExposed(QWidget &window)
{
    window.show();
    QElapsedTimer up;
    up.start();
    while ((!window.windowHandle() || !window.windowHandle()->isExposed()) && up.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QImage TimedRuntime::loadPicture(const QString &fileName)
{
    frames->back().loadStart = nowUs();
    QImage picture = RuntimeServices::loadPicture(fileName);
    frames->back().loaded = nowUs();
    return picture;
}
