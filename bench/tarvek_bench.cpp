// tarvek-bench: the program's timing, load speed, memory and start-up, measured on
// the real window and runtime layer, beside the limit of this machine (a bare
// timerfd chain). Prints a table and one JSON line. --quick: fewer runs.
#include "form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Stats
{
    double median = 0, p99 = 0, max = 0;
};

Stats statsOf(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.99), v.back()};
}

double median(std::vector<double> v)
{
    return statsOf(std::move(v)).median;
}

void writeFrames(const QString &dir, QSize size)
{
    QDir().mkpath(dir);
    for (int stage = 1; stage <= StageCount; ++stage) {
        QImage frame(size, QImage::Format_RGB888);
        frame.fill(QColor::fromHsv(stage * 10, 200, 200));
        frame.save(QDir(dir).filePath(frameFileName(stage)), "BMP");
    }
}

void waitExposed(QWidget &window)
{
    QElapsedTimer watchdog;
    watchdog.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && watchdog.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// One window with the real runtime, playing runs of the chain in dir.
struct ChainRuns
{
    std::vector<double> hopUs;   // tick delivered minus tick due
    std::vector<double> driftMs; // closing frame shown minus (press + 33 t)
    std::vector<double> runMs;   // press to closing frame shown
    std::vector<int> painted;    // Image1 paints per run
};

class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

ChainRuns playChain(const QString &dir, const QString &text, int interval, int runs)
{
    QDir::setCurrent(dir);
    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    waitExposed(form);
    PaintCounter paints;
    form.image1().installEventFilter(&paints);

    ChainRuns result;
    bool counting = false;
    QObject::connect(&runtime.timers(), &TimerScheduler::aboutToTick, &form,
                     [&](const RuntimeTimer *, qint64 due, qint64 woke) {
                         if (counting)
                             result.hopUs.push_back(double(woke - due) / 1e3);
                     });
    QEventLoop loop;
    double finishedAt = 0;
    QObject::connect(&form.stageChain(), &StageChain::stageFinished, &form, [&](int stage) {
        if (stage == StageCount) {
            finishedAt = double(runtime.timers().source().now().count()) / 1e6;
            loop.quit();
        }
    });
    QObject::connect(&form.stageChain(), &StageChain::failed, &loop, &QEventLoop::quit);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
    form.text1().setText(text);
    for (int run = 0; run < runs + 1; ++run) { // the first run warms the caches up
        counting = run > 0;
        paints.count = 0;
        finishedAt = 0;
        const double pressedAt = double(runtime.timers().source().now().count()) / 1e6;
        form.command1().click();
        watchdog.start(interval * StageCount + 10000);
        loop.exec();
        if (finishedAt == 0) {
            std::fprintf(stderr, "tarvek-bench: a run did not finish\n");
            std::exit(1);
        }
        if (!counting)
            continue;
        result.driftMs.push_back(finishedAt - pressedAt - interval * StageCount);
        result.runMs.push_back(finishedAt - pressedAt);
        result.painted.push_back(paints.count);
        QCoreApplication::processEvents();
    }
    return result;
}

// The machine's limit: 33 one-shot timerfd wake-ups, each armed from the
// previous one's due time, with nothing else around them.
std::vector<double> referenceHops(int interval, int runs)
{
    std::vector<double> hops;
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    for (int run = 0; run < runs; ++run) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long due = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
        for (int hop = 0; hop < StageCount; ++hop) {
            due += interval * 1'000'000LL;
            itimerspec setting{};
            setting.it_value = {time_t(due / 1'000'000'000), long(due % 1'000'000'000)};
            timerfd_settime(fd, TFD_TIMER_ABSTIME, &setting, nullptr);
            uint64_t expirations = 0;
            if (read(fd, &expirations, sizeof expirations) != sizeof expirations)
                break;
            clock_gettime(CLOCK_MONOTONIC, &now);
            hops.push_back(double(now.tv_sec * 1'000'000'000LL + now.tv_nsec - due) / 1e3);
        }
    }
    close(fd);
    return hops;
}

// Load and show one frame, warm or with the file dropped from the page cache.
double loadUs(const QString &dir, QSize size, bool cold, int repeats)
{
    const QString folder = QDir(dir).filePath(QStringLiteral("load-%1").arg(size.width()));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    const QString name = frameFileName(1);
    QImage frame(size, QImage::Format_RGB888);
    frame.fill(Qt::darkCyan);
    frame.save(name, "BMP");

    RuntimeServices runtime;
    QWidget window;
    window.resize(320, 309);
    ImageBox image(&window);
    CommonDialog holder;
    FrameDisplay display(runtime, holder, image);
    window.show();
    waitExposed(window);
    std::vector<double> times;
    for (int i = 0; i < repeats + 1; ++i) {
        if (cold) {
            const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
            fdatasync(fd);
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        const double start = monotonicMs();
        display.showFrame(1);
        if (i > 0 || cold)
            times.push_back((monotonicMs() - start) * 1e3);
    }
    QFile::remove(name);
    return median(times);
}

QJsonObject readStatus()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    QJsonObject kb;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:") || line.startsWith("VmRSS:"))
            kb[QString::fromLatin1(line.left(5))] = line.mid(6).trimmed().split(' ').first().toInt();
    }
    return kb;
}

// In a child process of its own, so that nothing else the bench did counts:
// plays `runs` runs at 1 ms in dir and prints VmHWM and the RSS growth in kB.
int memoryChild(const QString &dir, int runs)
{
    const int warmUp = std::min(runs, 10);
    QDir::setCurrent(dir);
    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    waitExposed(form);
    QEventLoop loop;
    QObject::connect(&form.stageChain(), &StageChain::stageFinished, &loop, [&](int stage) {
        if (stage == StageCount)
            loop.quit();
    });
    int rssAfterWarmUp = 0;
    for (int run = 0; run < runs; ++run) {
        if (run == warmUp)
            rssAfterWarmUp = readStatus()[QStringLiteral("VmRSS")].toInt();
        form.command1().click();
        loop.exec();
    }
    const QJsonObject end = readStatus();
    std::printf("%d %d\n", end[QStringLiteral("VmHWM")].toInt(),
                runs > warmUp ? end[QStringLiteral("VmRSS")].toInt() - rssAfterWarmUp : 0);
    return 0;
}

std::pair<double, double> memoryOf(const QString &dir, int runs)
{
    const QString command = QStringLiteral("'%1' --memory-child '%2' %3").arg(QCoreApplication::applicationFilePath(), dir).arg(runs);
    FILE *pipe = popen(command.toLocal8Bit().constData(), "r");
    int hwm = 0, growth = 0;
    if (!pipe || std::fscanf(pipe, "%d %d", &hwm, &growth) != 2)
        std::fprintf(stderr, "tarvek-bench: the memory child failed\n");
    if (pipe)
        pclose(pipe);
    return {hwm / 1024.0, double(growth)};
}

// Start-up: from fork to the moment the X server maps the window, for each
// executable, alternating so that both see the same machine. Needs an X
// server; starts Xvfb when there is no DISPLAY.
std::vector<double> startupMs(const std::vector<QByteArray> &executables, const QString &framesDir, int repeats)
{
    pid_t xvfb = 0;
    QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        int fds[2];
        if (pipe(fds) != 0)
            return {};
        xvfb = fork();
        if (xvfb == 0) {
            close(fds[0]);
            const QByteArray fd = QByteArray::number(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "640x480x24", "-nolisten", "tcp", nullptr);
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        const ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        if (n <= 0)
            return {};
        display = ":" + QByteArray(number).trimmed();
    }

    std::vector<std::vector<double>> times(executables.size());
    xcb_connection_t *x = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(x) == 0) {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);
        for (int i = 0; i < (repeats + 1) * int(executables.size()); ++i) {
            const size_t which = size_t(i) % executables.size();
            const QByteArray &exe = executables[which];
            const double start = monotonicMs();
            const pid_t child = fork();
            if (child == 0) {
                setenv("DISPLAY", display.constData(), 1);
                setenv("QT_QPA_PLATFORM", "xcb", 1);
                if (chdir(QFile::encodeName(framesDir).constData()) != 0)
                    _exit(127);
                execl(exe.constData(), exe.constData(), nullptr);
                _exit(127);
            }
            double mappedAt = 0;
            while (xcb_generic_event_t *event = xcb_wait_for_event(x)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                free(event);
                if (mapped) {
                    mappedAt = monotonicMs();
                    break;
                }
            }
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
            if (i >= int(executables.size()) && mappedAt > 0) // the first starts fill the caches
                times[which].push_back(mappedAt - start);
        }
    }
    xcb_disconnect(x);
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    std::vector<double> medians;
    for (const auto &t : times)
        medians.push_back(t.empty() ? -1 : median(t));
    return medians;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"--memory-child")
        return memoryChild(args[2], args[3].toInt());
    const bool quick = args.contains(QStringLiteral("--quick"));

    QTemporaryDir work;
    const QString small = work.filePath(QStringLiteral("320"));
    const QString large = work.filePath(QStringLiteral("1080"));
    writeFrames(small, {320, 200});
    writeFrames(large, {1920, 1080});

    QJsonObject json;
    std::printf("Tarvek benchmark (%s platform, %s)\n", qPrintable(QGuiApplication::platformName()),
                quick ? "quick" : "full");
    std::printf("%-34s %10s %10s %10s\n", "figure", "median", "p99", "max");
    const auto row = [](const char *name, Stats s, const char *unit) {
        std::printf("%-34s %10.3f %10.3f %10.3f  %s\n", name, s.median, s.p99, s.max, unit);
    };

    for (int interval : {100, 16, 1}) {
        const int runs = quick ? (interval == 100 ? 3 : 5) : (interval == 100 ? 7 : 15);
        const ChainRuns program = playChain(small, QString::number(interval), interval, runs);
        const std::vector<double> reference = referenceHops(interval, runs);
        const Stats hop = statsOf(program.hopUs);
        const Stats ref = statsOf(reference);
        const QByteArray t = QByteArray::number(interval);
        row(("hop lateness, program, t=" + t).constData(), hop, "us");
        row(("hop lateness, bare timerfd, t=" + t).constData(), ref, "us");
        std::printf("%-34s %10.2f\n", ("program / reference, t=" + t).constData(), hop.median / std::max(ref.median, 1e-3));
        row(("closing frame drift, t=" + t).constData(), statsOf(program.driftMs), "ms");
        json[QStringLiteral("hop_us_") + QString::number(interval)] = hop.median;
        json[QStringLiteral("ref_hop_us_") + QString::number(interval)] = ref.median;
        json[QStringLiteral("drift_ms_") + QString::number(interval)] = statsOf(program.driftMs).median;
    }

    const ChainRuns fast = playChain(small, QString(), 1, quick ? 10 : 30);
    row("33 stages at 1 ms (empty text)", statsOf(fast.runMs), "ms");
    std::vector<double> painted(fast.painted.begin(), fast.painted.end());
    std::printf("%-34s %10.0f %21s of 33\n", "frames painted per run", *std::min_element(painted.begin(), painted.end()), "(fewest)");
    json[QStringLiteral("fast_run_ms")] = statsOf(fast.runMs).median;
    json[QStringLiteral("painted")] = *std::min_element(painted.begin(), painted.end());

    for (const QSize size : {QSize(320, 200), QSize(1920, 1080), QSize(3840, 2160)}) {
        const int repeats = quick ? 5 : (size.width() > 2000 ? 10 : 30);
        const double warm = loadUs(work.path(), size, false, repeats);
        const double cold = loadUs(work.path(), size, true, repeats);
        std::printf("%-34s %10.1f us warm %10.1f us cold\n",
                    qPrintable(QStringLiteral("load + show %1 x %2").arg(size.width()).arg(size.height())), warm, cold);
        const QString key = size.width() == 320 ? QStringLiteral("320") : size.width() == 1920 ? QStringLiteral("1080") : QStringLiteral("2160");
        json[QStringLiteral("load_us_") + key] = warm;
        json[QStringLiteral("load_cold_us_") + key] = cold;
    }

    const auto [rssSmall, unused1] = memoryOf(small, 3);
    const auto [rssLarge, unused2] = memoryOf(large, 3);
    const int growthRuns = quick ? 200 : 1000;
    const auto [unused3, growth] = memoryOf(small, growthRuns + 10);
    std::printf("%-34s %10.1f MB\n", "peak RSS, 320 x 200 frames", rssSmall);
    std::printf("%-34s %10.1f MB\n", "peak RSS, 1920 x 1080 frames", rssLarge);
    std::printf("%-34s %10.0f kB over %d runs\n", "RSS growth", growth, growthRuns);
    json[QStringLiteral("rss_mb_320")] = rssSmall;
    json[QStringLiteral("rss_mb_1080")] = rssLarge;
    json[QStringLiteral("rss_growth_kb_1000")] = growth * 1000.0 / growthRuns;

    const std::vector<double> startup = startupMs({TARVEK_EXECUTABLE, BARE_WINDOW_EXECUTABLE}, small, quick ? 5 : 15);
    std::printf("%-34s %10.1f ms\n", "process start to window mapped", startup[0]);
    std::printf("%-34s %10.1f ms\n", "  the same, bare Qt window + label", startup[1]);
    json[QStringLiteral("startup_ms")] = startup[0];
    json[QStringLiteral("ref_startup_ms")] = startup[1];

    std::printf("%s\n", QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
    return 0;
}
