// Starting the child processes that measure, and talking to them: a request
// per line on their standard input, an answer per line on their output.
#include "bench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ctime>

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

void writeFrames(const QString &dir, QSize size)
{
    QDir().mkpath(dir);
    for (int frame = 1; frame <= 33; ++frame) {
        QImage picture(size, QImage::Format_RGB888);
        picture.fill(QColor::fromHsv(frame * 10, 200, 200));
        picture.save(QDir(dir).filePath(frame == 33 ? QStringLiteral("-1.bmp") : QStringLiteral("%1.bmp").arg(frame)), "BMP");
    }
}

void waitExposed(QWidget &window)
{
    QElapsedTimer watchdog;
    watchdog.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && watchdog.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void ChainRuns::add(const QList<QByteArray> &answer)
{
    const QList<QByteArray> totals = answer.value(0).split(' ');
    painted.push_back(totals.value(0).toInt());
    runMs.push_back(totals.value(1).toDouble());
    driftMs.push_back(totals.value(2).toDouble());
    for (auto [part, into] : {std::pair{1, &hopUs}, {2, &paintedUs}, {3, &presentedUs}, {4, &superseded}})
        for (const QByteArray &value : answer.value(part).split(' '))
            if (!value.isEmpty())
                into->push_back(value.toDouble());
}

QByteArray runAnswer(int painted, double runMs, double driftMs, const std::vector<double> &hops,
                     const std::vector<double> &paintEnds, const std::vector<double> &presented,
                     const std::vector<double> &superseded)
{
    QByteArray line = QByteArray::number(painted) + ' ' + QByteArray::number(runMs, 'f', 3) + ' ' + QByteArray::number(driftMs, 'f', 3);
    for (const std::vector<double> *values : {&hops, &paintEnds, &presented, &superseded}) {
        line += ';';
        for (double value : *values)
            line += QByteArray::number(value, 'f', 2) + ' ';
    }
    return line;
}

int serveRequests(const std::function<QByteArray(const QByteArray &request)> &answer)
{
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        const QByteArray reply = answer(QByteArray(line).trimmed());
        if (reply.isEmpty())
            return 1;
        std::printf("%s\n", reply.constData());
        std::fflush(stdout);
    }
    return 0;
}

Child::Child(const QStringList &args, const QProcessEnvironment &env, const QStringList &wrapper)
{
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList command = QStringList{QCoreApplication::applicationFilePath()} + args;
    command = wrapper + command;
    m_process.start(command.takeFirst(), command);
    m_process.waitForStarted();
}

Child::~Child()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
}

QList<QByteArray> Child::ask(const QByteArray &request, int timeoutMs, char separator)
{
    m_process.write(request + '\n');
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(timeoutMs)) {
            std::fprintf(stderr, "tarvek-bench: no answer to \"%s\" from %s (%s)\n", request.constData(),
                         qPrintable(m_process.arguments().join(u' ')), qPrintable(m_process.errorString()));
            std::exit(1);
        }
    }
    return m_process.readLine().trimmed().split(separator);
}

void Child::run(int interval, ChainRuns &into)
{
    into.add(ask("run " + QByteArray::number(interval), interval * 33 + 15000, ';'));
}

QProcessEnvironment platformEnvironment(const QString &platform, const QByteArray &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    return env;
}
