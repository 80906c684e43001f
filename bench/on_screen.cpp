// What reaches the screen: the program and the bare player play in a headless
// Wayland compositor, each in a compositor of its own, in turns; every frame's
// presentation time is asked for, and a 60 Hz display's refreshes are laid
// over those times at phases spread over one refresh.
#include "bench.h"
#include "children.h"
#include "presentation.h"
#include "servers.h"

#include <cmath>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr double RefreshMs = 1000.0 / 60;
constexpr int Phases = 32;

// Per cent of frames that a 60 Hz display would show for other than t / refresh
// refreshes, over all runs and phases.
double judderPercent(const ChainRuns &runs, int interval)
{
    const int expected = int(std::lround(interval / RefreshMs));
    long off = 0, all = 0;
    for (size_t run = 0; run + 33 <= runs.presentedUs.size(); run += 33) {
        std::vector<double> presentedMs; // after the press
        for (size_t frame = 0; frame < 33; ++frame) {
            const double late = runs.presentedUs[run + frame];
            presentedMs.push_back(late < 0 ? -1 : double(frame + 1) * interval + late / 1e3);
        }
        for (int phase = 0; phase < Phases; ++phase)
            for (int shown : refreshesShown(presentedMs, RefreshMs, phase * RefreshMs / Phases))
                off += shown != expected, ++all;
    }
    return all ? 100.0 * double(off) / double(all) : 0;
}

std::vector<double> paintToPresentation(const ChainRuns &runs)
{
    std::vector<double> delays;
    for (size_t i = 0; i < runs.presentedUs.size() && i < runs.paintedUs.size(); ++i)
        if (runs.presentedUs[i] >= 0)
            delays.push_back(runs.presentedUs[i] - runs.paintedUs[i]);
    return delays;
}
} // namespace

void measurePresentation(Report &report, const QString &frames, bool quick)
{
    QString whyNot;
    const QString wrapper = compositorWrapper(&whyNot);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    std::unique_ptr<Child> program, reference;
    if (!wrapper.isEmpty()) {
        program = std::make_unique<Child>(QStringList{u"--program-child"_s, frames}, env, wrapper);
        reference = std::make_unique<Child>(QStringList{u"--reference-child"_s, frames}, env, wrapper);
        if (program->ask("presentation", 30000).value(0) != "1" || reference->ask("presentation", 30000).value(0) != "1")
            whyNot = u"the compositor gives no presentation feedback"_s;
    }
    if (!whyNot.isEmpty()) {
        report.title(qPrintable(u"On screen: not measured, "_s + whyNot));
        return;
    }
    for (int interval : {100, 50}) {
        const int rounds = quick ? (interval == 100 ? 1 : 2) : 15;
        ChainRuns ours, bare, warmUp;
        for (int round = 0; round <= rounds; ++round) { // the first round, at 16 ms, warms up
            program->run(round == 0 ? 16 : interval, round == 0 ? warmUp : ours);
            reference->run(round == 0 ? 16 : interval, round == 0 ? warmUp : bare);
        }
        const QString t = QString::number(interval);
        report.title(qPrintable(u"On screen at t = %1 ms (headless sway), %2 frames each"_s.arg(t).arg(ours.paintedUs.size())));
        const auto presented = [](const ChainRuns &runs) {
            return double(std::count_if(runs.presentedUs.begin(), runs.presentedUs.end(), [](double v) { return v >= 0; }));
        };
        report.pair(u"frames presented of painted (%)"_s, 100 * presented(ours) / double(ours.paintedUs.size()),
                    100 * presented(bare) / double(bare.paintedUs.size()), "%", u"presented_pct_"_s + t);
        const Stats delay = statsOf(paintToPresentation(ours)), refDelay = statsOf(paintToPresentation(bare));
        report.pair(u"paint end to presentation, median"_s, delay.median, refDelay.median, "us", u"present_delay_us_"_s + t);
        report.pair(u"paint end to presentation, p99"_s, delay.p99, refDelay.p99, "us", u"present_delay_p99_us_"_s + t);
        const Stats painted = statsOf(ours.paintedUs), refPainted = statsOf(bare.paintedUs);
        report.pair(u"paint end jitter: p99 minus median of paint end - due"_s, painted.p99 - painted.median,
                    refPainted.p99 - refPainted.median, "us", u"paint_jitter_us_"_s + t);
        report.pair(u"frames a 60 Hz display shows for other than %1 refreshes (%)"_s.arg(std::lround(interval / RefreshMs)),
                    judderPercent(ours, interval), judderPercent(bare, interval), "%", u"judder_pct_"_s + t);
    }
}
