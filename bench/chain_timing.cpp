// The animation's timing on the program's real window and runtime layer, beside
// the bare player doing the same work and the bare timerfd chain, all played
// in turns so that they meet the same moments of the machine.
#include "bench.h"

#include "form1.h"
#include "presentation.h"
#include "references.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QGuiApplication>
#include <QStyleHints>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
struct PaintCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};
} // namespace

// --program-child DIR [--still-cursor]: the latter keeps the text box's cursor
// from blinking, to see what its blinking costs.
int programChild(const QString &dir, bool stillCursor)
{
    if (stillCursor)
        QGuiApplication::styleHints()->setCursorFlashTime(0);
    QDir::setCurrent(dir);
    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    waitExposed(form);
    PresentationRecorder presentation(form.windowHandle());
    PaintCounter paints;
    form.image1().installEventFilter(&paints);
    std::vector<double> hops, paintEnds, dues;
    QObject::connect(&runtime.timers(), &TimerScheduler::aboutToTick, &form, [&](const RuntimeTimer *, qint64 due, qint64 woke) {
        hops.push_back(double(woke - due) / 1e3);
        dues.push_back(double(due) / 1e6);
        presentation.beforeFrame();
    });
    QEventLoop loop;
    double finishedAt = 0;
    QObject::connect(&form.stageChain(), &StageChain::stageFinished, &form, [&](int stage) {
        const double now = monotonicMs();
        presentation.afterFrame();
        paintEnds.push_back((now - dues.back()) * 1e3);
        if (stage == StageCount) {
            finishedAt = now;
            loop.quit();
        }
    });
    QObject::connect(&form.stageChain(), &StageChain::failed, &loop, &QEventLoop::quit);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
    FrameDisplay display(runtime, form.commonDialog1(), form.image1());
    const auto loadAndShow = [&](const QString &) {
        const double start = monotonicMs();
        display.showFrame(1);
        return (monotonicMs() - start) * 1e3;
    };
    return serveRequests([&](const QByteArray &request) -> QByteArray {
        int interval = 0;
        if (request == "presentation")
            return presentation.source();
        if (std::sscanf(request.constData(), "run %d", &interval) != 1)
            return loadRequest(request, dir, loadAndShow);
        hops.clear(), paintEnds.clear(), dues.clear();
        paints.count = 0;
        finishedAt = 0;
        form.text1().setText(QString::number(interval));
        QCoreApplication::processEvents();
        const double pressedAt = monotonicMs();
        form.command1().click();
        watchdog.start(interval * StageCount + 10000);
        loop.exec();
        watchdog.stop();
        if (finishedAt == 0)
            return {};
        const std::vector<PresentationRecorder::Presentation> shown = presentation.collect();
        const std::vector<double> presented = latenessUs(shown, dues);
        const double runMs = finishedAt - pressedAt;
        return runAnswer(paints.count, runMs, runMs - interval * StageCount, hops, paintEnds, presented, supersededFlags(shown));
    });
}

void measureTiming(Report &report, std::vector<PlatformPair> &pairs, bool quick)
{
    for (int interval : {100, 16, 1}) {
        const int rounds = quick ? (interval == 100 ? 2 : interval == 16 ? 4 : 10) : 31; // 31 x 33: 1023 frames
        std::vector<ChainRuns> program(pairs.size()), reference(pairs.size());
        std::vector<double> wakeOnly;
        for (int round = 0; round <= rounds; ++round) { // the first round, never slower than 16 ms, warms up
            for (size_t p = 0; p < pairs.size(); ++p) {
                ChainRuns warmUp;
                pairs[p].program->run(round == 0 ? std::min(interval, 16) : interval, round == 0 ? warmUp : program[p]);
                pairs[p].reference->run(round == 0 ? std::min(interval, 16) : interval, round == 0 ? warmUp : reference[p]);
            }
            const std::vector<double> hops = wakeOnlyHops(interval);
            if (round > 0)
                wakeOnly.insert(wakeOnly.end(), hops.begin(), hops.end());
        }
        const QString t = QString::number(interval);
        report.title(qPrintable(QStringLiteral("Timing at t = %1 ms, %2 frames a condition; tick and paint end against "
                                               "the frame's due time").arg(t).arg(wakeOnly.size())));
        for (size_t p = 0; p < pairs.size(); ++p) {
            const QString &platform = pairs[p].platform, suffix = (p == 0 ? QString() : platform + u'_') + t;
            const Stats hop = statsOf(program[p].hopUs), painted = statsOf(program[p].paintedUs);
            const Stats refPainted = statsOf(reference[p].paintedUs);
            report.stats(u"tick, tarvek, "_s + platform, hop, u"hop_us_"_s + suffix);
            report.json()[u"late_05ms_pct_"_s + platform + u'_' + t] = hop.over05;
            report.json()[u"late_1ms_pct_"_s + platform + u'_' + t] = hop.over1;
            report.stats(u"paint end, tarvek, "_s + platform, painted, u"painted_us_"_s + platform + u'_' + t);
            report.stats(u"paint end, bare Qt, "_s + platform, refPainted, u"ref_painted_us_"_s + platform + u'_' + t);
            report.pair(u"  paint end, median, "_s + platform, painted.median, refPainted.median, "us", QString());
            report.pair(u"  paint end, p99, "_s + platform, painted.p99, refPainted.p99, "us", QString());
            report.pair(u"  closing frame painted after press + 33 t, "_s + platform, median(program[p].driftMs),
                        median(reference[p].driftMs), "ms", u"drift_ms_"_s + suffix);
            if (interval == 1) {
                const int fewest = *std::min_element(program[p].painted.begin(), program[p].painted.end());
                report.pair(u"  33 frames at 1 ms, press to closing frame, "_s + platform, median(program[p].runMs),
                            median(reference[p].runMs), "ms", p == 0 ? u"fast_run_ms"_s : u"fast_run_ms_"_s + platform);
                report.line(u"  fewest frames painted in a run of 33, tarvek, "_s + platform, fewest, "",
                            p == 0 ? u"painted"_s : u"painted_"_s + platform);
            }
        }
        const Stats ref = statsOf(wakeOnly);
        report.stats(u"tick, bare timerfd that only wakes"_s, ref, u"ref_hop_us_"_s + t);
        report.json()[u"ref_late_05ms_pct_"_s + t] = ref.over05;
        report.json()[u"ref_late_1ms_pct_"_s + t] = ref.over1;
    }
}
