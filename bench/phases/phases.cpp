// tarvek-phases: where each frame's time goes at t = 1 ms, inside the process,
// for the program's own window and runtime and for the bare Qt way of doing the
// same work (the pace reference's player, bench/bare_player), played in turns
// in one window system. Built for Linux and for Windows; under Wine it shows
// what the Windows build meets there. Not a test: figures are printed, never
// asserted.
//
//   tarvek-phases [RUNS [FOLDER]]   (10 runs of 33 frames each way unless told;
//                                    the frames in a new folder in FOLDER)
//
// Per frame, in µs:
//   wake-up  from when the frame could start (its due time, or the previous
//            frame's end if that came later) to its start;
//   load     reading the picture;
//   show     the rest of the frame: the paint (and, for the program, the
//            picture's accessible name);
//   late     the start against frame 1's start + (n - 1) T.
// Then the wake-ups on their own, 200 of each: how long after its due time a
// handler runs, for the program's timer source and for Qt's precise timer, with
// the due time already passed and 1 ms ahead.
#include "bare_player.h"
#include "form1.h"
#include "frame_file.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Interval = 1;
QElapsedTimer clockMs;
double nowUs() { return double(clockMs.nsecsElapsed()) / 1e3; }

struct Frame
{
    double ready = 0, tick = 0, loadStart = 0, loaded = 0, end = 0;
};

struct Sample
{
    std::vector<double> wake, load, show, late;
    void add(const std::vector<Frame> &run)
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
};

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

// The program's runtime, with the picture's load timed.
class TimedRuntime : public RuntimeServices
{
public:
    std::vector<Frame> *frames = nullptr;
    QImage loadPicture(const QString &fileName) override
    {
        frames->back().loadStart = nowUs();
        QImage picture = RuntimeServices::loadPicture(fileName);
        frames->back().loaded = nowUs();
        return picture;
    }
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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    clockMs.start();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // The frames in a folder of their own, in the system's temporary folder or
    // in the one given (under Wine, its own temporary folder is in the prefix).
    QTemporaryDir frames(argc > 2 ? QDir(QString::fromLocal8Bit(argv[2])).filePath(u"tarvek-phases-XXXXXX"_s)
                                  : QDir::temp().filePath(u"tarvek-phases-XXXXXX"_s));
    QImage picture(320, 200, QImage::Format_RGB32);
    for (int stage = 1; stage <= StageCount; ++stage) {
        picture.fill(qRgb(stage * 7, 255 - stage * 7, 128));
        picture.save(QDir(frames.path()).filePath(frameFileName(stage)), "BMP");
    }
    const QString startedIn = QDir::currentPath();
    QDir::setCurrent(frames.path());

    TimedRuntime runtime;
    Form1 form(runtime);
    waitExposed(form);
    std::vector<Frame> run;
    runtime.frames = &run;
    QObject::connect(&runtime.timers(), &TimerScheduler::aboutToTick, &form,
                     [&](const RuntimeTimer *, qint64 due, qint64 woke) {
                         const double start = nowUs();
                         run.push_back({start - double(woke - due) / 1e3, start, start, start, start});
                     });
    QEventLoop *tarvekLoop = nullptr;
    QObject::connect(&form.stageChain(), &StageChain::stageFinished, &form, [&](int stage) {
        run.back().end = nowUs();
        if (stage == StageCount)
            tarvekLoop->quit();
    });
    QObject::connect(&form.stageChain(), &StageChain::failed, &form, [&] { tarvekLoop->quit(); });
    form.text1().setText(QString::number(Interval));

    BarePlayer bare(Interval);
    std::vector<Frame> bareRun;
    double clickedAt = 0;
    QEventLoop *bareLoop = nullptr;
    bare.started = [&](int frame) {
        const double now = nowUs();
        bareRun.push_back({clickedAt + double(frame) * Interval * 1e3, now, now, now, now});
    };
    bare.loaded = [&](int) { bareRun.back().loaded = nowUs(); };
    bare.shown = [&](int frame) {
        bareRun.back().end = nowUs();
        if (frame == BarePlayer::Frames)
            bareLoop->quit();
    };
    waitExposed(bare);

