// tarvek-pace: the pace at which frames are read, seen from outside the
// program, as the frame files' opens (inotify), for the Linux build and for the
// Windows build under Wine, each beside the bare Qt player built the same way
// and run on the same display, in turns. Frame n's lateness is how far its
// open is from n - 1 intervals after frame 1's. Not a test: figures are
// printed, never asserted. With --input, each run is also used as a user may
// use the window while it plays: the window is read (a screenshot) 8 ms before
// frame 6 is due (at once at 1 ms), and clicked (the locked «Пуск»; the bare
// player's window, which a click does not stop) at 10.5 intervals; the run
// itself is started without waiting for the click's delivery, so that at 1 ms
// the input comes while the frames play. On X11 the window is clicked through
// xdotool and read from the X server by this program.
//
//   tarvek-pace [--quick] [--input] [--windows TARVEK_EXE BARE_PLAYER_EXE]
//               [--linux NAME TARVEK ...]
// inside an X server with a window manager, tests/desktops/with-xvfb.sh --wm.
// Each --linux adds another Linux build of the program,
// such as the one in the Debian package, played in turns with the bare player
// as this build's is.
#include "bench.h"
#include "frame_opens.h"

#include <QGuiApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

// The X server the players' windows are on, and a user's ways into them.
struct Desktop
{
    // The visible window of that title, or an empty string.
    QString find(const QString &title)
    {
        return QString::fromUtf8(tool({u"xdotool"_s, u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + title + u'$'}))
            .section(u'\n', 0, 0);
    }
    // At x, y of the window; waits until the click is delivered or not.
    void click(const QString &window, int x, int y, bool wait)
    {
        const QStringList command = {u"xdotool"_s, u"mousemove"_s, u"--window"_s, window, QString::number(x), QString::number(y),
                                     u"click"_s, u"1"_s};
        wait ? void(tool(command)) : void(QProcess::startDetached(command.first(), command.mid(1)));
    }
    // Where the pointer is, without waiting.
    void clickAgain() { QProcess::startDetached(u"xdotool"_s, {u"click"_s, u"1"_s}); }
    // Into the focused text box, replacing what it holds.
    void type(const QString &text) { tool({u"xdotool"_s, u"key"_s, u"ctrl+a"_s, u"type"_s, u"--delay"_s, u"30"_s, text}); }
    // The window's pixels, read from the X server as a screenshot tool reads them.
    void read(const QString &window) { QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage(); }
    void close(const QString &window) { tool({u"wmctrl"_s, u"-i"_s, u"-c"_s, window}); }
};

