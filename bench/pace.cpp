// tarvek-pace: the pace at which frames are read, seen from outside the
// program, as the frame files' opens (inotify), for the Linux build and for the
// Windows build under Wine, each beside the bare Qt player built the same way
// and run in the same X server, in turns. Frame n's lateness is how far its
// open is from n - 1 intervals after frame 1's. Not a test: figures are
// printed, never asserted. With --input, each run is also used as a user may
// use the window while it plays: the window is read from the X server (a
// screenshot, by this program, or with --shot-program by starting that
// program with the window's id and a file to write, as a screenshot tool is
// started) 8 ms before frame 6 is due (at once at 1 ms), and clicked (the
// locked «Пуск»; the bare player's window, which a click does not stop) at
// 10.5 intervals, through xdotool; the run itself is started without waiting
// for xdotool, so that at 1 ms the input comes while the frames play. With
// --each-run, each run's latest frame is printed as it ends.
//
//   tarvek-pace [--quick] [--each-run] [--input [--shot-program PROGRAM]] [--windows TARVEK_EXE BARE_PLAYER_EXE]
//               [--linux NAME TARVEK ...]
// inside an X server with a window manager: scripts/with-xvfb --wm. Each
// --linux adds another Linux build of the program, such as the one in the
// Debian package, played in turns with the bare player as this build's is.
#include "frame_opens.h"

#include <QGuiApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QStringList FrameNames = [] {
    QStringList names;
    for (int n = 1; n <= 32; ++n)
        names << QString::number(n) + u".bmp"_s;
    return names << u"-1.bmp"_s;
}();

QByteArray tool(const QStringList &command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    process.waitForFinished(15000);
    return process.readAllStandardOutput().trimmed();
}

struct Player
{
    QString what;
    QStringList command; // how it is started
    bool tarvek; // typed into and started with «Пуск»; else the bare player, clicked
};

// What is done to the window while it plays (--input).
struct Input
{
    bool on = false;
    QString shotProgram; // reads the window; empty: this program does
};

// One player's runs at one interval: all frames' lateness, in ms. Empty when
// the window never came or a run never ended.
std::vector<double> lateness(const Player &player, int interval, int runs, const Input &input, bool eachRun,
                             const QString &frames, double &windowUpMs)
{
    FrameOpens opens(frames, FrameNames);
    QProcess process;
    process.setWorkingDirectory(frames);
    QStringList arguments = player.command.mid(1);
    if (!player.tarvek)
        arguments << QString::number(interval);
    QElapsedTimer up;
    up.start();
    process.start(player.command.first(), arguments);
    const QString title = player.tarvek ? u"^Тарвек$"_s : u"^Bare player$"_s;
    QString window;
    while (window.isEmpty() && up.elapsed() < 60000) {
        window = QString::fromUtf8(tool({u"xdotool"_s, u"search"_s, u"--onlyvisible"_s, u"--name"_s, title}))
                     .section(u'\n', 0, 0);
        if (window.isEmpty())
            QThread::msleep(20);
    }
    windowUpMs = double(up.nsecsElapsed()) / 1e6;
    if (window.isEmpty())
        std::fprintf(stderr, "  %s: no window within 60 s\n", qPrintable(player.command.last()));
    std::vector<double> late;
    const auto click = [&](int x, int y) {
        tool({u"xdotool"_s, u"mousemove"_s, u"--window"_s, window, QString::number(x), QString::number(y), u"click"_s, u"1"_s});
    };
    if (!window.isEmpty()) {
        QThread::msleep(500); // settled
        if (player.tarvek) {
            click(150, 289);
            tool({u"xdotool"_s, u"key"_s, u"ctrl+a"_s, u"type"_s, u"--delay"_s, u"30"_s, QString::number(interval)});
        }
        for (int run = 0; run < runs; ++run) {
            opens.clear();
            if (input.on)
                QProcess::startDetached(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, window,
                                                       QString::number(player.tarvek ? 159 : 160),
                                                       QString::number(player.tarvek ? 228 : 150), u"click"_s, u"1"_s});
            else
                player.tarvek ? click(159, 228) : click(160, 150);
            QElapsedTimer watchdog;
            watchdog.start();
            QList<std::pair<QString, qint64>> seen;
            const qint64 readAfter = std::max<qint64>(0, 5LL * interval * 1'000'000 - 8'000'000);
            const qint64 clickAfter = 105LL * interval * 100'000;
            bool read = !input.on, clicked = !input.on;
            while ((seen = opens.opens()).size() < 33 && watchdog.elapsed() < 20000) {
                const qint64 sinceFirst = seen.isEmpty() ? -1 : opens.now() - seen[0].second;
                if (!read && sinceFirst >= readAfter) {
                    read = true;
                    if (input.shotProgram.isEmpty())
                        QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
                    else
                        QProcess::startDetached(input.shotProgram, {window, QDir(frames).filePath(u"shot.png"_s)});
                }
                if (!clicked && sinceFirst >= clickAfter) {
                    clicked = true;
                    // The pointer is still where the run was started.
                    QProcess::startDetached(u"xdotool"_s, {u"click"_s, u"1"_s});
                }
                QThread::msleep(input.on ? 1 : 10);
            }
            if (seen.size() < 33) {
                std::fprintf(stderr, "  %s: a run at %d ms opened %lld of the 33 frames\n", qPrintable(player.command.last()),
                             interval, qlonglong(seen.size()));
                late.clear();
                break;
            }
            for (qsizetype k = 1; k < 33; ++k)
                late.push_back(double(seen[k].second - seen[0].second) / 1e6 - double(k) * interval);
            if (eachRun) {
                const auto latest = std::max_element(late.end() - 32, late.end());
                std::printf("    %s, %d ms: latest frame %lld, %.3f ms late\n", player.tarvek ? "tarvek" : "bare Qt", interval,
                            qlonglong(latest - (late.end() - 32) + 2), *latest);
            }
            QThread::msleep(300);
        }
    }
    tool({u"wmctrl"_s, u"-i"_s, u"-c"_s, window});
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
    return late;
}

