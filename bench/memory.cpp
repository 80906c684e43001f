// Resident memory: the peak while frames play, and the growth over many runs,
// for the program and for the bare player, each in a child process of its own
// so that nothing else the bench did counts.
#include "bench.h"

#include "form1.h"
#include "references.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>

#include <cstdio>

namespace {
int statusKb(const char *field) // from /proc/self/status
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toInt();
    return 0;
}

// Plays runs at 1 ms through play(), then prints the peak and the growth after a warm-up, in kB.
int playAndMeasure(int runs, const std::function<void()> &play)
{
    const int warmUp = std::min(runs, 10);
    int afterWarmUp = 0;
    for (int run = 0; run < runs; ++run) {
        if (run == warmUp)
            afterWarmUp = statusKb("VmRSS:");
        play();
    }
    std::printf("%d %d\n", statusKb("VmHWM:"), runs > warmUp ? statusKb("VmRSS:") - afterWarmUp : 0);
    return 0;
}
} // namespace

int memoryChild(const QString &who, const QString &dir, int runs)
{
    QDir::setCurrent(dir);
    if (who == u"reference") {
        BarePlayer player;
        return playAndMeasure(runs, [&] { player.play(1); });
    }
    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    waitExposed(form);
    QEventLoop loop;
    QObject::connect(&form.stageChain(), &StageChain::stageFinished, &loop, [&](int stage) {
        if (stage == StageCount)
            loop.quit();
    });
    return playAndMeasure(runs, [&] {
        form.command1().click();
        loop.exec();
    });
}

Memory memoryOf(const QString &who, const QString &dir, int runs)
{
    QProcess child; // its arguments are handed over as they are, never through a shell
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory-child"), who, dir, QString::number(runs)});
    const QList<QByteArray> said = child.waitForFinished(600000) ? child.readAllStandardOutput().trimmed().split(' ') : QList<QByteArray>{};
    if (said.size() != 2)
        std::fprintf(stderr, "tarvek-bench: the memory child failed\n");
    return {said.value(0).toInt() / 1024.0, said.value(1).toDouble()};
}
