// What reaches the screen: the program and the bare player play in a headless
// Wayland compositor, each in a compositor of its own, in turns; every frame's
// presentation time is asked for; what the compositor's own refresh, and a
// 60 Hz and a 59.94 Hz display, make of those times is computed exactly over
// the display's phase (exactJudder).
#include "bench.h"
#include "presentation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

// The chance, over a display's phase spread evenly over one refresh of
// refreshMs, that a frame stays on screen for another number of refreshes than
// it would had it reached the compositor as late as the frame before it did:
// that a refresh falls between the two latenesses, min(|d|, R) / R for
// latenesses d apart, whatever the interval. The mean over the pairs of
// consecutive frames both presented, of one run's latenesses in ms (negative:
// not presented); -1 when there is no such pair.
double exactJudder(const std::vector<double> &latenessMs, double refreshMs)
{
    double sum = 0;
    int pairs = 0;
    for (size_t i = 0; i + 1 < latenessMs.size(); ++i)
        if (latenessMs[i] >= 0 && latenessMs[i + 1] >= 0) {
            sum += std::min(std::abs(latenessMs[i + 1] - latenessMs[i]), refreshMs) / refreshMs;
            ++pairs;
        }
    return pairs ? sum / pairs : -1;
}

// The exact judder of each run, in per cent, its mean over the runs and the
// half-width of its 95 % confidence interval (Student's t over the runs).
struct Judder
{
    double mean = 0, halfWidth = 0;
};
Judder exactJudderPercent(const ChainRuns &runs, double refreshMs)
{
    std::vector<double> perRun;
    for (size_t run = 0; run + 33 <= runs.presentedUs.size(); run += 33) {
        std::vector<double> lateMs;
        for (size_t frame = 0; frame < 33; ++frame) {
            const double late = runs.presentedUs[run + frame];
            lateMs.push_back(late < 0 ? -1 : late / 1e3);
        }
        if (const double j = exactJudder(lateMs, refreshMs); j >= 0)
            perRun.push_back(100 * j);
    }
    Judder judder;
    const double n = double(perRun.size());
    if (perRun.empty())
        return judder;
    for (double j : perRun)
        judder.mean += j / n;
    if (perRun.size() < 2)
        return judder;
    double squares = 0;
    for (double j : perRun)
        squares += (j - judder.mean) * (j - judder.mean);
    // t(0.975) for 1 to 30 degrees of freedom, then the normal's.
    static constexpr double T975[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
                                      2.201, 2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
                                      2.080, 2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    const size_t df = perRun.size() - 1;
    judder.halfWidth = (df <= 30 ? T975[df - 1] : 1.960) * std::sqrt(squares / (n - 1) / n);
    return judder;
}

std::vector<double> dueToPresentation(const ChainRuns &runs)
{
    std::vector<double> delays;
    for (double late : runs.presentedUs)
        if (late >= 0)
            delays.push_back(late);
    return delays;
}

std::vector<double> paintToPresentation(const ChainRuns &runs)
{
    std::vector<double> delays;
    for (size_t i = 0; i < runs.presentedUs.size() && i < runs.paintedUs.size(); ++i)
        if (runs.presentedUs[i] >= 0)
            delays.push_back(runs.presentedUs[i] - runs.paintedUs[i]);
    return delays;
}

// What the children said of their presentation times, in words.
QString describeSource(const QByteArray &source)
{
    const QList<QByteArray> f = source.split(' ');
    if (f.value(0) == "frame-callbacks")
        return f.size() > 1 ? u"frame callbacks (wp_presentation offered, but no frame of a run said presented)"_s
                            : u"frame callbacks (no wp_presentation offered)"_s;
    if (f.value(0) != "wp_presentation")
        return u"none"_s;
    const int clock = f.value(1).toInt();
    return u"wp_presentation on "_s + (clock == CLOCK_MONOTONIC ? u"CLOCK_MONOTONIC"_s : u"clock %1"_s.arg(clock));
}
} // namespace

