#include "frame_display.h"
#include "test_support.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

// The built program in a real X server, used as a person would: typed into,
// clicked, and read back from its pixels. Runs under scripts/with-xvfb.
class tst_RealWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void playsFramesInOrder();
    void missingFrameIsReportedAndSurvived();
    void closingMidRunEndsTheProgram();

private:
    QStringList windows();   // ids of the visible windows titled «Тарвек»
    int frameOnScreen();     // 0 for the black start picture, -1 for anything else
    void click(int x, int y);
    // Waits until frame `until` is on screen; returns the frames seen on the way.
    QList<int> watchUntil(int until, int timeoutMs = 15000);

    QTemporaryDir m_dir;
    QProcess m_tarvek;
    QString m_window;
};

namespace {
QString xdotool(const QStringList &args)
{
    QProcess process;
    process.start(u"xdotool"_s, args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
} // namespace

void tst_RealWindow::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
    writeFrames(QDir(m_dir.path()));
    m_tarvek.setWorkingDirectory(m_dir.path());
    m_tarvek.start(QStringLiteral(TARVEK_EXECUTABLE), {});
    QVERIFY(m_tarvek.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, 10000);
    m_window = windows().first();
    QTRY_COMPARE(frameOnScreen(), 0);
}

void tst_RealWindow::cleanupTestCase()
{
    m_tarvek.kill();
    m_tarvek.waitForFinished();
}

QStringList tst_RealWindow::windows()
{
    return xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Тарвек$"_s}).split(u'\n', Qt::SkipEmptyParts);
}

int tst_RealWindow::frameOnScreen()
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(m_window.toULongLong()).toImage();
    if (shot.width() < 320)
        return -1;
    const QRgb pixel = shot.pixel(10, 10) & 0xffffff;
    if (pixel == 0)
        return 0;
    for (int stage = 1; stage <= StageCount; ++stage) {
        if ((frameColour(stage) & 0xffffff) == pixel)
            return stage;
    }
    return -1;
}

void tst_RealWindow::click(int x, int y)
{
    xdotool({u"mousemove"_s, u"--window"_s, m_window, QString::number(x), QString::number(y), u"click"_s, u"1"_s});
}

QList<int> tst_RealWindow::watchUntil(int until, int timeoutMs)
{
    QList<int> seen;
    QElapsedTimer watchdog;
    watchdog.start();
    while (watchdog.elapsed() < timeoutMs) {
        const int frame = frameOnScreen();
        if (frame > 0 && (seen.isEmpty() || seen.last() != frame))
            seen << frame;
        if (frame == until)
            break;
        QTest::qWait(2);
    }
    return seen;
}

void tst_RealWindow::playsFramesInOrder()
{
    click(150, 289); // into the text box
    xdotool({u"type"_s, u"--delay"_s, u"30"_s, u"80"_s});
    click(159, 228); // «Пуск»
    QElapsedTimer run;
    run.start();
    const QList<int> seen = watchUntil(StageCount);
    const qint64 elapsed = run.elapsed();
    QVERIFY2(!seen.isEmpty() && seen.last() == StageCount, "the closing frame never came");
    QVERIFY2(std::is_sorted(seen.begin(), seen.end()), "frames out of order");
    QVERIFY2(seen.size() >= 30, qPrintable(u"only %1 of 33 frames seen"_s.arg(seen.size())));
    // The typed 80 ms per frame was taken (the empty box plays in 33 ms).
    QVERIFY(elapsed >= 30 * 80);
    QTest::qWait(300);
    QCOMPARE(frameOnScreen(), StageCount); // the closing frame stays
}

void tst_RealWindow::missingFrameIsReportedAndSurvived()
{
    QDir dir(m_dir.path());
    QVERIFY(dir.rename(u"5.bmp"_s, u"parked"_s));
    click(159, 228); // Start is enabled again after the first run
    QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 2, 10000);
    QCOMPARE(frameOnScreen(), 4);
    QTest::qWait(500); // nothing plays behind the report
    QCOMPARE(frameOnScreen(), 4);

    QString report = windows().last() == m_window ? windows().first() : windows().last();
    xdotool({u"windowfocus"_s, u"--sync"_s, report});
    xdotool({u"key"_s, u"Return"_s});
    QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, 5000);
    QCOMPARE(m_tarvek.state(), QProcess::Running);
    QCOMPARE(frameOnScreen(), 4);

    QVERIFY(dir.rename(u"parked"_s, u"5.bmp"_s));
    click(159, 228);
    const QList<int> seen = watchUntil(StageCount);
    QVERIFY(!seen.isEmpty() && seen.first() <= 3 && seen.last() == StageCount);
}

void tst_RealWindow::closingMidRunEndsTheProgram()
{
    click(159, 228);
    QVERIFY(watchUntil(3).contains(3));
    // What a window manager's close button sends.
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    const auto atom = [x](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(m_window.toULong());
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
    xcb_flush(x);
    xcb_disconnect(x);

    QVERIFY(m_tarvek.waitForFinished(5000));
    QCOMPARE(m_tarvek.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_tarvek.exitCode(), 0);
}

QTEST_MAIN(tst_RealWindow)
#include "tst_realwindow.moc"
