#include "test_support.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QWidget>

#include <windows.h>

// The precise timer source on Windows, where the system's own message loops
// and a late run's wake-ups meet the event loop.
class tst_TimerSourceWin : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_MAIN(tst_TimerSourceWin)
#include "tst_timer_source_win.moc"
