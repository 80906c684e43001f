#include "test_support.h"

#include <QApplication>
#include <QStyleHints>

// Runs of the animation in the window, on the manual clock: the frames, their
// times and names, the text typed, failed frames, and the window's other
// repaints near a frame.
class tst_Runs : public FormFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setStyle(u"Fusion"_s); }
    void init() { show(); }
    void cleanup() { close(); }
    void runs_data()
    {
        QTest::addColumn<QString>("before"); // typed for a whole run first; null: none
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("interval"); // expected on all 33 timers
        QTest::addColumn<int>("loadMs"); // the time each picture load takes
        QTest::addColumn<QString>("broken"); // a frame file made missing or garbage, then mended
        QTest::addColumn<int>("error"); // the error reported for it
        const QString none;
        QTest::newRow("100") << none << u"100"_s << 100 << 0 << none << 0;
        QTest::newRow("empty on the first run keeps 1") << none << none << 1 << 0 << none << 0;
        QTest::newRow("empty keeps the last run's") << u"100"_s << none << 100 << 0 << none << 0;
        QTest::newRow("0 is taken as 1") << u"100"_s << u"0"_s << 1 << 0 << none << 0;
        QTest::newRow("negative keeps the last run's") << u"100"_s << u"-5"_s << 100 << 0 << none << 0;
        QTest::newRow("beyond 32 bits keeps the last run's") << u"100"_s << u"99999999999"_s << 100 << 0 << none << 0;
        QTest::newRow("second press reads the new text") << u"100"_s << u"40"_s << 40 << 0 << none << 0;
        QTest::newRow("100 ms, slow loads") << none << u"100"_s << 100 << 30 << none << 0;
        QTest::newRow("1 ms, loads slower than the interval") << none << u"1"_s << 1 << 3 << none << 0;
        QTest::newRow("missing 5.bmp") << none << u"100"_s << 100 << 0 << u"5.bmp"_s << ErrorNumber::FileNotFound;
        QTest::newRow("garbage 7.bmp") << none << u"100"_s << 100 << 0 << u"7.bmp garbage"_s << ErrorNumber::InvalidPicture;
        QTest::newRow("missing 1.bmp") << none << u"100"_s << 100 << 0 << u"1.bmp"_s << ErrorNumber::FileNotFound;
        QTest::newRow("missing -1.bmp") << none << u"100"_s << 100 << 0 << u"-1.bmp"_s << ErrorNumber::FileNotFound;
    }
    void runs()
    {
        QFETCH(QString, before);
        QFETCH(QString, text);
        QFETCH(int, interval);
        QFETCH(int, loadMs);
        QFETCH(QString, broken);
        QFETCH(int, error);
        if (!before.isNull()) {
            press(before);
            play(5s);
            QCOMPARE(m_shown, FrameColours);
        }
        const QString frame = broken.section(u' ', 0, 0);
        const int stage = int(FrameNames.indexOf(frame)) + 1; // 0: none broken
        if (stage > 0) {
            QVERIFY(QFile::rename(frame, u"parked"_s));
            QFile file(frame);
            QVERIFY(!broken.contains(u' ') || (file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0));
        }
        runtime().loadTime = std::chrono::milliseconds(loadMs);
        press(text);
        QVERIFY(!form().command1().isEnabled());
        for (int n = 1; n <= 33; ++n) {
            QCOMPARE(form().timer(n).interval(), interval);
            QCOMPARE(form().timer(n).isEnabled(), n == 1);
        }
        QTest::mouseClick(&form().command1(), Qt::LeftButton); // locked: no second chain
        play(std::chrono::milliseconds(33 * std::max(interval, loadMs) + 10));
        if (stage > 0) { // stopped, then reported; the last good frame stays
            QCOMPARE(m_shown, FrameColours.first(stage - 1));
            QCOMPARE(runtime().reports.size(), 1);
            const TestRuntime::Report report = runtime().reports.first();
            QCOMPARE(report.number, error);
            QCOMPARE(report.fileName, frame);
            QCOMPARE(form().commonDialog1().fileName(), frame); // named before it was read
            QVERIFY2(!report.anyTimerEnabled, "a stage could still run behind the report");
            QVERIFY(report.startEnabled);
            QCOMPARE(form().image1().picture().pixel(0, 0), stage == 1 ? qRgb(0, 0, 0) : FrameColours[stage - 2]);
            QFile::remove(frame); // mended, the next press plays from the first frame
            QVERIFY(QFile::rename(u"parked"_s, frame));
            press(text);
            play(4s);
        }
        QCOMPARE(m_shown, FrameColours);
        for (int n = 1; n <= 33 && loadMs <= interval; ++n) // due n intervals after the press, whatever the loads take
            QCOMPARE(m_shownAt[n - 1], qint64(n) * interval);
        QCOMPARE(m_names[0], u"Кадр 1"_s);
        QCOMPARE(m_names[31], u"Кадр 32"_s);
        QCOMPARE(m_names[32], u"Последний кадр"_s);
        QCOMPARE(m_paints, 33); // every frame painted, none skipped
        QVERIFY(m_oneTimerAtMost);
        QVERIFY(form().command1().isEnabled());
        QCOMPARE(form().commonDialog1().fileName(), u"-1.bmp"_s);
        QVERIFY(!runtime().clock().armed());
        QCOMPARE(runtime().reports.size(), stage > 0 ? 1 : 0);
    }
    // Near a frame's due time the window's other repaints go out with the frame;
    // they are never lost, not even when the frame fails.
    void repaintsNearAFrame_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("updateAt"); // the text box asks for a repaint, ms after the press
        QTest::addColumn<QString>("missing"); // a frame file taken away
        // When the text box was painted, in ms after the press, "+" where that
        // was inside a stage: in its frame's repaint, or behind its report. First
        // for the text typed before the press, then for the focus the press gave it.
        QTest::addColumn<QString>("painted");
        const QString none;
        QTest::newRow("16 ms: with the next frame") << 16 << 49 << none << u"0 16+ 64+"_s;
        QTest::newRow("100 ms, the next frame far: at once") << 100 << 301 << none << u"0 0 301"_s;
        QTest::newRow("100 ms, 10 ms before a frame: with it") << 100 << 390 << none << u"0 0 400+"_s;
        QTest::newRow("100 ms, 17 ms before a frame, over a 60 Hz refresh: at once") << 100 << 383 << none << u"0 0 383"_s;
        QTest::newRow("after the closing frame: at once") << 1 << 40 << none << u"0 1+ 40"_s;
        // Inside the failed stage the clock reads its due time, 40 ms.
        QTest::newRow("the next frame missing: behind the report") << 10 << 35 << u"4.bmp"_s << u"0 10+ 40+"_s;
    }
    void repaintsNearAFrame()
    {
        QFETCH(int, interval);
        QFETCH(int, updateAt);
        QFETCH(QString, missing);
        QFETCH(QString, painted);
        QGuiApplication::styleHints()->setCursorFlashTime(0); // no blinking of its own
        const auto restore = qScopeGuard([] { QGuiApplication::styleHints()->setCursorFlashTime(1000); });
        QVERIFY(missing.isEmpty() || QFile::remove(missing));
        bool inStage = false;
        connect(&runtime().timers(), &TimerScheduler::aboutToTick, this, [&] { inStage = true; });
        connect(&form().stageChain(), &StageChain::stageFinished, this, [&] { inStage = false; });
        connect(&form().stageChain(), &StageChain::failed, this, [&] { inStage = false; });
        QStringList seen;
        OnEvent recorder(QEvent::Paint, [&] { seen << QString::number((runtime().timers().now() - m_pressedAt) / 1ms) + (inStage ? u"+"_s : QString()); });
        QCoreApplication::processEvents();
        form().text1().installEventFilter(&recorder);
        press(QString::number(interval));
        QCoreApplication::processEvents();
        for (int ms = 1; ms <= 33 * interval + 100; ++ms) {
            runtime().clock().advance(1ms);
            if (ms == updateAt)
                form().text1().update();
            QCoreApplication::processEvents();
        }
        QCOMPARE(seen.join(u' '), painted);
        QCOMPARE(m_shown.size(), missing.isEmpty() ? 33 : FrameNames.indexOf(missing));
    }
    void hundredRuns()
    {
        // Under LeakSanitizer (the asan build) a picture that is never released fails here.
        for (int run = 0; run < 100; ++run) {
            press(QString());
            play(40ms);
            QCOMPARE(m_shown.size(), 33);
        }
        QVERIFY(runtime().reports.isEmpty());
    }

};

QTEST_MAIN(tst_Runs)
#include "tst_runs.moc"
