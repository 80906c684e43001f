#include "test_support.h"

#include <QSignalSpy>
#include <QTest>

// Timer semantics on the manual clock: every time below is exact.
class tst_Timers : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void intervalRange_data();
    void intervalRange();
    void tickTimes_data();
    void tickTimes();
    void lateTickIsDeliveredOnce();
    void preciseSourceWakesNearDeadline();

private:
    // Records when the timer's ticks were due, in ms since the start of the test.
    void ticksOf(RuntimeTimer &timer);

    std::unique_ptr<TestRuntime> m_runtime;
    QList<qint64> m_ticks;
    Nanoseconds m_start{};
};

void tst_Timers::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    m_start = m_runtime->clock().now();
    m_ticks.clear();
}

void tst_Timers::cleanup()
{
    m_runtime.reset();
}

void tst_Timers::ticksOf(RuntimeTimer &timer)
{
    connect(&timer, &RuntimeTimer::timer, this, [this] {
        m_ticks << std::chrono::duration_cast<std::chrono::milliseconds>(m_runtime->timers().now() - m_start).count();
    });
}

void tst_Timers::intervalRange_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("zero") << 0 << true;
    QTest::newRow("largest") << 65535 << true;
    QTest::newRow("one above largest") << 65536 << false;
    QTest::newRow("negative") << -1 << false;
    QTest::newRow("far out") << std::numeric_limits<int>::min() << false;
}

void tst_Timers::intervalRange()
{
    QFETCH(int, value);
    QFETCH(bool, accepted);
    RuntimeTimer timer(m_runtime->timers());
    timer.setInterval(250);
    try {
        timer.setInterval(value);
        QVERIFY(accepted);
        QCOMPARE(timer.interval(), value);
    } catch (const RuntimeError &error) {
        QVERIFY(!accepted);
        QCOMPARE(error.number(), ErrorNumber::InvalidPropertyValue);
        QCOMPARE(timer.interval(), 250);
    }
}

void tst_Timers::tickTimes_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("resetAfter"); // ms after enabling at which Interval is set again; -1 none
    QTest::addColumn<int>("disableAfter"); // -1: never
    QTest::addColumn<QList<qint64>>("expected"); // within the first 350 ms

    QTest::newRow("first tick one interval after enabling") << 100 << -1 << -1 << QList<qint64>{100, 200, 300};
    QTest::newRow("one millisecond") << 1 << -1 << 4 << QList<qint64>{1, 2, 3, 4};
    QTest::newRow("zero never ticks") << 0 << -1 << -1 << QList<qint64>{};
    QTest::newRow("interval set restarts the count") << 100 << 60 << -1 << QList<qint64>{160, 260};
    QTest::newRow("disabled timer is silent") << 100 << -1 << 150 << QList<qint64>{100};
}

void tst_Timers::tickTimes()
{
    QFETCH(int, interval);
    QFETCH(int, resetAfter);
    QFETCH(int, disableAfter);
    QFETCH(QList<qint64>, expected);

    RuntimeTimer timer(m_runtime->timers());
    ticksOf(timer);
    timer.setInterval(interval);
    m_runtime->clock().advance(1s); // a disabled timer never ticks
    QVERIFY(m_ticks.isEmpty());

    m_start = m_runtime->clock().now();
    timer.setEnabled(true);
    for (int ms = 1; ms <= 350; ++ms) {
        m_runtime->clock().advance(1ms);
        if (ms == resetAfter)
            timer.setInterval(interval);
        if (ms == disableAfter)
            timer.setEnabled(false);
    }
    QCOMPARE(m_ticks, expected);
}

void tst_Timers::lateTickIsDeliveredOnce()
{
    RuntimeTimer timer(m_runtime->timers());
    timer.setInterval(10);
    QList<qint64> delivered;
    connect(&timer, &RuntimeTimer::timer, this, [&] {
        delivered << std::chrono::duration_cast<std::chrono::milliseconds>(m_runtime->clock().now() - m_start).count();
        if (delivered.size() == 1)
            m_runtime->clock().passTime(25ms); // the ticks due at 20 and 30 fall inside
    });
    ticksOf(timer);
    timer.setEnabled(true);
    m_runtime->clock().advance(55ms);
    QCOMPARE(m_ticks, (QList<qint64>{10, 20, 40, 50})); // as due: 30 is folded into 20
    QCOMPARE(delivered, (QList<qint64>{10, 35, 40, 50}));
}

void tst_Timers::preciseSourceWakesNearDeadline()
{
    // The real source, with a watchdog rather than a speed limit: a wake-up must
    // come, and never before its deadline.
    RuntimeServices runtime;
    RuntimeTimer timer(runtime.timers());
    QSignalSpy ticks(&timer, &RuntimeTimer::timer);
    qint64 due = 0;
    qint64 woke = 0;
    connect(&runtime.timers(), &TimerScheduler::aboutToTick, this, [&](const RuntimeTimer *, qint64 d, qint64 w) {
        due = d;
        woke = w;
    });
    timer.setInterval(20);
    const Nanoseconds enabledAt = runtime.timers().now();
    timer.setEnabled(true);
    QVERIFY(ticks.wait(5000));
    QVERIFY(due >= (enabledAt + 20ms).count() && due < (enabledAt + 21ms).count());
    QVERIFY(woke >= due);
    QVERIFY2(woke - due < 1'000'000'000, "a wake-up a whole second late");
}

QTEST_MAIN(tst_Timers)
#include "tst_timers.moc"
