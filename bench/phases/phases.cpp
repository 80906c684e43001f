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
// the due time already passed, 1 ms and 20 ms ahead; the loads; a frame's
// paint alone and with its flush; the accessible name.
#include "alone.h"
#include "bare_player.h"
#include "form1.h"
#include "measure.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

using namespace Qt::StringLiterals;

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
        if (stage == StageCount && tarvekLoop)
            tarvekLoop->quit();
    });
    QObject::connect(&form.stageChain(), &StageChain::failed, &form, [&] {
        if (tarvekLoop)
            tarvekLoop->quit();
    });
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
        if (frame == BarePlayer::Frames && bareLoop)
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
        tarvekLoop = nullptr; // a run started by a click on the window now has no loop to end
        ours.add(run);

        QEventLoop loopBare;
        bareLoop = &loopBare;
        bareRun.clear();
        clickedAt = nowUs();
        bare.play();
        QTimer::singleShot(10000, &loopBare, &QEventLoop::quit);
        loopBare.exec();
        bareLoop = nullptr;
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

    printAlone(form, runtime);
    QDir::setCurrent(startedIn); // Windows removes no folder that a process is in
    return 0;
}
