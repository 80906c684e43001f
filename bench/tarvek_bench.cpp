// tarvek-bench: the program's timing, load speed, memory and start-up, measured on
// the real window and runtime layer, beside the limit of this machine (a bare
// timerfd chain). The timing and the loads are measured on two platforms in one
// run: offscreen, and a real X server (its own Xvfb when there is no DISPLAY).
// Prints a table and one JSON line. --quick: fewer runs, the same method.
#include "form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cerrno>
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
    double over05 = 0, over1 = 0; // shares above 500 and 1000, in per cent
};

Stats statsOf(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))]; };
    const auto share = [&](double limit) {
        return 100.0 * double(v.end() - std::upper_bound(v.begin(), v.end(), limit)) / double(v.size());
    };
    return {at(0.5), at(0.99), v.back(), share(500), share(1000)};
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

// Runs of the chain on one platform.
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

// Load and show one frame, warm or with the file dropped from the page cache;
// the median in microseconds.
double loadUs(const QString &dir, QSize size, bool cold, int repeats)
{
    const QString folder = QDir(dir).filePath(QStringLiteral("load-%1-%2").arg(size.width()).arg(getpid()));
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
        QCoreApplication::processEvents(); // what the event loop does between two frames
        const double start = monotonicMs();
        display.showFrame(1);
        if (i > 0 || cold)
            times.push_back((monotonicMs() - start) * 1e3);
    }
    QFile::remove(name);
    return median(times);
}

// The child process that measures on one platform, driven line by line on its
// standard input. "run T": one run of the chain at T ms in dir, answered by
// "PAINTED RUN_MS DRIFT_MS HOP_US..."; "load W H COLD REPEATS": the median of
// loadUs() in microseconds.
int platformChild(const QString &dir)
{
    QDir::setCurrent(dir);
    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    waitExposed(form);
    PaintCounter paints;
    form.image1().installEventFilter(&paints);
    std::vector<double> hops;
    QObject::connect(&runtime.timers(), &TimerScheduler::aboutToTick, &form,
                     [&](const RuntimeTimer *, qint64 due, qint64 woke) { hops.push_back(double(woke - due) / 1e3); });
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
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        int interval = 0, width = 0, height = 0, cold = 0, repeats = 0;
        if (std::sscanf(line, "load %d %d %d %d", &width, &height, &cold, &repeats) == 4) {
            std::printf("%.1f\n", loadUs(dir, {width, height}, cold != 0, repeats));
            QDir::setCurrent(dir);
        } else if (std::sscanf(line, "run %d", &interval) == 1) {
            hops.clear();
            paints.count = 0;
            finishedAt = 0;
            form.text1().setText(QString::number(interval));
            QCoreApplication::processEvents();
            const double pressedAt = double(runtime.timers().source().now().count()) / 1e6;
            form.command1().click();
            watchdog.start(interval * StageCount + 10000);
            loop.exec();
            if (finishedAt == 0)
                return 1;
            std::printf("%d %.3f %.3f", paints.count, finishedAt - pressedAt, finishedAt - pressedAt - interval * StageCount);
            for (double hop : hops)
                std::printf(" %.2f", hop);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    return 0;
}

// The parent's end of a platform child.
class PlatformChild
{
public:
    PlatformChild(const QString &platform, const QByteArray &display, const QString &dir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--platform-child"), dir});
        m_process.waitForStarted();
    }
    ~PlatformChild()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    QList<QByteArray> ask(const QByteArray &request, int timeoutMs)
    {
        m_process.write(request + '\n');
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(timeoutMs)) {
                std::fprintf(stderr, "tarvek-bench: no answer to \"%s\"\n", request.constData());
                std::exit(1);
            }
        }
        return m_process.readLine().trimmed().split(' ');
    }
    void run(int interval, ChainRuns &into)
    {
        const QList<QByteArray> answer = ask("run " + QByteArray::number(interval), interval * StageCount + 15000);
        into.painted.push_back(answer[0].toInt());
        into.runMs.push_back(answer[1].toDouble());
        into.driftMs.push_back(answer[2].toDouble());
        for (qsizetype i = 3; i < answer.size(); ++i)
            into.hopUs.push_back(answer[i].toDouble());
    }

private:
    QProcess m_process;
};

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

