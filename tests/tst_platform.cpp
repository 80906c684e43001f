#include "test_support.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <functional>
#include <limits>

namespace {
constexpr int Mismatch = ErrorNumber::TypeMismatch, Overflow = ErrorNumber::Overflow;
constexpr int NoSecond = std::numeric_limits<int>::min(); // a row with one wakeAt() only
} // namespace

// The runtime layer: text to integer, timers on the manual clock, and the real
// timer sources.
class tst_Platform : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_MAIN(tst_Platform)
#include "tst_platform.moc"
