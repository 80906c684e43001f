#include "test_support.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStyleHints>
#include <QWindow>
#include <qtestspontaneevent.h>

#include <algorithm>

class tst_Closing : public FormFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setStyle(u"Fusion"_s); }
    void init() { show(); }
    void cleanup() { close(); }
    // Closing the window while it plays: from the desktop inside a paint of
    // the window, as Qt's Wayland plug-in closes it (QWindow::close()) when it
    // reads the compositor's events while the paint waits for a free buffer;
    // from the desktop while a failed frame's report is on screen, or just
    // before that frame, when the close is taken up from the event loop that
    // the report runs (the close waits for the report's answer); from the desktop between two
    // frames, as the window system sends a close (a spontaneous event); or by
    // the program. The window is never taken away under a paint, it closes,
    // and no frame is read or shown after that.
    void closingMidRun_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("painted"); // the control inside whose paint the desktop closes
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("updateAt"); // the text box asks for a repaint, ms after the press
        QTest::addColumn<int>("shown"); // frames shown when it closes
        QTest::newRow("desktop, inside frame 5's paint") << u"paint"_s << u"Image1"_s << 10 << -1 << 5;
        QTest::newRow("desktop, inside «Пуск»'s repaint after the closing frame") << u"paint"_s << u"Command1"_s << 1 << -1 << 33;
        QTest::newRow("desktop, inside the text box's repaint between frames") << u"paint"_s << u"Text1"_s << 100 << 250 << 2;
        QTest::newRow("desktop, inside a repaint held for frame 4") << u"paint"_s << u"Text1"_s << 100 << 390 << 4;
        QTest::newRow("desktop, between frames 5 and 6") << u"between"_s << QString() << 10 << -1 << 5;
        QTest::newRow("the program, between frames 5 and 6") << u"program"_s << QString() << 10 << -1 << 5;
        QTest::newRow("desktop, while frame 6's report is on screen") << u"report"_s << QString() << 10 << -1 << 5;
        QTest::newRow("desktop, as frame 6 is due to fail: still queued under its report") << u"queued"_s << QString() << 10 << -1 << 5;
    }
    void closingMidRun()
    {
        QFETCH(QString, way);
        QFETCH(QString, painted);
        QFETCH(int, interval);
        QFETCH(int, updateAt);
        QFETCH(int, shown);
        QGuiApplication::setQuitOnLastWindowClosed(false); // the test's own event loop goes on
        const auto restore = qScopeGuard([] { QGuiApplication::setQuitOnLastWindowClosed(true); });
        QGuiApplication::styleHints()->setCursorFlashTime(0); // no blinking of its own
        const auto restoreFlash = qScopeGuard([] { QGuiApplication::styleHints()->setCursorFlashTime(1000); });
        const auto desktopClose = [this] {
            QCloseEvent close;
            QSpontaneKeyEvent::setSpontaneous(&close);
            QCoreApplication::sendEvent(form().windowHandle(), &close);
        };
        int ms = 0;
        bool intact = true, closedInPaint = false;
        OnEvent onPaint(QEvent::Paint, [&] {
            const bool due = painted == u"Image1"_s ? form().image1().picture().pixel(0, 0) == FrameColours[shown - 1]
                : painted == u"Command1"_s ? m_shown.size() == 33 : ms >= updateAt;
            if (!closedInPaint && due) {
                closedInPaint = true;
                form().windowHandle()->close();
                intact = form().isVisible() && form().windowHandle()->handle();
            }
        });
        if (!painted.isEmpty())
            form().findChild<QWidget *>(painted)->installEventFilter(&onPaint);
        // Under the report the close waits, once, for the report to be answered.
        int closes = 0, closesUnderReport = -1;
        OnEvent countCloses(QEvent::Close, [&] { ++closes; });
        form().installEventFilter(&countCloses);
        const bool reported = way == u"report"_s || way == u"queued"_s;
        if (reported) {
            QVERIFY(QFile::remove(u"6.bmp"_s));
            runtime().whileShown = [&] {
                if (way == u"report"_s)
                    form().windowHandle()->close();
                for (int turn = 0; turn < 20; ++turn)
                    QCoreApplication::processEvents();
                closesUnderReport = closes;
                intact = form().isVisible();
            };
        }
        press(QString::number(interval));
        QCoreApplication::processEvents();
        for (ms = 1; ms <= 34 * interval && !(way == u"paint"_s ? closedInPaint : reported ? closesUnderReport >= 0 : m_shown.size() == shown); ++ms) {
            if (way == u"queued"_s && ms == (shown + 1) * interval)
                desktopClose(); // taken up from the event loop, which the report runs
            runtime().clock().advance(1ms);
            if (ms == updateAt)
                form().text1().update();
            QCoreApplication::processEvents();
        }
        QVERIFY(way != u"paint"_s || closedInPaint);
        if (reported) // each close seen under the report, once
            QCOMPARE(closesUnderReport, 1 + (way == u"queued"_s));
        if (way == u"between"_s)
            desktopClose();
        else if (way == u"program"_s)
            form().close();
        QVERIFY(intact);
        QCoreApplication::processEvents(); // the close taken up from the event loop
        QVERIFY(!form().isVisible());
        play(4s);
        QCoreApplication::processEvents();
        QCOMPARE(m_shown.size(), shown);
        QVERIFY(std::ranges::none_of(form().findChildren<RuntimeTimer *>(), &RuntimeTimer::isEnabled));
    }
};

QTEST_MAIN(tst_Closing)
#include "tst_closing.moc"
