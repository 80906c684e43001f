#include "test_support.h"

#include "bmp_reader.h"

#include <QBuffer>
#include <QDataStream>
#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <functional>
#include <limits>

namespace {
const QRgb Red = qRgb(255, 0, 0), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255), White = qRgb(255, 255, 255);
const QList<QRgb> Palette4 = {Red, Green, Blue, White};
constexpr int Mismatch = ErrorNumber::TypeMismatch, Overflow = ErrorNumber::Overflow, Invalid = ErrorNumber::InvalidPicture;
constexpr int NotFound = ErrorNumber::FileNotFound, Denied = ErrorNumber::PermissionDenied, NoAccess = ErrorNumber::PathFileAccess;

// A BMP file built byte by byte, for the variants QImage does not write.
// pixels are the rows as stored (bottom-up unless topDown), padding included.
QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression, const QByteArray &pixels,
                   const QList<QRgb> &palette = {}, bool topDown = false)
{
    const quint32 offset = quint32(14 + 40 + 4 * palette.size());
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("BM", 2);
    s << quint32(offset + quint32(pixels.size())) << quint32(0) << offset;
    s << quint32(40) << qint32(width) << qint32(topDown ? -height : height) << quint16(1)
      << quint16(bitsPerPixel) << quint32(compression) << quint32(pixels.size()) << qint32(3780)
      << qint32(3780) << quint32(palette.size()) << quint32(0);
    for (QRgb c : palette)
        s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    s.writeRawData(pixels.constData(), int(pixels.size()));
    return out;
}

// 2 x 2 pictures: red, green on top; blue, white below (bottom row stored first).
QByteArray twoByTwo(int bpp, int compression = 0, bool topDown = false)
{
    QByteArray top, bottom; // rows as stored: blue, green, red; palette indices; 5-5-5 bits
    switch (bpp) {
    case 32: top = QByteArray::fromHex("0000ff0900ff0009"); bottom = QByteArray::fromHex("ff000009ffffff09"); break; // reserved bytes set
    case 24: top = QByteArray::fromHex("0000ff00ff000000"); bottom = QByteArray::fromHex("ff0000ffffff0000"); break;
    case 16: top = QByteArray::fromHex("007ce003"); bottom = QByteArray::fromHex("1f00ff7f"); break;
    case 8:
        if (compression == 1)
            return bmpFile(2, 2, 8, 1, QByteArray::fromHex("0102010300000100010100000001"), Palette4);
        top = QByteArray::fromHex("00010000"); bottom = QByteArray::fromHex("02030000"); break;
    case 4:
        if (compression == 2)
            return bmpFile(2, 2, 4, 2, QByteArray::fromHex("02230000020100000001"), Palette4);
        top = QByteArray::fromHex("01000000"); bottom = QByteArray::fromHex("23000000"); break;
    case 1: // palette red, white: top red white, bottom white white
        return bmpFile(2, 2, 1, 0, QByteArray::fromHex("c000000040000000"), {Red, White});
    }
    return bmpFile(2, 2, bpp, 0, topDown ? top + bottom : bottom + top, bpp <= 8 ? Palette4 : QList<QRgb>{}, topDown);
}

QByteArray encoded(int w, int h, const char *format)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Green);
    image.setPixel(0, 0, Red);
    image.setPixel(1, 1, White);
    QBuffer buffer; // opened by the writer
    image.save(&buffer, format);
    return buffer.data();
}

bool nearlyEqual(QRgb a, QRgb b) // 5-bit channels come back as 248, not 255
{
    return qAbs(qRed(a) - qRed(b)) < 8 && qAbs(qGreen(a) - qGreen(b)) < 8 && qAbs(qBlue(a) - qBlue(b)) < 8;
}

// Writes the file; given a sparseSize, extends it to that size with a hole.
bool write(const QString &name, const QByteArray &data, qint64 sparseSize = 0)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && (!sparseSize || file.resize(sparseSize));
}
constexpr int NoSecond = std::numeric_limits<int>::min(); // a row with one wakeAt() only

} // namespace