void measurePresentation(Report &report, const QString &frames, bool quick, const QString &compositor, bool stillCursor)
{
    QString whyNot;
    const QStringList wrapper = compositorWrapper(compositor, &whyNot);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    std::unique_ptr<Child> program, reference;
    if (!wrapper.isEmpty()) {
        QStringList programArgs{u"--program-child"_s, frames};
        if (stillCursor)
            programArgs << u"--still-cursor"_s;
        program = std::make_unique<Child>(programArgs, env, wrapper);
        reference = std::make_unique<Child>(QStringList{u"--reference-child"_s, frames}, env, wrapper);
        if (program->ask("presentation", 30000).value(0) == "none" || reference->ask("presentation", 30000).value(0) == "none")
            whyNot = u"the compositor gives no presentation feedback"_s;
    }
    if (!whyNot.isEmpty()) {
        report.title(qPrintable(u"On screen under headless %1: not measured, %2"_s.arg(compositor, whyNot)));
        return;
    }
    // Figures under sway keep the keys of earlier releases.
    const QString keySuffix = compositor == u"sway" ? QString() : u'_' + compositor;
    for (int interval : {100, 53, 50, 40}) {
        const int rounds = quick ? (interval == 100 ? 1 : 2) : 15;
        ChainRuns ours, bare, warmUp;
        for (int round = 0; round <= rounds; ++round) { // the first round, at 16 ms, warms up
            program->run(round == 0 ? 16 : interval, round == 0 ? warmUp : ours);
            reference->run(round == 0 ? 16 : interval, round == 0 ? warmUp : bare);
        }
        const QByteArray source = program->ask("presentation", 30000, '\n').value(0);
        const QByteArray refSource = reference->ask("presentation", 30000, '\n').value(0);
        const QString t = QString::number(interval) + keySuffix;
        report.title(qPrintable(u"On screen at t = %1 ms (headless %2), %3 frames each"_s.arg(interval).arg(compositor).arg(ours.paintedUs.size())));
        report.note(u"times, tarvek's: "_s + describeSource(source));
        report.note(u"times, bare Qt's: "_s + describeSource(refSource));
        const auto presented = [](const ChainRuns &runs) {
            return double(std::count_if(runs.presentedUs.begin(), runs.presentedUs.end(), [](double v) { return v >= 0; }));
        };
        report.pair(u"frames presented of painted (%)"_s, 100 * presented(ours) / double(ours.paintedUs.size()),
                    100 * presented(bare) / double(bare.paintedUs.size()), "%", u"presented_pct_"_s + t);
        const auto discarded = [](const ChainRuns &runs) {
            return double(std::count(runs.presentedUs.begin(), runs.presentedUs.end(), -2.0));
        };
        report.pair(u"frames the compositor discarded, never shown (%)"_s, 100 * discarded(ours) / double(ours.paintedUs.size()),
                    100 * discarded(bare) / double(bare.paintedUs.size()), "%", u"discarded_pct_"_s + t);
        const auto superseded = [](const ChainRuns &runs) {
            return double(std::count(runs.superseded.begin(), runs.superseded.end(), 1.0));
        };
        report.pair(u"  frames shown with the window's next commit, their own discarded (%)"_s,
                    100 * superseded(ours) / double(ours.paintedUs.size()), 100 * superseded(bare) / double(bare.paintedUs.size()),
                    "%", u"superseded_pct_"_s + t);
        const Stats due = statsOf(dueToPresentation(ours)), refDue = statsOf(dueToPresentation(bare));
        report.pair(u"due time to presentation, median"_s, due.median, refDue.median, "us", u"due_present_us_"_s + t);
        report.pair(u"due time to presentation, p99"_s, due.p99, refDue.p99, "us", u"due_present_p99_us_"_s + t);
        const Stats delay = statsOf(paintToPresentation(ours)), refDelay = statsOf(paintToPresentation(bare));
        report.pair(u"paint end to presentation, median"_s, delay.median, refDelay.median, "us", u"present_delay_us_"_s + t);
        report.pair(u"paint end to presentation, p99"_s, delay.p99, refDelay.p99, "us", u"present_delay_p99_us_"_s + t);
        const Stats painted = statsOf(ours.paintedUs), refPainted = statsOf(bare.paintedUs);
        report.pair(u"paint end jitter: p99 minus median of paint end - due"_s, painted.p99 - painted.median,
                    refPainted.p99 - refPainted.median, "us", u"paint_jitter_us_"_s + t);
        const std::tuple<double, QString, QString> grids[] = {{1000 / 60.0, u"60 Hz display"_s, u"60"_s},
                                                              {1000 / 59.94, u"59.94 Hz display"_s, u"5994"_s}};
        for (const auto &[refreshMs, grid, key] : grids) {
            const Judder j = exactJudderPercent(ours, refreshMs), r = exactJudderPercent(bare, refreshMs);
            report.pair(u"exact judder, %1: mean over runs (%)"_s.arg(grid), j.mean, r.mean, "%",
                        u"exact_judder_pct_%1_%2"_s.arg(key, t));
            report.pair(u"  its 95 % confidence interval, half-width"_s, j.halfWidth, r.halfWidth, "%",
                        u"exact_judder_ci_pct_%1_%2"_s.arg(key, t));
        }
    }
}