double at(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool quick = args.contains(u"--quick"_s);
    const bool eachRun = args.contains(u"--each-run"_s);
    Input input;
    input.on = args.contains(u"--input"_s);
    if (const qsizetype at = args.indexOf(u"--shot-program"_s); at > 0 && at + 1 < args.size())
        input.shotProgram = QFileInfo(args[at + 1]).absoluteFilePath();
    const qsizetype windowsAt = args.indexOf(u"--windows"_s);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "tarvek-pace: no X server: run it under scripts/with-xvfb --wm\n");
        return 2;
    }
    QTemporaryDir frames;
    QImage frame(320, 200, QImage::Format_RGB32);
    for (qsizetype i = 0; i < FrameNames.size(); ++i) {
        frame.fill(qRgb(int(i) * 7, 255 - int(i) * 7, 128));
        frame.save(QDir(frames.path()).filePath(FrameNames[i]), "BMP");
    }

    std::vector<std::pair<Player, Player>> systems;
    if (!args.contains(u"--windows-only"_s))
        systems = {{{u"Linux"_s, {QStringLiteral(TARVEK_EXECUTABLE)}, true}, {u"Linux"_s, {QStringLiteral(BARE_PLAYER_EXECUTABLE)}, false}}};
    for (qsizetype at = args.indexOf(u"--linux"_s); at > 0 && at + 2 < args.size(); at = args.indexOf(u"--linux"_s, at + 1))
        systems.push_back({{args[at + 1], {QFileInfo(args[at + 2]).absoluteFilePath()}, true},
                           {args[at + 1], {QStringLiteral(BARE_PLAYER_EXECUTABLE)}, false}});
    if (windowsAt > 0 && windowsAt + 2 < args.size()) {
        systems.push_back({{u"Wine"_s, {u"wine"_s, QFileInfo(args[windowsAt + 1]).absoluteFilePath()}, true},
                           {u"Wine"_s, {u"wine"_s, QFileInfo(args[windowsAt + 2]).absoluteFilePath()}, false}});
        qputenv("WINEDEBUG", "-all");
    }
    std::printf("Frame pace seen from outside: each frame file's open against n - 1 intervals after frame 1's\n"
                "(ms; median, p99 and the latest over the runs' frames 2 to 33), tarvek beside the bare Qt player,\n"
                "in turns%s\n", !input.on ? "" : input.shotProgram.isEmpty() ? "; each run read from the screen and clicked while it plays"
                                                                  : "; each run read by a screenshot program and clicked while it plays");
    for (const auto &[ours, bare] : systems) {
        for (int interval : {1, 100}) {
            const int runsPerTurn = quick ? 1 : (interval == 1 ? 5 : 2);
            double oursUp = 0, bareUp = 0;
            std::vector<double> o, b;
            for (int turn = 0; turn < 2; ++turn) { // in turns, half the runs each
                const auto mine = lateness(ours, interval, runsPerTurn, input, eachRun, frames.path(), oursUp);
                const auto theirs = lateness(bare, interval, runsPerTurn, input, eachRun, frames.path(), bareUp);
                o.insert(o.end(), mine.begin(), mine.end());
                b.insert(b.end(), theirs.begin(), theirs.end());
            }
            if (o.empty() || b.empty()) {
                std::printf("  %-8s %4d ms: %s did not play\n", qPrintable(ours.what), interval, o.empty() ? "tarvek" : "the bare player");
                continue;
            }
            std::printf("  %-8s %4d ms  median  tarvek %8.3f  bare Qt %8.3f    p99  tarvek %8.3f  bare Qt %8.3f"
                        "    latest  tarvek %8.3f  bare Qt %8.3f  (%d runs each)\n",
                        qPrintable(ours.what), interval, at(o, 0.5), at(b, 0.5), at(o, 0.99), at(b, 0.99), at(o, 1),
                        at(b, 1), 2 * runsPerTurn);
            std::printf("  %-8s %4d ms  window up after start: tarvek %.0f ms, bare Qt %.0f ms (last start)\n",
                        qPrintable(ours.what), interval, oursUp, bareUp);
        }
    }
    return 0;
}
