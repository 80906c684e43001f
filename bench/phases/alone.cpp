#include "alone.h"

#include "form1.h"
#include "frame_display.h"
#include "frame_file.h"
#include "image_box.h"
#include "measure.h"
#include "timer_source.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

void printAlone(Form1 &form, TimedRuntime &runtime)
{
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
    // Far enough off for the system's timer (on Windows the waitable timer)
    // rather than the spin alone, as every frame is at 100 ms.
    printRow("tarvek's source, due in 20 ms", wakeUps(20000, viaSource));
    printRow("Qt precise timer, 20 ms", wakeUps(20000, viaQTimer));
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

    // The show split: the paint into a picture of the window's format alone, and
    // the paint with the flush to the window system, as a frame's repaint does.
    std::printf("A frame's show on its own (µs, 200 each)\n");
    const QImage one = runtime.RuntimeServices::loadPicture(frameFileName(1));
    const QImage two = runtime.RuntimeServices::loadPicture(frameFileName(2));
    std::vector<double> paints, shows;
    QImage target(one.size(), QImage::Format_RGB32);
    for (int i = 0; i < 200; ++i) {
        double start = nowUs();
        {
            QPainter painter(&target);
            painter.drawImage(target.rect(), i % 2 ? one : two, target.rect());
        }
        paints.push_back(nowUs() - start);
        start = nowUs();
        form.image1().setPicture(i % 2 ? one : two);
        shows.push_back(nowUs() - start);
    }
    printRow("paint alone", paints);
    printRow("paint and flush (Image1's repaint)", shows);

    std::vector<double> names;
    for (int i = 0; i < 200; ++i) {
        const double start = nowUs();
        form.image1().setAccessibleName(QStringLiteral("Кадр %1").arg(i));
        names.push_back(nowUs() - start);
    }
    std::printf("The picture's accessible name set on its own (µs, 200)\n");
    printRow("accessible name", names);
}