// The runtime layer: text to integer, timers on the manual clock, and
// loadPicture() with every BMP variant and every way a file can fail to be one.
class tst_Platform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
#ifdef Q_OS_UNIX
        // Root may read any file; the permission row needs an ordinary user's view.
        if (::geteuid() == 0)
            QVERIFY(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
#endif
    }
    void cleanup()
    {
#ifdef Q_OS_WIN
        if (m_lock != INVALID_HANDLE_VALUE)
            ::CloseHandle(std::exchange(m_lock, INVALID_HANDLE_VALUE));
#endif
        QDir::setCurrent(QDir::tempPath()); // Windows removes no folder that is current
        m_dir.reset();
    }
    void init() { QVERIFY(m_dir.emplace().isValid() && QDir::setCurrent(m_dir->path())); }
    void textToInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("error"); // 0: converts to expected
        QTest::newRow("plain") << u"100"_s << 100 << 0;
        QTest::newRow("leading zero, not octal") << u"010"_s << 10 << 0;
        QTest::newRow("blanks around") << u" \t100 \t"_s << 100 << 0;
        QTest::newRow("plus sign and blanks") << u" +250 "_s << 250 << 0;
        QTest::newRow("negative") << u"-5"_s << -5 << 0;
        QTest::newRow("largest") << u"2147483647"_s << 2147483647 << 0;
        QTest::newRow("smallest") << u"-2147483648"_s << -2147483647 - 1 << 0;
        QTest::newRow("megabyte of blanks around") << QString(1 << 19, u' ') + u"42"_s + QString(1 << 19, u' ') << 42 << 0;
        QTest::newRow("one above largest") << u"2147483648"_s << 0 << Overflow;
        QTest::newRow("one below smallest") << u"-2147483649"_s << 0 << Overflow;
        QTest::newRow("megabyte of digits") << QString(1 << 20, u'7') << 0 << Overflow;
        QTest::newRow("empty") << QString() << 0 << Mismatch;
        QTest::newRow("blanks only") << u"   "_s << 0 << Mismatch;
        QTest::newRow("letters") << u"abc"_s << 0 << Mismatch;
        QTest::newRow("digits then letter") << u"12a"_s << 0 << Mismatch;
        QTest::newRow("fraction") << u"12.5"_s << 0 << Mismatch;
        QTest::newRow("sign alone") << u"+"_s << 0 << Mismatch;
        QTest::newRow("double sign") << u"--5"_s << 0 << Mismatch;
        QTest::newRow("blank inside") << u" 5 5 "_s << 0 << Mismatch;
        QTest::newRow("sign apart from digits") << u"- 5"_s << 0 << Mismatch;
        QTest::newRow("arabic-indic digits") << u"١٠٠"_s << 0 << Mismatch;
        QTest::newRow("no-break space") << u"\u00a0100"_s << 0 << Mismatch;
        QTest::newRow("embedded NUL") << QString::fromUtf16(u"10\0" "0", 4) << 0 << Mismatch;
        QTest::newRow("overflowing digits then a letter") << u"99999999999999999999x"_s << 0 << Mismatch;
    }
    void textToInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QFETCH(int, error);
        try {
            const std::int32_t value = ::textToInteger(text);
            QCOMPARE(error, 0);
            QCOMPARE(value, expected);
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), error);
        }
    }
    void timerTicks_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("resetAfter"); // ms after enabling at which Interval is set again; -1: never
        QTest::addColumn<int>("disableAfter"); // -1: never
        QTest::addColumn<int>("firstTickTakes"); // ms the handler of the first tick takes
        QTest::addColumn<QList<qint64>>("expected"); // in 350 steps of 1 ms after enabling
        QTest::newRow("first tick one interval after enabling") << 100 << -1 << -1 << 0 << QList<qint64>{100, 200, 300};
        QTest::newRow("one millisecond") << 1 << -1 << 4 << 0 << QList<qint64>{1, 2, 3, 4};
        QTest::newRow("zero never ticks") << 0 << -1 << -1 << 0 << QList<qint64>{};
        QTest::newRow("largest") << 65535 << -1 << -1 << 0 << QList<qint64>{};
        QTest::newRow("interval set restarts the count") << 100 << 60 << -1 << 0 << QList<qint64>{160, 260};
        QTest::newRow("disabled timer is silent") << 100 << -1 << 150 << 0 << QList<qint64>{100};
        QTest::newRow("a late tick comes once, in phase") << 100 << -1 << -1 << 250 << QList<qint64>{100, 200, 400, 500, 600};
        QTest::newRow("one above largest refused") << 65536 << -1 << -1 << 0 << QList<qint64>{250};
        QTest::newRow("negative refused") << -1 << -1 << -1 << 0 << QList<qint64>{250};
        QTest::newRow("far out refused") << std::numeric_limits<int>::min() << -1 << -1 << 0 << QList<qint64>{250};
    }
    void timerTicks()
    {
        QFETCH(int, interval);
        QFETCH(int, resetAfter);
        QFETCH(int, disableAfter);
        QFETCH(int, firstTickTakes);
        QFETCH(QList<qint64>, expected);
        TestRuntime runtime;
        auto timer = std::make_unique<RuntimeTimer>(runtime.timers());
        QList<qint64> ticks;
        Nanoseconds start{};
        connect(timer.get(), &RuntimeTimer::timer, this, [&] { // records when each tick was due
            ticks << (runtime.timers().now() - start) / 1ms;
            runtime.clock().passTime(std::chrono::milliseconds(ticks.size() == 1 ? firstTickTakes : 0));
        });
        timer->setInterval(250);
        try {
            timer->setInterval(interval);
        } catch (const RuntimeError &error) { // refused: the interval stays as it was
            QCOMPARE(error.number(), ErrorNumber::InvalidPropertyValue);
        }
        runtime.clock().advance(1s); // a timer not yet enabled never ticks
        start = runtime.clock().now();
        timer->setEnabled(true);
        for (int ms = 1; ms <= 350; ++ms) {
            runtime.clock().advance(1ms);
            if (ms == resetAfter)
                timer->setInterval(interval);
            if (ms == disableAfter)
                timer->setEnabled(false);
        }
        QCOMPARE(ticks, expected);
        timer.reset(); // as when the window closes mid-run: nothing of it stays scheduled
        QVERIFY(!runtime.clock().armed());
    }
    void preciseSourceWakesNearDeadline()
    {
        // The real source, with a watchdog rather than a speed limit: a wake-up must
        // come, never before its deadline and not a whole second after it.
        RuntimeServices runtime;
        RuntimeTimer timer(runtime.timers());
        QSignalSpy woke(&runtime.timers(), &TimerScheduler::aboutToTick);
        timer.setInterval(20);
        const qint64 enabledAt = runtime.timers().now().count();
        timer.setEnabled(true);
        QVERIFY(woke.wait(testTime(10000)));
        const qint64 due = woke[0][1].toLongLong(), at = woke[0][2].toLongLong();
        QVERIFY(due >= enabledAt + 20'000'000 && due < enabledAt + 21'000'000);
        QVERIFY(at >= due && at - due < 1'000'000'000);
    }
    void preciseSourceRearmed_data()
    {
        QTest::addColumn<int>("first"); // ms from now of the first wakeAt()
        QTest::addColumn<int>("second"); // of a second one right after it, if any
        QTest::addColumn<bool>("cancelled"); // cancel() right after both
        QTest::newRow("moved later") << 5 << 40 << false;
        QTest::newRow("moved earlier") << 60 << 10 << false;
        QTest::newRow("already passed") << -10 << NoSecond << false;
        QTest::newRow("cancelled") << 10 << NoSecond << true;
        QTest::newRow("moved, then cancelled") << 5 << 20 << true;
        QTest::newRow("passed, then cancelled") << -10 << NoSecond << true;
        QTest::newRow("passed, then moved later") << -10 << 30 << false;
        QTest::newRow("moved to a passed one") << 40 << -5 << false;
    }
    void preciseSourceRearmed()
    {
        // The real source: one wake-up for the last deadline set, never before it;
        // none once cancelled, even when the first arming has already fired.
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(bool, cancelled);
        const std::unique_ptr<TimerSource> source = makePreciseTimerSource();
        QList<Nanoseconds> wakes;
        source->setWakeHandler([&] { wakes << source->now(); });
        const Nanoseconds start = source->now();
        source->wakeAt(start + std::chrono::milliseconds(first));
        if (second != NoSecond) {
            QTest::qSleep(first > 0 && first < second ? first + 2 : 0); // the first arming's signal may be pending
            source->wakeAt(start + std::chrono::milliseconds(second));
        }
        QVERIFY(wakes.isEmpty()); // never inside the call
        if (cancelled)
            source->cancel();
        const int last = second != NoSecond ? second : first;
        QVERIFY(cancelled || QTest::qWaitFor([&] { return !wakes.isEmpty(); }, testTime(10000)));
        QTest::qWait(std::max({first, second, 0}) + 150); // what should not come would have come by now
        if (cancelled) {
            QCOMPARE(wakes.size(), 0);
            return;
        }
        QCOMPARE(wakes.size(), 1);
        QVERIFY(wakes[0] >= start + std::chrono::milliseconds(last));
    }
    void sourceNeverEarly_data()
    {
        QTest::addColumn<std::function<std::unique_ptr<TimerSource>()>>("make");
        QTest::newRow("precise") << std::function(makePreciseTimerSource);
        QTest::newRow("QTimer, where there is none") << std::function(makeQtTimerSource);
    }
    void sourceNeverEarly()
    {
        // Deadlines so near that the precise source's own sleep ends at once and
        // the rest is spun, and that a QTimer's whole milliseconds must round up:
        // fifty in a row, each woken no sooner than due. The event loop waits for
        // the wake-up itself, as the program's does, so that it is seen at once.
        QFETCH(std::function<std::unique_ptr<TimerSource>()>, make);
        const std::unique_ptr<TimerSource> source = make();
        QEventLoop loop;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
        Nanoseconds deadline{}, woke{};
        source->setWakeHandler([&] {
            woke = source->now();
            loop.quit();
        });
        for (int i = 0; i < 50; ++i) {
            woke = {};
            deadline = source->now() + 1450us;
            source->wakeAt(deadline);
            watchdog.start(testTime(10000));
            loop.exec();
            QVERIFY2(woke != Nanoseconds{}, "never woken");
            QVERIFY2(woke >= deadline, qPrintable(u"woken %1 µs early"_s.arg(double((deadline - woke).count()) / 1000)));
        }
    }
#ifdef Q_OS_WIN
    void preciseSourceInTheSystemsLoop()
    {
        // While a window is moved or sized, or a system dialog is open, the
        // system runs a message loop of its own, whose waits let no completion
        // routine run: the wake-up comes there all the same, once, not early.
        const std::unique_ptr<TimerSource> source = makePreciseTimerSource();
        QList<Nanoseconds> wakes;
        source->setWakeHandler([&] { wakes << source->now(); });
        const Nanoseconds deadline = source->now() + 30ms;
        source->wakeAt(deadline);
        QElapsedTimer watchdog;
        watchdog.start();
        while (wakes.isEmpty() && watchdog.elapsed() < testTime(10000)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT); // not alertable
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        QCOMPARE(wakes.size(), 1);
        QVERIFY(wakes[0] >= deadline);
        QTest::qWait(100); // back in Qt's own loop, which lets the routine run: no second wake-up
        QCOMPARE(wakes.size(), 1);
    }
#endif
#ifdef Q_OS_WIN
    void preciseSourceCatchesUp_data()
    {
        QTest::addColumn<QString>("waiting"); // what the first wake-up leaves waiting
        QTest::newRow("nothing: each passed deadline follows in the same wait of the event loop") << QString();
        QTest::newRow("a posted event: delivered before the next, in the same wait") << u"posted"_s;
        QTest::newRow("a paint: painted before the next") << u"paint"_s;
    }
    void preciseSourceCatchesUp()
    {
        // A program behind its time: each wake-up sets a deadline already
        // passed. They follow one another without the event loop waking in
        // between, but Qt's posted events are delivered before each, and a
        // paint that waits is painted first.
        QFETCH(QString, waiting);
        // No window where nothing is to wait: input could come to it.
        std::unique_ptr<QWidget> window;
        if (waiting == u"paint"_s) {
            window = std::make_unique<QWidget>();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
        const std::unique_ptr<TimerSource> source = makePreciseTimerSource();
        int wakes = 0, deliveredBefore = -1, loopWokeAt = -1;
        bool paintWaitedAtSecond = false;
        const QMetaObject::Connection awake = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                                      this, [&] { loopWokeAt = loopWokeAt < 0 && wakes > 0 && wakes < 5 ? wakes : loopWokeAt; });
        source->setWakeHandler([&] {
            if (++wakes == 1) {
                if (waiting == u"posted"_s)
                    QMetaObject::invokeMethod(this, [&] { deliveredBefore = wakes + 1; }, Qt::QueuedConnection);
                if (window)
                    ::InvalidateRect(HWND(window->winId()), nullptr, FALSE);
            } else if (wakes == 2) {
                paintWaitedAtSecond = HIWORD(::GetQueueStatus(QS_PAINT)) != 0;
            }
            if (wakes < 5)
                source->wakeAt(source->now() - 1ms);
        });
        source->wakeAt(source->now() + 2ms);
        QVERIFY(QTest::qWaitFor([&] { return wakes == 5; }, testTime(10000)));
        QTest::qWait(50);
        disconnect(awake);
        QCOMPARE(wakes, 5);
        if (waiting == u"paint"_s) {
            QVERIFY2(!paintWaitedAtSecond, "the paint waited behind the next wake-up");
            return;
        }
        QCOMPARE(loopWokeAt, -1); // no turn of the event loop between them
        if (waiting == u"posted"_s)
            QCOMPARE(deliveredBefore, 2);
    }
#endif
    // Uncompressed 24- and 32-bit BMPs of every row padding, each pixel its own
    // colour, the reserved byte of 32-bit pixels set: every pixel read exactly,
    // opaque, the last of each row too; pictures of more rows than are read at
    // once (64 KiB), their last read a part one, stored bottom-up and top-down;
    // and rows wider than 64 KiB, read one at a time.
    void plainBmpPixels_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<bool>("topDown");
        QTest::addColumn<qint64>("kept"); // bytes of rows left once the file is open; -1: all
        for (const int bpp : {24, 32})
            for (const int width : {1, 2, 3, 4, 5})
                for (const bool topDown : {false, true})
                    QTest::addRow("%d bit, %d wide%s", bpp, width, topDown ? ", top-down" : "") << width << 3 << bpp << topDown << -1LL;
        for (const bool topDown : {false, true}) {
            const char *const order = topDown ? ", top-down" : "";
            QTest::addRow("24 bit, 16-byte rows, 4096 and 3 read%s", order) << 5 << 4099 << 24 << topDown << -1LL;
            QTest::addRow("32 bit, 12-byte rows, 5461 and 2 read%s", order) << 3 << 5463 << 32 << topDown << -1LL;
            QTest::addRow("24 bit, 21846 wide: a row over 64 KiB%s", order) << 21846 << 3 << 24 << topDown << -1LL;
            QTest::addRow("32 bit, 16385 wide: a row over 64 KiB%s", order) << 16385 << 2 << 32 << topDown << -1LL;
            QTest::addRow("32 bit, 16384 wide: a row of 64 KiB%s", order) << 16384 << 3 << 32 << topDown << -1LL;
            // A file that grows shorter while it is read, as one being written or
            // replaced does, after its size was found and before its rows are read:
            // refused, never shown with rows that were not read.
            QTest::addRow("shortened to its header%s", order) << 5 << 4099 << 24 << topDown << 0LL;
            QTest::addRow("shortened inside the first read%s", order) << 5 << 4099 << 24 << topDown << 100LL * 16;
            QTest::addRow("shortened inside the last read%s", order) << 5 << 4099 << 24 << topDown << 4097LL * 16;
            QTest::addRow("shortened by a byte%s", order) << 5 << 4099 << 24 << topDown << 4099LL * 16 - 1;
            QTest::addRow("rows over 64 KiB, shortened by a row%s", order) << 21846 << 3 << 24 << topDown << 2LL * 65540;
        }
    }
    void plainBmpPixels()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bitsPerPixel);
        QFETCH(bool, topDown);
        QFETCH(qint64, kept);
        const int rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        const auto colour = [](int x, int y) { return qRgb(10 + 40 * x + y, 200 - 30 * y, 7 * x + 60 * y + 1); };
        QByteArray pixels;
        for (int i = 0; i < height; ++i) {
            const int y = topDown ? i : height - 1 - i; // the top row first, or the bottom one
            QByteArray row;
            for (int x = 0; x < width; ++x) {
                row += char(qBlue(colour(x, y))) + QByteArray(1, char(qGreen(colour(x, y)))) + char(qRed(colour(x, y)));
                if (bitsPerPixel == 32)
                    row += char(0x5a);
            }
            pixels += row + QByteArray(rowBytes - row.size(), '\xee');
        }
        QVERIFY(write(u"1.bmp"_s, bmpFile(width, height, bitsPerPixel, 0, pixels, {}, topDown)));
        if (kept >= 0) {
            QFile file(u"1.bmp"_s);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 sizeWhenOpened = file.size();
            QVERIFY(file.resize(54 + kept));
            const std::optional<QImage> read = readPlainBmp(file, sizeWhenOpened);
            QVERIFY2(read && read->isNull(), "rows that were never read taken for a picture");
            return;
        }
        const QImage image = loadPicture(u"1.bmp"_s);
        QCOMPARE(image.size(), QSize(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (reinterpret_cast<const QRgb *>(image.constScanLine(y))[x] != colour(x, y))
                    QFAIL(qPrintable(u"pixel %1, %2 is %3, not %4"_s.arg(x).arg(y).arg(image.pixel(x, y), 8, 16).arg(colour(x, y), 8, 16)));
    }
    void pictureFiles_data()
    {
        QTest::addColumn<std::function<bool()>>("make"); // makes 1.bmp, or what stands in its place
        QTest::addColumn<QSize>("size"); // of the picture; empty: the load fails with error
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("load"); // the name loaded
        const auto row = [](const char *name, const std::function<bool()> &make, QSize size, int error,
                            const QString &load = u"1.bmp"_s) {
            QTest::newRow(name) << make << size << error << load;
        };
        const QString frame = u"1.bmp"_s, good = u"good.png"_s;
        const auto loads = [&](const char *name, const QByteArray &content, QSize size = {2, 2}) {
            row(name, [=] { return write(frame, content); }, size, 0);
        };
        const auto refused = [&](const char *name, const QByteArray &content, qint64 sparseSize = 0) {
            row(name, [=] { return write(frame, content, sparseSize); }, {}, Invalid);
        };
        loads("bmp 1 bit", twoByTwo(1));
        loads("bmp 4 bit", twoByTwo(4));
        loads("bmp 4 bit RLE", twoByTwo(4, 2));
        loads("bmp 8 bit", twoByTwo(8));
        loads("bmp 8 bit RLE", twoByTwo(8, 1));
        loads("bmp 16 bit", twoByTwo(16));
        loads("bmp 24 bit", twoByTwo(24));
        QByteArray textLike = twoByTwo(24); // bytes a file read as text would change or end at:
        textLike.replace(6, 4, "\r\n\x1a\n"); // CR LF and ^Z in the header's reserved field
        textLike.replace(54 + 6, 2, "\r\n").replace(62 + 6, 2, "\x1a\r"); // and in the rows' padding
        loads("bmp 24 bit with CR LF and ^Z", textLike);
        loads("bmp 32 bit", twoByTwo(32));
        loads("bmp 1920 x 1080", encoded(1920, 1080, "BMP"), {1920, 1080});
        loads("png under a .bmp name", encoded(64, 40, "PNG"), {64, 40});
        loads("RLE8 runs past the picture", bmpFile(2, 2, 8, 1, QByteArray::fromHex("01020103ff0100000100010102ff0002ffff0001"), Palette4));
        for (int bpp : {1, 4, 8, 16, 24, 32}) // a row short
            refused(qPrintable(u"bmp %1 bit cut short"_s.arg(bpp)), twoByTwo(bpp).chopped(4));
        for (int bpp : {4, 8, 16, 24, 32}) { // rows stored top row first
            loads(qPrintable(u"bmp %1 bit top-down"_s.arg(bpp)), twoByTwo(bpp, 0, true));
            refused(qPrintable(u"bmp %1 bit top-down cut short"_s.arg(bpp)), twoByTwo(bpp, 0, true).chopped(4));
        }
        refused("empty file", {});
        refused("text", "BM, but not a picture");
        refused("bmp header only", encoded(320, 200, "BMP").left(54));
        refused("good bmp in a file above 256 MiB", twoByTwo(24), (256LL << 20) + 1);
        refused("good bmp in a file above 4 GiB", twoByTwo(24), (4LL << 30) + 100); // its size's low 32 bits: 100
        refused("24 bit bmp decoding to 280 MB", bmpFile(10000, 7000, 24, 0, {}), 54 + 30000LL * 7000);
        refused("RLE8 bmp claims 60000 x 60000", bmpFile(60000, 60000, 8, 1, QByteArray::fromHex("0001"), Palette4));
        refused("bmp claims 60000 x 60000", bmpFile(60000, 60000, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims 2^31 x 2^31", bmpFile(2147483647, -2147483647, 24, 0, QByteArray(64, '\0')));
        refused("fuzz: row size times height overflows",
                QByteArray::fromBase64("Qk0+AAAAAAAAQDYAAAAoAAAAAgEAYIAAAsJFAF0AAAAAAAAAAAAAAAAAHwD/fwB84AM="));
        refused("bmp claims negative width", bmpFile(-320, 200, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims zero height", bmpFile(320, 0, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims 7 bits per pixel", bmpFile(2, 2, 7, 0, QByteArray(16, '\0')));
        row("missing", [] { return true; }, {}, NotFound);
        row("directory", [=] { return QDir().mkdir(frame); }, {}, NoAccess);
        row("missing folder", [] { return true; }, {}, NotFound, u"gone/1.bmp"_s);
#ifdef Q_OS_UNIX
        // An unreadable file, a FIFO and a link to a device: in the table below.
        row("symbolic link loop", [=] { return QFile::link(frame, u"2.bmp"_s) && QFile::link(u"2.bmp"_s, frame); }, {}, NoAccess);
        row("link to a good frame", [=] { return write(good, twoByTwo(24)) && QFile::link(good, frame); }, {2, 2}, 0);
#endif
#ifdef Q_OS_WIN
        // Held open by another program that shares it with no one.
        row("locked by another program", [this, frame] {
            m_lock = write(frame, twoByTwo(24))
                ? ::CreateFileW(L"1.bmp", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                : INVALID_HANDLE_VALUE;
            return m_lock != INVALID_HANDLE_VALUE;
        }, {}, Denied);
        // Device names, in every folder and with any ending: never opened.
        const auto device = [&](const char *name, const QString &load) {
            row(name, [] { return QDir().mkdir(u"sub"_s); }, {}, NoAccess, load);
        };
        device("console", u"CON.bmp"_s);
        device("console, lower case", u"con"_s);
        device("null device", u"NUL.bmp"_s);
        device("serial port", u"com1.bmp"_s);
        device("printer port in a folder", u"sub/LPT9.bmp"_s);
        device("console input", u"CONIN$"_s);
        device("console by device path", u"\\\\.\\CON"_s);
        row("COM10 is an ordinary name", [] { return write(u"COM10.bmp"_s, twoByTwo(24)); }, {2, 2}, 0, u"COM10.bmp"_s);
        row("CONSOLE is an ordinary name", [] { return write(u"CONSOLE.bmp"_s, twoByTwo(24)); }, {2, 2}, 0, u"CONSOLE.bmp"_s);
#endif
        row("capitalised ending found", [] { return write(u"1.Bmp"_s, twoByTwo(24)); }, {2, 2}, 0);
        row("mixed-case ending found", [] { return write(u"1.bMP"_s, twoByTwo(24)); }, {2, 2}, 0);
        row("other stem not taken", [] { return write(u"01.bmp"_s, twoByTwo(24)); }, {}, NotFound);
#ifdef Q_OS_UNIX
        // The ending's other spellings are tried only when the name as asked is
        // missing; then the first of them that is there decides, with its picture
        // or its own error, reported under the name asked. Otherwise what is at
        // the name asked decides. Every pair of what can be at either name:
        struct Entry
        {
            const char *what;
            int error; // loading it alone: 0, or the number the README gives
            std::function<bool(const QString &)> make;
        };
        const QList<Entry> entries = {
            {"missing", 53, [](const QString &) { return true; }},
            {"a dangling link", 53, [](const QString &name) { return QFile::link(u"gone.bmp"_s, name); }},
            {"a folder", 75, [](const QString &name) { return QDir().mkdir(name); }},
            {"unreadable", 70, [](const QString &name) { return write(name, twoByTwo(24)) && QFile::setPermissions(name, {}); }},
            {"a FIFO", 75, [](const QString &name) { return ::mkfifo(QFile::encodeName(name).constData(), 0644) == 0; }},
            {"a link to a device", 75, [](const QString &name) { return QFile::link(u"/dev/zero"_s, name); }},
            {"a picture", 0, [](const QString &name) { return write(name, twoByTwo(24)); }},
            {"not a picture", 481, [](const QString &name) { return write(name, "not a picture"); }},
        };
        for (const Entry &asked : entries) {
            for (const Entry &other : entries) {
                const int error = asked.error == 53 ? other.error : asked.error;
                row(qPrintable(u"1.bmp %1, 1.BMP %2"_s.arg(QLatin1String(asked.what), QLatin1String(other.what))),
                    [=] { return asked.make(frame) && other.make(u"1.BMP"_s); }, error ? QSize() : QSize(2, 2), error);
            }
        }
        row("the last spelling tried decides when the others are missing", [] { return QDir().mkdir(u"1.bmP"_s); }, {}, NoAccess);
        row("of two other spellings, the upper-case one decides",
            [] { return QDir().mkdir(u"1.BMP"_s) && write(u"1.Bmp"_s, twoByTwo(24)); }, {}, NoAccess);
        row("name too long", [] { return true; }, {}, NoAccess, QString(300, u'1') + u".bmp"_s);
#endif
    }
    void pictureFiles()
    {
        QFETCH(std::function<bool()>, make);
        QFETCH(QSize, size);
        QFETCH(int, error);
        QFETCH(QString, load);
        QVERIFY(make());
        QElapsedTimer watchdog;
        watchdog.start();
        try {
            const QImage image = loadPicture(load);
            QVERIFY2(size.isValid(), "a broken file was taken for a picture");
            QCOMPARE(image.size(), size);
            QVERIFY(nearlyEqual(image.pixel(0, 0), Red));
            QVERIFY(nearlyEqual(image.pixel(1, 1), White));
            if (size == QSize(2, 2) && qstrcmp(QTest::currentDataTag(), "bmp 1 bit") != 0) // red and white only
                QVERIFY(nearlyEqual(image.pixel(1, 0), Green) && nearlyEqual(image.pixel(0, 1), Blue));
        } catch (const RuntimeError &e) {
            QVERIFY2(!size.isValid(), qPrintable(reportText(e)));
            QCOMPARE(e.number(), error);
            QCOMPARE(e.fileName(), load);
        }
        QVERIFY2(watchdog.elapsed() < testTime(60000), "hung on a hostile file");
    }

private:
    std::optional<QTemporaryDir> m_dir;
#ifdef Q_OS_WIN
    HANDLE m_lock = INVALID_HANDLE_VALUE;
#endif
};

QTEST_MAIN(tst_Platform)
#include "tst_platform.moc"