// One player's runs at one interval: all frames' lateness, in ms. Empty when
// the window never came or a run never ended.
std::vector<double> lateness(Desktop &desktop, const Player &player, int interval, int runs, bool input,
                             const QString &frames)
{
    FrameOpens opens(frames, FrameNames);
    opens.readAhead();
    QProcess process;
    process.setWorkingDirectory(frames);
    QStringList arguments = player.command.mid(1);
    if (!player.tarvek)
        arguments << QString::number(interval);
    QElapsedTimer up;
    up.start();
    process.start(player.command.first(), arguments);
    process.waitForStarted();
    const QString title = player.tarvek ? u"Тарвек"_s : u"Bare player"_s;
    QString window;
    while (window.isEmpty() && up.elapsed() < 60000) {
        window = desktop.find(title);
        if (window.isEmpty())
            QThread::msleep(20);
    }
    if (window.isEmpty())
        std::fprintf(stderr, "  %s: no window within 60 s\n", qPrintable(player.command.last()));
    std::vector<double> late;
    // Where a run is started: «Пуск», or anywhere in the bare player's window.
    const QPoint start = player.tarvek ? QPoint(159, 228) : QPoint(160, 150);
    if (!window.isEmpty()) {
        QThread::msleep(500); // settled
        if (player.tarvek) {
            desktop.click(window, 150, 289, true); // into the text box
            desktop.type(QString::number(interval));
        }
        for (int run = 0; run < runs; ++run) {
            opens.clear();
            desktop.click(window, start.x(), start.y(), !input);
            QElapsedTimer watchdog;
            watchdog.start();
            QList<std::pair<QString, qint64>> seen;
            const qint64 readAfter = std::max<qint64>(0, 5LL * interval * 1'000'000 - 8'000'000);
            const qint64 clickAfter = 105LL * interval * 100'000;
            bool read = !input, clicked = !input;
            while ((seen = opens.opens()).size() < 33 && watchdog.elapsed() < 20000) {
                const qint64 sinceFirst = seen.isEmpty() ? -1 : opens.now() - seen[0].second;
                if (!read && sinceFirst >= readAfter) {
                    read = true;
                    desktop.read(window);
                }
                if (!clicked && sinceFirst >= clickAfter) {
                    clicked = true;
                    desktop.clickAgain(); // the pointer is still where the run was started
                }
                QThread::msleep(input ? 1 : 10);
            }
            if (seen.size() < 33) {
                std::fprintf(stderr, "  %s: a run at %d ms opened %lld of the 33 frames\n", qPrintable(player.command.last()),
                             interval, qlonglong(seen.size()));
                late.clear();
                break;
            }
            for (qsizetype k = 1; k < 33; ++k)
                late.push_back(double(seen[k].second - seen[0].second) / 1e6 - double(k) * interval);
            QThread::msleep(300);
        }
    }
    if (!window.isEmpty())
        desktop.close(window);
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
    return late;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool quick = args.contains(u"--quick"_s);
    const bool input = args.contains(u"--input"_s);
    const qsizetype windowsAt = args.indexOf(u"--windows"_s);
    Desktop desktop;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "tarvek-pace: no X server: run it under tests/desktops/with-xvfb.sh --wm\n");
        return 2;
    }
    QTemporaryDir frames;
    QImage frame(320, 200, QImage::Format_RGB32);
    for (qsizetype i = 0; i < FrameNames.size(); ++i) {
        frame.fill(qRgb(int(i) * 7, 255 - int(i) * 7, 128));
        frame.save(QDir(frames.path()).filePath(FrameNames[i]), "BMP");
    }

    std::vector<std::pair<Player, Player>> systems;
    const QString native = u"Linux"_s;
    if (!args.contains(u"--windows-only"_s))
        systems = {{{native, {QStringLiteral(TARVEK_EXECUTABLE)}, true}, {native, {QStringLiteral(BARE_PLAYER_EXECUTABLE)}, false}}};
    for (qsizetype at = args.indexOf(u"--linux"_s); at > 0 && at + 2 < args.size(); at = args.indexOf(u"--linux"_s, at + 1))
        systems.push_back({{args[at + 1], {QFileInfo(args[at + 2]).absoluteFilePath()}, true},
                           {args[at + 1], {QStringLiteral(BARE_PLAYER_EXECUTABLE)}, false}});
    if (windowsAt > 0 && windowsAt + 2 < args.size()) {
        systems.push_back({{u"Wine"_s, {u"wine"_s, QFileInfo(args[windowsAt + 1]).absoluteFilePath()}, true},
                           {u"Wine"_s, {u"wine"_s, QFileInfo(args[windowsAt + 2]).absoluteFilePath()}, false}});
        qputenv("WINEDEBUG", "-all");
    }
    const bool readAhead = FrameOpens(frames.path(), {}).readAhead(); // as every run's watcher does
    std::printf("Frame pace seen from outside: each frame file's open against n - 1 intervals after frame 1's\n"
                "(ms; median, p99 and the latest over the runs' frames 2 to 33), tarvek beside the bare Qt player,\n"
                "the opens read %s, in turns%s\n", readAhead ? "at real-time priority" : "at ordinary priority (not allowed more)",
                input ? "; each run read from the screen and clicked while it plays" : "");
    for (const auto &[ours, bare] : systems) {
        for (int interval : {1, 100}) {
            const int runsPerTurn = quick ? 1 : (interval == 1 ? 5 : 2);
            std::vector<double> o, b;
            for (int turn = 0; turn < 2; ++turn) { // in turns, half the runs each
                const auto mine = lateness(desktop, ours, interval, runsPerTurn, input, frames.path());
                const auto theirs = lateness(desktop, bare, interval, runsPerTurn, input, frames.path());
                o.insert(o.end(), mine.begin(), mine.end());
                b.insert(b.end(), theirs.begin(), theirs.end());
            }
            if (o.empty() || b.empty()) {
                std::printf("  %-8s %4d ms: %s did not play\n", qPrintable(ours.what), interval, o.empty() ? "tarvek" : "the bare player");
                continue;
            }
            const Stats late = statsOf(o), refLate = statsOf(b);
            std::printf("  %-8s %4d ms  median  tarvek %8.3f  bare Qt %8.3f    p99  tarvek %8.3f  bare Qt %8.3f"
                        "    latest  tarvek %8.3f  bare Qt %8.3f  (%d runs each)\n",
                        qPrintable(ours.what), interval, late.median, refLate.median, late.p99, refLate.p99, late.max,
                        refLate.max, 2 * runsPerTurn);
        }
    }
    return 0;
}
