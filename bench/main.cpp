// tarvek-bench: the program's timing, what reaches the screen, loads, memory and
// start-up, measured on the real window and runtime layer, each figure beside a
// reference measured in the same run: a bare Qt player doing the same work with
// nothing of ours, a bare timerfd chain that only wakes, a bare Qt window.
// Prints a table and one JSON line. --quick: fewer runs, the same method.
// --on-screen: only what reaches a Wayland screen, under every headless
// compositor installed, or under the one given with --compositor NAME (sway,
// mutter, kwin); with --still-cursor, the program's text box does not blink there.
#include "bench.h"
#include "presentation.h"
#include "references.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
void measureLoads(Report &report, std::vector<PlatformPair> &pairs, bool quick)
{
    report.title("Load and show one frame (median; warm, then with the file dropped from the page cache)");
    for (const QSize size : {QSize(320, 200), QSize(1920, 1080), QSize(3840, 2160)}) {
        const int repeats = quick ? 3 : (size.width() > 2000 ? 10 : 30);
        const QString key = size.width() == 320 ? u"320"_s : size.width() == 1920 ? u"1080"_s : u"2160"_s;
        for (size_t p = 0; p < pairs.size(); ++p) {
            const QByteArray request = "load " + QByteArray::number(size.width()) + ' ' + QByteArray::number(size.height());
            for (const char *cold : {" 0 ", " 1 "}) {
                const QByteArray ask = request + cold + QByteArray::number(repeats);
                const double ours = pairs[p].program->ask(ask, 60000).value(0).toDouble();
                const double bare = pairs[p].reference->ask(ask, 60000).value(0).toDouble();
                report.pair(u"%1 x %2, %3, %4"_s.arg(size.width()).arg(size.height()).arg(pairs[p].platform, cold[1] == '1' ? u"cold"_s : u"warm"_s),
                            ours, bare, "us", (cold[1] == '1' ? u"load_cold_us_"_s : u"load_us_"_s) + (p == 0 ? QString() : pairs[p].platform + u'_') + key);
            }
        }
    }
}

void measureMemory(Report &report, const QString &small, const QString &large, bool quick)
{
    report.title("Resident memory, each in a process of its own");
    const int growthRuns = quick ? 100 : 1000;
    const Memory peakSmall = memoryOf(u"program"_s, small, 3), refSmall = memoryOf(u"reference"_s, small, 3);
    const Memory peakLarge = memoryOf(u"program"_s, large, 3), refLarge = memoryOf(u"reference"_s, large, 3);
    const Memory growth = memoryOf(u"program"_s, small, growthRuns + 10), refGrowth = memoryOf(u"reference"_s, small, growthRuns + 10);
    report.pair(u"peak, 320 x 200 frames"_s, peakSmall.peakMb, refSmall.peakMb, "MB", u"rss_mb_320"_s);
    report.pair(u"peak, 1920 x 1080 frames"_s, peakLarge.peakMb, refLarge.peakMb, "MB", u"rss_mb_1080"_s);
    report.pair(u"growth over %1 runs at 1 ms"_s.arg(growthRuns), growth.growthKb, refGrowth.growthKb, "kB", {});
    report.json()[u"rss_growth_kb_1000"_s] = growth.growthKb * 1000.0 / growthRuns;
}
} // namespace

int main(int argc, char *argv[])
{
    // The whole run measures on X11 too: without an X server, it runs again in
    // one of its own, as the real-window tests do.
    const bool child = argc > 1 && std::strstr(argv[1], "-child");
    const bool onScreen = std::any_of(argv + 1, argv + argc, [](const char *a) { return std::strcmp(a, "--on-screen") == 0; });
    if (!child && !onScreen && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::vector<char *> again{const_cast<char *>(TARVEK_WITH_XVFB)};
        again.insert(again.end(), argv, argv + argc + 1);
        execv(again[0], again.data());
        std::perror(TARVEK_WITH_XVFB);
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir; // Qt wants one, private; the children share the bench's
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFile::setPermissions(runtimeDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    QApplication app(argc, argv);
    QApplication::setStyle(u"Fusion"_s);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 5 && args[1] == u"--memory-child")
        return memoryChild(args[2], args[3], args[4].toInt());
    if ((args.size() == 3 || args.size() == 4) && args[1] == u"--program-child")
        return programChild(args[2], args.value(3) == u"--still-cursor");
    if (args.size() == 3 && args[1] == u"--reference-child")
        return referenceChild(args[2]);
    const bool quick = args.contains(u"--quick"_s);

    QTemporaryDir work;
    const QString small = work.filePath(u"320"_s), large = work.filePath(u"1080"_s);
    writeFrames(small, {320, 200});
    if (args.contains(u"--on-screen"_s)) {
        std::printf("Tarvek benchmark, on screen (%s)\n", quick ? "quick" : "full");
        Report report;
        const qsizetype named = args.indexOf(u"--compositor"_s);
        for (const QString &compositor : named > 0 ? QStringList{args.value(named + 1)} : compositorNames())
            measurePresentation(report, small, quick, compositor, args.contains(u"--still-cursor"_s));
        report.finish();
        return 0;
    }
    writeFrames(large, {1920, 1080});
    const QByteArray display = qgetenv("DISPLAY");
    std::printf("Tarvek benchmark (%s; X server %s)\n", quick ? "quick" : "full", display.constData());
    Report report;
    {
        std::vector<PlatformPair> pairs;
        for (const QString &platform : {u"offscreen"_s, u"xcb"_s}) {
            const QProcessEnvironment env = platformEnvironment(platform, display);
            pairs.push_back({platform, std::make_unique<Child>(QStringList{u"--program-child"_s, small}, env),
                             std::make_unique<Child>(QStringList{u"--reference-child"_s, small}, env)});
        }
        measureTiming(report, pairs, quick);
        measureLoads(report, pairs, quick);
    }
    for (const QString &compositor : compositorNames())
        measurePresentation(report, small, quick, compositor);
    measureMemory(report, small, large, quick);

    report.title("Start-up: process start to window mapped (X11)");
    const std::vector<double> startup = startupMs({TARVEK_EXECUTABLE, BARE_WINDOW_EXECUTABLE}, display, small, quick ? 5 : 15);
    report.pair(u"tarvek; a bare Qt window with one label"_s, startup[0], startup[1], "ms", u"startup_ms"_s);
    report.json()[u"startup_ratio"_s] = startup[0] / startup[1];
    report.finish();
    return 0;
}