    Sample ours, theirs;
    for (int r = 0; r < runs; ++r) {
        QEventLoop loop;
        tarvekLoop = &loop;
        run.clear();
        form.command1().click();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        ours.add(run);

        QEventLoop loopBare;
        bareLoop = &loopBare;
        bareRun.clear();
        clickedAt = nowUs();
        bare.play();
        QTimer::singleShot(10000, &loopBare, &QEventLoop::quit);
        loopBare.exec();
        theirs.add(bareRun);
    }

    std::printf("Where each frame's time goes at t = %d ms (µs over frames 2 to 33 of %d runs each way)\n", Interval, runs);
    std::printf("    %-30s %9s %9s %9s\n", "", "median", "p99", "max");
    for (const auto &[who, s] : {std::pair{"tarvek", &ours}, std::pair{"bare Qt", &theirs}}) {
        if (s->late.empty()) {
            std::printf("  %s: no run played all its frames\n", who);
            continue;
        }
        std::printf("  %s (%zu frames)\n", who, s->late.size());
        printRow("wake-up", s->wake);
        printRow("load", s->load);
        printRow(who == std::string_view("tarvek") ? "show (paint, accessible name)" : "show (paint)", s->show);
        printRow("late against frame 1", s->late);
    }

    std::printf("The wake-ups on their own: a handler's start after its due time (µs, 200 each)\n");
    std::printf("    %-30s %9s %9s %9s\n", "", "median", "p99", "max");
    std::unique_ptr<TimerSource> source = makePreciseTimerSource();
    const auto viaSource = [&](double ahead, std::function<void()> done) {
        source->setWakeHandler(std::move(done));
        source->wakeAt(source->now() + std::chrono::nanoseconds(qint64(ahead * 1e3)));
    };
    const auto viaQTimer = [](double ahead, std::function<void()> done) {
        QTimer::singleShot(int(ahead / 1e3), Qt::PreciseTimer, std::move(done));
    };
    printRow("tarvek's source, due passed", wakeUps(0, viaSource));
    printRow("Qt precise timer, 0 ms", wakeUps(0, viaQTimer));
    printRow("tarvek's source, due in 1 ms", wakeUps(1000, viaSource));
    printRow("Qt precise timer, 1 ms", wakeUps(1000, viaQTimer));
    source.reset();

    std::printf("Loads on their own (µs, 10 x 33 frames)\n");
    const auto loads = [](auto load) {
        std::vector<double> took;
        for (int r = 0; r < 10; ++r)
            for (int stage = 1; stage <= StageCount; ++stage) {
                const QString name = frameFileName(stage);
                const double start = nowUs();
                load(name);
                took.push_back(nowUs() - start);
            }
        return took;
    };
    printRow("tarvek's open", loads([](const QString &name) { openFrameFile(name); }));
    printRow("tarvek's open and read", loads([&](const QString &name) { runtime.RuntimeServices::loadPicture(name); }));
    printRow("QFile open", loads([](const QString &name) { QFile f(name); f.open(QIODevice::ReadOnly); }));
    printRow("QFile open and readAll", loads([](const QString &name) { QFile f(name); f.open(QIODevice::ReadOnly); f.readAll(); }));
    printRow("QImage", loads([](const QString &name) { QImage image(name); }));

    std::vector<double> names;
    for (int i = 0; i < 200; ++i) {
        const double start = nowUs();
        form.image1().setAccessibleName(QStringLiteral("Кадр %1").arg(i));
        names.push_back(nowUs() - start);
    }
    std::printf("The picture's accessible name set on its own (µs, 200)\n");
    printRow("accessible name", names);
    QDir::setCurrent(startedIn); // Windows removes no folder that a process is in
    return 0;
}