// An X server: the one in DISPLAY, or an Xvfb of the bench's own, ended with it.
struct XServer
{
    QByteArray display = qgetenv("DISPLAY");
    pid_t xvfb = 0;

    XServer()
    {
        int fds[2];
        if (!display.isEmpty() || pipe(fds) != 0)
            return;
        xvfb = fork();
        if (xvfb == 0) {
            close(fds[0]);
            const QByteArray fd = QByteArray::number(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "640x480x24", "-nolisten", "tcp", nullptr);
            _exit(127);
        }
        close(fds[1]);
        errno = EINTR;
        char number[16] = {};
        ssize_t n = -1;
        while (n < 0 && errno == EINTR) // a signal may come first
            n = read(fds[0], number, sizeof number - 1);
        if (n > 0)
            display = ":" + QByteArray(number).trimmed();
        close(fds[0]);
    }
    ~XServer()
    {
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
        }
    }
};

// Start-up: from fork to the moment the X server maps the window, for each
// executable, alternating so that both see the same machine.
std::vector<double> startupMs(const std::vector<QByteArray> &executables, const QByteArray &display,
                              const QString &framesDir, int repeats)
{
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
    std::vector<double> medians;
    for (const auto &t : times)
        medians.push_back(t.empty() ? -1 : median(t));
    return medians;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir; // Qt wants one, private; the children share the bench's
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFile::setPermissions(runtimeDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"--memory-child")
        return memoryChild(args[2], args[3].toInt());
    if (args.size() == 3 && args[1] == u"--platform-child")
        return platformChild(args[2]);
    const bool quick = args.contains(QStringLiteral("--quick"));

    QTemporaryDir work;
    const QString small = work.filePath(QStringLiteral("320"));
    const QString large = work.filePath(QStringLiteral("1080"));
    writeFrames(small, {320, 200});
    writeFrames(large, {1920, 1080});
    const XServer x;
    const QStringList platforms = {QStringLiteral("offscreen"), QStringLiteral("xcb")};
    std::vector<std::unique_ptr<PlatformChild>> children;
    for (const QString &platform : platforms)
        children.push_back(std::make_unique<PlatformChild>(platform, x.display, small));

    QJsonObject json;
    std::printf("Tarvek benchmark (%s; X server %s)\n", quick ? "quick" : "full", x.xvfb ? "Xvfb of its own" : x.display.constData());
    std::printf("%-36s %9s %9s %9s %8s %8s\n", "hop lateness (us)", "median", "p99", "max", ">0.5ms%", ">1ms%");
    const auto row = [](const QString &name, Stats s) {
        std::printf("%-36s %9.1f %9.1f %9.1f %8.2f %8.2f\n", qPrintable(name), s.median, s.p99, s.max, s.over05, s.over1);
    };

    // Each round plays one run on each platform and one of the reference, so that
    // all three meet the same moments of the machine; the first round warms up.
    std::vector<ChainRuns> fastest(children.size());
    for (int interval : {100, 16, 1}) {
        const int rounds = quick ? (interval == 100 ? 2 : interval == 16 ? 6 : 10) : 31; // 31 x 33 hops: 1023
        std::vector<ChainRuns> runs(children.size());
        std::vector<double> reference;
        for (int round = 0; round <= rounds; ++round) {
            for (size_t p = 0; p < children.size(); ++p) {
                ChainRuns warmUp;
                children[p]->run(interval, round == 0 ? warmUp : runs[p]);
            }
            const std::vector<double> hops = referenceHops(interval, 1);
            if (round > 0)
                reference.insert(reference.end(), hops.begin(), hops.end());
        }
        const QString t = QString::number(interval);
        for (size_t p = 0; p < children.size(); ++p) {
            const Stats hop = statsOf(runs[p].hopUs), drift = statsOf(runs[p].driftMs);
            row(QStringLiteral("%1, t=%2 ms (%3 hops)").arg(platforms[qsizetype(p)], t).arg(runs[p].hopUs.size()), hop);
            std::printf("%-36s %9.3f ms\n", "  closing frame after press + 33 t", drift.median);
            const QString suffix = (p == 0 ? QString() : platforms[qsizetype(p)] + u'_') + t;
            json[u"hop_us_"_qs + suffix] = hop.median;
            json[u"drift_ms_"_qs + suffix] = drift.median;
            json[u"late_05ms_pct_"_qs + platforms[qsizetype(p)] + u'_' + t] = hop.over05;
            json[u"late_1ms_pct_"_qs + platforms[qsizetype(p)] + u'_' + t] = hop.over1;
        }
        const Stats ref = statsOf(reference);
        row(QStringLiteral("bare timerfd, t=%1 ms (%2 hops)").arg(t).arg(reference.size()), ref);
        json[u"ref_hop_us_"_qs + t] = ref.median;
        json[u"ref_late_05ms_pct_"_qs + t] = ref.over05;
        json[u"ref_late_1ms_pct_"_qs + t] = ref.over1;
        if (interval == 1)
            fastest = runs;
    }
    for (size_t p = 0; p < children.size(); ++p) {
        const Stats run = statsOf(fastest[p].runMs);
        const int fewest = *std::min_element(fastest[p].painted.begin(), fastest[p].painted.end());
        std::printf("%-36s %9.2f ms, fewest frames painted %d of 33\n",
                    qPrintable(QStringLiteral("33 stages at 1 ms, %1").arg(platforms[qsizetype(p)])), run.median, fewest);
        json[p == 0 ? u"fast_run_ms"_qs : u"fast_run_ms_"_qs + platforms[qsizetype(p)]] = run.median;
        json[p == 0 ? u"painted"_qs : u"painted_"_qs + platforms[qsizetype(p)]] = fewest;
    }

    for (const QSize size : {QSize(320, 200), QSize(1920, 1080), QSize(3840, 2160)}) {
        const int repeats = quick ? 5 : (size.width() > 2000 ? 10 : 30);
        const QString key = size.width() == 320 ? QStringLiteral("320") : size.width() == 1920 ? QStringLiteral("1080") : QStringLiteral("2160");
        for (size_t p = 0; p < children.size(); ++p) {
            const QByteArray request = "load " + QByteArray::number(size.width()) + ' ' + QByteArray::number(size.height());
            const double warm = children[p]->ask(request + " 0 " + QByteArray::number(repeats), 60000)[0].toDouble();
            const double cold = children[p]->ask(request + " 1 " + QByteArray::number(repeats), 60000)[0].toDouble();
            std::printf("%-36s %9.1f us warm %9.1f us cold\n",
                        qPrintable(QStringLiteral("load + show %1 x %2, %3").arg(size.width()).arg(size.height()).arg(platforms[qsizetype(p)])), warm, cold);
            const QString suffix = (p == 0 ? QString() : platforms[qsizetype(p)] + u'_') + key;
            json[u"load_us_"_qs + suffix] = warm;
            json[u"load_cold_us_"_qs + suffix] = cold;
        }
    }
    children.clear();

    const auto [rssSmall, unused1] = memoryOf(small, 3);
    const auto [rssLarge, unused2] = memoryOf(large, 3);
    const int growthRuns = quick ? 200 : 1000;
    const auto [unused3, growth] = memoryOf(small, growthRuns + 10);
    std::printf("%-36s %9.1f MB\n", "peak RSS, 320 x 200 frames", rssSmall);
    std::printf("%-36s %9.1f MB\n", "peak RSS, 1920 x 1080 frames", rssLarge);
    std::printf("%-36s %9.0f kB over %d runs\n", "RSS growth", growth, growthRuns);
    json[QStringLiteral("rss_mb_320")] = rssSmall;
    json[QStringLiteral("rss_mb_1080")] = rssLarge;
    json[QStringLiteral("rss_growth_kb_1000")] = growth * 1000.0 / growthRuns;

    const std::vector<double> startup = startupMs({TARVEK_EXECUTABLE, BARE_WINDOW_EXECUTABLE}, x.display, small, quick ? 5 : 15);
    std::printf("%-36s %9.1f ms\n", "process start to window mapped", startup[0]);
    std::printf("%-36s %9.1f ms\n", "  the same, bare Qt window + label", startup[1]);
    std::printf("%-36s %9.2f (goal: at most 1.10)\n", "  ratio", startup[0] / startup[1]);
    json[QStringLiteral("startup_ms")] = startup[0];
    json[QStringLiteral("ref_startup_ms")] = startup[1];
    json[QStringLiteral("startup_ratio")] = startup[0] / startup[1];

    std::printf("%s\n", QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
    return 0;
}
