#include "frame_opens.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

// The built program on a real display, used as a person would and read back
// from its pixels. Under tests/desktops/with-xvfb.sh (X11, a window manager running) it
// is typed into and clicked with xdotool; under tests/desktops/with-sway.sh (Wayland)
// driven by keys alone with wtype and seen through grim; under
// tests/desktops/with-mutter.sh (GNOME's compositor, headless) driven by keys alone and
// seen through mutter's remote desktop and screen cast (tests/desktops/mutter_desktop.py),
// and under tests/desktops/with-kwin.sh (KDE's) through KWin's fake input and screenshot
// interface (tests/desktops/kwin_desktop.py), with the windows each holds read from the
// requests it received. On X11 a screen
// reader's view is read too, over the session's accessibility bus. Given
// TARVEK_WINDOWS_EXECUTABLE, the Windows build's tarvek.exe is driven the same
// way on X11, under Wine. On every display the frame files' opens are watched
// with inotify, for the order and the pace at which the program reads them.

// The program writes nothing on its standard error but what Qt says there of
// the desktop under it, which no program can change: unstable's accessibility
// bus (at-spi2-core 2.62) asks Qt 6.11 for methods it does not have, Qt 6.11
// takes sway's order of keyboard events for a compositor's fault, and Qt 6.8
// notes that mutter 48 ends the text input of a window already closed.
static QByteArray withoutPlatformNotes(const QByteArray &said)
{
    static const QRegularExpression notes(uR"(^qt\.accessibility\.atspi: AtSpiAdaptor::\w+ does not implement "\w+" |)"
                                          uR"(^qt\.qpa\.wayland: Ignoring unexpected wl_keyboard\.leave event\. |)"
                                          uR"(^qt\.qpa\.wayland\.textinput: .* Got leave event for surface 0x0 )"_s);
    QByteArrayList kept;
    for (const QByteArray &line : said.split('\n'))
        if (!QString::fromUtf8(line).contains(notes))
            kept << line;
    return kept.join('\n');
}

class tst_RealWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_wayland || qEnvironmentVariableIsSet("DISPLAY"),
                 "no display: run under tests/desktops/with-xvfb.sh, tests/desktops/with-sway.sh, tests/desktops/with-mutter.sh or tests/desktops/with-kwin.sh");
        if (m_kwin && QStringLiteral(TARVEK_KWIN_FAKE_INPUT).isEmpty())
            QSKIP("kwin-fake-input is not built: plasma-wayland-protocols was not installed");
        if (m_kwin)
            m_desktop.start(QStringLiteral(TARVEK_KWIN_DESKTOP), {QStringLiteral(TARVEK_KWIN_FAKE_INPUT)});
        else if (m_driven)
            m_desktop.start(QStringLiteral(TARVEK_MUTTER_DESKTOP), {});
        if (m_driven) {
            QVERIFY2(m_desktop.waitForReadyRead(30000) && m_desktop.canReadLine(), m_desktop.readAllStandardError().constData());
            const QByteArray first = m_desktop.readLine().trimmed();
            if (first.startsWith("skip "))
                QSKIP(first.mid(5).constData());
            QVERIFY2(first.startsWith("ready "), m_desktop.readAllStandardError().constData());
        }
        writeFrames(QDir(m_dir.path()));
        m_tarvek.setWorkingDirectory(m_dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"QT_QPA_PLATFORM"_s); // the program picks its platform from the session, as for a user
        if (!m_wayland && !m_wine)
            announceScreenReader();
        m_tarvek.setProcessEnvironment(env);
        if (m_wine)
            m_tarvek.start(u"wine"_s, {qEnvironmentVariable("TARVEK_WINDOWS_EXECUTABLE")});
        else
            m_tarvek.start(QStringLiteral(TARVEK_EXECUTABLE), {});
        QVERIFY(m_tarvek.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, m_wine ? 30000 : 10000);
        m_window = windows().first();
        if (m_wayland) // the desktop entry of this name gives the window its icon
            QCOMPARE(m_window.section(u' ', -1), u"invalid.tarvek.tarvek"_s);
        if (m_driven) // found on the screen by its black start picture
            QTRY_VERIFY_WITH_TIMEOUT((m_window = desktop("window").trimmed()) != u"none"_s, 10000);
        const QStringList place = m_window.split(u' '); // Wayland: x, y, width, height[, id]
        m_origin = m_wayland ? QPoint(place[0].toInt(), place[1].toInt()) : QPoint();
        QCOMPARE(m_wayland ? QSize(place[2].toInt(), place[3].toInt()) : grab({0, 0, -1, -1}).size(), QSize(320, 309));
        QTRY_COMPARE(frameOnScreen(), 0);
    }
    void cleanupTestCase()
    {
        m_tarvek.kill(); // if it still runs
        m_tarvek.waitForFinished();
        m_desktop.kill();
        m_desktop.waitForFinished();
        QCOMPARE(withoutPlatformNotes(m_tarvek.readAllStandardError()), QByteArray());
    }
    void screenReaderHearsWindowAndFrames()
    {
        if (m_wayland || m_wine)
            QSKIP("the accessibility bus is read for the Linux build on X11");
        if (!m_noScreenReader.isEmpty())
            QSKIP(qPrintable(m_noScreenReader));
        QVERIFY2(m_announced.isEmpty(), qPrintable(m_announced));
        const QString pid = QString::number(m_tarvek.processId());
        // Roles by their numbers in AT-SPI's protocol (atspi-constants.h): 75
        // application, 23 frame, 27 image, 43 push button, 29 label, 61 text.
        QCOMPARE(QString::fromUtf8(tool(QStringLiteral(TARVEK_SCREEN_READER), {u"tree"_s, pid})).split(u'\n'), QStringList({
            u"role 75|tarvek|"_s,
            u"  role 23|Тарвек|"_s,
            u"    role 27|Нет кадра|"_s,
            u"    role 43|Пуск|controller for"_s,
            u"    role 29|Скорость прокрутки кадров:|label for"_s,
            u"    role 61|Скорость прокрутки кадров:|labelled by"_s, QString()}));
        QProcess follow; // the picture's name at each change, until the closing frame
        follow.start(QStringLiteral(TARVEK_SCREEN_READER), {u"follow"_s, pid, u"Последний кадр"_s});
        QVERIFY(follow.waitForReadyRead(10000)); // it has found the picture
        start(u"50"_s);
        QVERIFY(follow.waitForFinished(20000));
        QStringList heard = QString::fromUtf8(follow.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(heard.size() >= 30 && heard.takeFirst() == u"Нет кадра"_s && heard.takeLast() == u"Последний кадр"_s,
                 qPrintable(heard.join(u", "_s)));
        for (qsizetype i = 1; i < heard.size(); ++i) // «Кадр N», N rising
            QVERIFY2(heard[i - 1].mid(5).toInt() < heard[i].mid(5).toInt(), qPrintable(heard.join(u", "_s)));
        QCOMPARE(frameOnScreen(), 33); // and the picture says what the screen shows
    }
    void labelDrawnWhole()
    {
        // The label's text in the controls' font: dark pixels inside its box, and a
        // clear margin on the right, where a text too wide for the box would be cut.
        const QImage label = grab({83, 256, 153, 17});
        int lastInk = -1;
        for (int x = 0; x < label.width(); ++x)
            for (int y = 0; y < label.height(); ++y)
                if (qGray(label.pixel(x, y)) < 100)
                    lastInk = x;
        QVERIFY2(lastInk > 100, "no text in the label");
        QVERIFY2(lastInk < label.width() - 4, qPrintable(u"text reaches column %1 of 153"_s.arg(lastInk)));
    }
    void playsFramesInOrderAndAgain()
    {
        // grim reads the screen in about 20 ms: the frames stay longer on Wayland.
        const int interval = m_wayland ? 80 : 50;
        for (const QString &typed : {QString::number(interval), QString()}) { // the second run: Start is enabled again
            m_opens.clear();
            start(typed);
            QElapsedTimer run;
            run.start();
            QList<qint64> gaps;
            const QList<int> seen = watchUntil(33, &gaps);
            const qint64 elapsed = run.elapsed();
            QVERIFY2(!seen.isEmpty() && seen.last() == 33, "the closing frame never came");
            QVERIFY2(std::is_sorted(seen.begin(), seen.end()), "frames out of order");
            // A frame stays a whole interval, so looks at the screen half an
            // interval apart see nearly every one; what the screen's own path
            // drops now and then (a screen cast's frame, a late composite) is
            // three at most. Not counted: frames missed by looks further apart,
            // on a busy machine, and frames the player itself held for less than
            // half an interval (by when the next file was opened), as it does
            // when it catches up with its times after the machine held it back.
            const QList<std::pair<QString, qint64>> opens = m_opens.opens();
            const auto heldMs = [&](int frame) { // -1 where the opens do not tell
                return frame < opens.size() ? (opens[frame].second - opens[frame - 1].second) / 1'000'000 : -1;
            };
            QStringList missed;
            qsizetype missedFrames = 0;
            for (qsizetype i = 1; i < seen.size(); ++i) {
                if (seen[i] - seen[i - 1] <= 1 || gaps[i] > (seen[i] - seen[i - 1] - 1) * interval / 2)
                    continue;
                for (int frame = seen[i - 1] + 1; frame < seen[i]; ++frame) {
                    const qint64 held = heldMs(frame);
                    if (held >= 0 && held < interval / 2)
                        continue;
                    ++missedFrames;
                    missed << u"%1 (held %2 ms, looks %3 ms apart)"_s.arg(frame).arg(held).arg(gaps[i]);
                }
            }
            QVERIFY2(missedFrames <= 3, qPrintable(u"frames never seen: "_s + missed.join(u", "_s)));
            QVERIFY(elapsed >= 30 * interval); // the typed time was taken (an empty box plays in 33 ms)
            QTest::qWait(300);
            QCOMPARE(frameOnScreen(), 33); // the closing frame stays
            // Each file opened once, in order, and never before its turn: frame n
            // no sooner than n times the typed time after the click was sent.
            QStringList names;
            for (const auto &open : opens)
                names << open.first;
            QCOMPARE(names, FrameNames);
            for (qsizetype n = 1; n <= opens.size(); ++n)
                QVERIFY2(opens[n - 1].second - m_clickedAt >= n * interval * 1'000'000LL,
                         qPrintable(u"%1 opened %2 ms after the click"_s.arg(names[n - 1])
                                        .arg(double(opens[n - 1].second - m_clickedAt) / 1e6)));
        }
    }
    // While a run plays, the focus is in the text box and its cursor blinks on
    // screen: frames carry the window's other repaints near their due times,
    // but never swallow them.
    void cursorBlinksWhilePlaying()
    {
        // In headless sway the window's cursor does not blink in grim's shots,
        // playing or not, whatever the program's repaints.
        if (m_sway)
            QSKIP("the cursor's blinking is checked on X11 and under mutter and KWin");
        start(u"150"_s); // 33 x 150 ms: about 5 s
        QTest::qWait(200);
        QList<QImage> shots; // the text box's inside, 8 times over 1 s: the cursor on and off
        for (int i = 0; i < 8; ++i) {
            shots << grab({93, 282, 125, 15});
            QTest::qWait(140);
        }
        const int frame = frameOnScreen();
        QVERIFY2(frame >= 1 && frame < 33, "the shots were not taken while it played");
        QVERIFY(std::any_of(shots.begin(), shots.end(), [&](const QImage &shot) { return shot != shots.first(); }));
        QTRY_COMPARE_WITH_TIMEOUT(frameOnScreen(), 33, 10000);
    }
    void missingFrameIsReportedAndSurvived()
    {
        if (m_sway)
            QSKIP("the report is checked on X11 and under mutter and KWin");
        QDir dir(m_dir.path());
        QVERIFY(dir.rename(u"5.bmp"_s, u"parked"_s));
        start({});
        QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 2, 10000);
        QCOMPARE(frameOnScreen(), 4);
        if (m_driven) { // the report has the focus, once the compositor has given it the keyboard
            QTRY_COMPARE_WITH_TIMEOUT(desktop("toplevels").trimmed().split(' ').value(2), "2"_ba, 5000);
            desktop("keys Return");
        } else
            tool(u"xdotool"_s, {u"key"_s, u"Return"_s});
        QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, 5000);
        QCOMPARE(m_tarvek.state(), QProcess::Running);
        QCOMPARE(frameOnScreen(), 4);
        QVERIFY(dir.rename(u"parked"_s, u"5.bmp"_s));
        start({}); // the next press plays from the first frame
        const QList<int> seen = watchUntil(33);
        QVERIFY(!seen.isEmpty() && seen.first() <= 3 && seen.last() == 33);
    }
    void closingMidRunEndsTheProgram()
    {
        if (m_sway)
            QSKIP("closed through the window manager on X11 and under mutter and KWin");
        start({});
        QVERIFY(watchUntil(3).contains(3));
        if (m_driven) // GNOME's and KDE's key for closing a window
            desktop("keys alt+F4");
        else
            tool(u"wmctrl"_s, {u"-i"_s, u"-c"_s, m_window}); // as the window's close button does
        QVERIFY2(m_tarvek.waitForFinished(5000), m_driven ? qPrintable(desktop("closes").trimmed() + " close requests sent by the compositor") : "");
        QCOMPARE(m_tarvek.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_tarvek.exitCode(), 0);
    }
    // Once the program above has ended: Tarvek opened from a file manager, on a
    // folder or a frame, through each entry it installs, started as the file
    // manager that reads that entry starts it, for every kind of name.
    void openWith_data()
    {
        QTest::addColumn<QString>("way"); // tests/open_with.py's
        QTest::addColumn<QString>("entry"); // under the entries' share/ folder
        QTest::addColumn<QByteArray>("folder"); // made in the test's folder
        QTest::addColumn<QByteArray>("opened"); // relative to the test's folder
        QTest::addColumn<QString>("refused"); // the reason the report gives; empty: Tarvek starts in the folder
        const QByteArray frames = "Мультик"; // with the test's frames, played
        const int room = 4000 - int(QFile::encodeName(m_dir.path()).size()) - 1;
        QByteArray deep; // a path of 4000 characters in all, 199 to a name
        while (deep.size() + 200 < room)
            deep += QByteArray(199, 'a') + '/';
        deep += QByteArray(room - deep.size(), 'b');
        const std::pair<const char *, QByteArray> names[] = {
            {"spaces", "two  spaces "}, {"quotes", "it's \"quoted\""}, {"command", "$(touch ran)"},
            {"backticks", "`touch ran`"}, {"a Qt option", "-platform"}, {"an option", "--help"},
            {"newline", "two\nlines"}, {"not UTF-8", "frames \xff\xfe"}, {"percent, ampersand, caret", "50% & ^x"},
            {"markup", "<b>bold<br>"}, {"field codes", "%f %U %%"}, {"backslash, hash, tab", "a\\b #c\td"}};
        const std::tuple<const char *, const char *, const char *> ways[] = {
            {"menu entry, «Открыть с помощью»", "gio", "applications/invalid.tarvek.tarvek.desktop"},
            {"Thunar's Send To", "gio", "Thunar/sendto/invalid.tarvek.tarvek-open.desktop"},
            {"Dolphin's service menu", "kio", "kio/servicemenus/invalid.tarvek.tarvek-open.desktop"},
            {"Nemo's action", "nemo", "nemo/actions/invalid.tarvek.tarvek-open.nemo_action"},
            {"PCManFM's, PCManFM-Qt's and Caja's action", "fma", "file-manager/actions/invalid.tarvek.tarvek-open.desktop"}};
        const QString gone = u"Такой папки или файла нет."_s;
        for (const auto &[wayRow, way, entry] : ways) {
            const auto row = [&](const char *what) -> QTestData & {
                return QTest::addRow("%s: %s", wayRow, what) << QString::fromLatin1(way) << QString::fromLatin1(entry);
            };
            row("folder") << frames << frames << QString();
            row("frame in it") << frames << frames + "/7.bmp" << QString();
            for (const auto &[name, folder] : names) // Nemo 5.6 passes a line break on with a stray byte after it
                row(name) << folder << folder << (folder.contains('\n') && qstrcmp(way, "nemo") == 0 ? gone : QString());
            row("4000 characters") << deep << deep << QString();
            row("gone") << QByteArray() << QByteArray("gone") << gone;
            row("through a file") << frames << frames + "/7.bmp/more" << u"Это не папка."_s;
            row("not readable") << QByteArray("closed") << QByteArray("closed") << u"Нет доступа."_s;
            row("gone, named like a command") << QByteArray() << QByteArray("$(touch ran)x") << gone;
        }
        // From the menu, with nothing opened: the demo's folder.
        QTest::newRow("menu entry, started from the menu") << u"gio"_s << u"applications/invalid.tarvek.tarvek.desktop"_s
                                                           << QByteArray() << QByteArray() << QString();
    }
    void openWith()
    {
        QFETCH(QString, way);
        QFETCH(QString, entry);
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, opened);
        QFETCH(QString, refused);
        if (m_wayland || m_wine)
            QSKIP("opened through the file managers' entries on X11");
        const QByteArray base = QFile::encodeName(m_dir.path()) + '/';
        for (qsizetype at = 0; at < folder.size();) { // byte for byte, whatever the name
            at = folder.indexOf('/', at + 1);
            at = at < 0 ? folder.size() : at;
            QVERIFY(::mkdir((base + folder.left(at)).constData(), 0755) == 0 || errno == EEXIST);
        }
        const auto tidy = qScopeGuard([&] { // what the test folder's own removal cannot take
            if (folder.isEmpty())
                return;
            ::chmod((base + folder).constData(), 0755);
            if (QFile::encodeName(QFile::decodeName(folder)) != folder)
                ::rmdir((base + folder).constData());
        });
        const bool plays = folder.startsWith("Мультик") && refused.isEmpty();
        if (plays)
            writeFrames(QDir(QFile::decodeName(base + folder)));
        if (refused == u"Нет доступа."_s) {
            if (::geteuid() == 0)
                QSKIP("every folder can be entered as root");
            QVERIFY(::chmod((base + folder).constData(), 0) == 0);
        }
        QProcess open; // as a file manager does it: prints the pid, then its exit status
        open.setWorkingDirectory(m_dir.path()); // where a name run as a command would leave its mark
        open.start(QStringLiteral(TARVEK_OPEN_WITH), {way, QStringLiteral(TARVEK_OPEN_WITH_ROOT "/") + entry,
                                                       QString::fromLatin1(opened.isEmpty() ? QByteArray() : (base + opened).toHex())});
        QVERIFY2(open.waitForReadyRead(10000), open.readAllStandardError().constData());
        const QByteArray pid = open.readLine().trimmed();
        QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, 10000);
        m_window = windows().first();
        QCOMPARE(tool(u"xdotool"_s, {u"getwindowpid"_s, m_window}).trimmed(), pid);
        const QByteArray proc = "/proc/" + pid;
        if (refused.isEmpty()) { // Tarvek itself, in exactly that folder
            QCOMPARE(linkTarget(proc + "/exe"), linkTarget(TARVEK_EXECUTABLE));
            QCOMPARE(linkTarget(proc + "/cwd"), linkTarget(opened.isEmpty() ? QByteArray(TARVEK_DEMO_DIR) : base + folder));
            if (plays) { // its frames and no others
                m_opens.clear();
                FrameOpens opens(QFile::decodeName(base + folder), FrameNames);
                start({});
                QTRY_COMPARE_WITH_TIMEOUT(opens.opens().size(), FrameNames.size(), 10000);
                QStringList names;
                for (const auto &frame : opens.opens())
                    names << frame.first;
                QCOMPARE(names, FrameNames);
                QCOMPARE(m_opens.opens().size(), 0);
            }
            tool(u"wmctrl"_s, {u"-i"_s, u"-c"_s, m_window});
        } else { // the launcher's report, and Tarvek never started
            QCOMPARE(linkTarget(proc + "/exe"), linkTarget(TARVEK_OPEN_EXECUTABLE));
            if (m_noScreenReader.isEmpty() && m_announced.isEmpty())
                QVERIFY2(tool(QStringLiteral(TARVEK_SCREEN_READER), {u"tree"_s, QString::fromLatin1(pid)}).contains(refused.toUtf8()),
                         "the report does not give the reason");
            tool(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, m_window, u"key"_s, u"Return"_s});
        }
        QVERIFY(open.waitForFinished(10000));
        QCOMPARE(open.readAllStandardOutput().trimmed(), refused.isEmpty() ? QByteArray("0") : QByteArray("1"));
        QVERIFY2(!QFile::exists(QFile::decodeName(base + "ran")) && !QFile::exists(QFile::decodeName(base + folder + "/ran")),
                 "a name was run as a command");
        QTRY_COMPARE(windows().size(), 0);
    }

private:
    static QByteArray linkTarget(const QByteArray &path) // resolved, as the kernel sees it
    {
        char resolved[8192];
        const ssize_t size = ::readlink(path.constData(), resolved, sizeof resolved);
        if (size >= 0)
            return QByteArray(resolved, size);
        return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray("(none)");
    }
    // A screen reader announces itself on the accessibility bus before the
    // program starts, and the bus has confirmed it, or m_announced says why not.
    void announceScreenReader()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            m_noScreenReader = u"no session bus: run under tests/desktops/with-xvfb.sh --bus"_s;
        else if (!QFile::exists(u"/usr/share/dbus-1/services/org.a11y.Bus.service"_s)
                 || QProcess::execute(u"/usr/bin/python3"_s, {u"-c"_s, u"import pyatspi"_s}) != 0)
            m_noScreenReader = u"no accessibility bus (at-spi2-core) or no python3-pyatspi"_s;
        if (!m_noScreenReader.isEmpty())
            return;
        QProcess announce;
        announce.start(QStringLiteral(TARVEK_SCREEN_READER), {u"announce"_s});
        announce.waitForFinished(20000);
        const QByteArray said = announce.readAllStandardOutput() + announce.readAllStandardError();
        if (said.trimmed() != "announced")
            m_announced = QString::fromUtf8(said.isEmpty() ? "the screen reader's announcement never ended" : said.trimmed());
    }
    QByteArray tool(const QString &program, const QStringList &args) // its output
    {
        QProcess process;
        process.start(program, args);
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    }
    // tests/desktops/mutter_desktop.py's or tests/desktops/kwin_desktop.py's answer to a request: its
    // line, or for a grab the picture
    QByteArray desktop(const QByteArray &request)
    {
        m_desktop.write(request + '\n');
        const auto await = [this](auto ready) {
            QElapsedTimer waited;
            waited.start();
            while (!ready() && waited.elapsed() < 10000)
                m_desktop.waitForReadyRead(100);
        };
        await([this] { return m_desktop.canReadLine(); });
        const QByteArray line = m_desktop.readLine();
        if (!request.startsWith("grab "))
            return line;
        const qint64 size = line.trimmed().toLongLong();
        await([&] { return m_desktop.bytesAvailable() >= size; });
        return m_desktop.read(size);
    }
    // The visible windows titled «Тарвек»: their ids on X11; under sway their
    // places on the screen and the application's id; under mutter and KWin the
    // application's id alone.
    QStringList windows()
    {
        if (m_driven) {
            const QList<QByteArray> held = desktop("toplevels").trimmed().split(' '); // count, id, focused
            return QStringList(held[0].toInt(), QString::fromUtf8(held.value(1)));
        }
        if (!m_wayland) {
            const QByteArray ids = tool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Тарвек$"_s});
            return QString::fromUtf8(ids).split(u'\n', Qt::SkipEmptyParts);
        }
        QStringList found;
        QList<QJsonObject> nodes = {QJsonDocument::fromJson(tool(u"swaymsg"_s, {u"-t"_s, u"get_tree"_s})).object()};
        while (!nodes.isEmpty()) {
            const QJsonObject node = nodes.takeFirst(), r = node[u"rect"_s].toObject();
            if (node[u"name"_s] == u"Тарвек"_s && node[u"visible"_s].toBool())
                found << u"%1 %2 %3 %4 %5"_s.arg(r[u"x"_s].toInt()).arg(r[u"y"_s].toInt()).arg(r[u"width"_s].toInt())
                             .arg(r[u"height"_s].toInt()).arg(node[u"app_id"_s].toString());
            for (const char *key : {"nodes", "floating_nodes"})
                for (const QJsonValue child : node[QLatin1String(key)].toArray())
                    nodes << child.toObject();
        }
        return found;
    }
    // in window coordinates
    QImage grab(const QRect &area)
    {
        if (!m_wayland) // the whole window for a size of -1 x -1
            return QGuiApplication::primaryScreen()->grabWindow(m_window.toULongLong(), area.x(), area.y(), area.width(), area.height()).toImage();
        const QRect r = area.translated(m_origin);
        if (m_driven)
            return QImage::fromData(desktop(u"grab %1 %2 %3 %4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toLatin1()), "PPM");
        const QString geometry = u"%1,%2 %3x%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        return QImage::fromData(tool(u"grim"_s, {u"-g"_s, geometry, u"-"_s}), "PNG");
    }
    // 0 for the black start picture, -1 for anything else
    int frameOnScreen()
    {
        const QImage shot = grab({10, 10, 1, 1});
        const QRgb pixel = shot.isNull() ? 0 : shot.pixel(0, 0) | 0xff000000; // 0 matches nothing
        const qsizetype stage = FrameColours.indexOf(pixel);
        return stage >= 0 ? int(stage) + 1 : pixel == qRgb(0, 0, 0) ? 0 : -1;
    }
    // «Пуск», with the text typed first if any
    void start(const QString &typed)
    {
        if (m_driven) { // the focus is on «Пуск» at start-up and on the text box after a run
            // What the box holds is erased, not selected: a selection would go to
            // the desktop's primary selection, which Qt 6.4 keeps past the end.
            if (!typed.isEmpty()) // a key a digit
                desktop((m_ranOnce ? "keys End" : "keys Tab End") + QByteArray(" BackSpace").repeated(8) + ' '
                        + typed.split(QString(), Qt::SkipEmptyParts).join(u' ').toLatin1());
            desktop("keys shift+Tab");
            m_clickedAt = m_opens.now();
            desktop("keys space");
            m_ranOnce = true;
            return;
        }
        if (m_wayland) { // the focus is on «Пуск» at start-up and on the text box after a run
            // Each wtype is a new keyboard; its first key waits until the window has taken it up.
            const auto keys = [this](const QStringList &args) { tool(u"wtype"_s, QStringList{u"-s"_s, u"300"_s} + args); };
            if (!typed.isEmpty()) {
                keys({u"-k"_s, u"Tab"_s});
                keys({typed});
            }
            keys({u"-M"_s, u"shift"_s, u"-k"_s, u"Tab"_s, u"-m"_s, u"shift"_s});
            m_clickedAt = m_opens.now();
            keys({u"-k"_s, u"space"_s});
            return;
        }
        const auto click = [this](int x, int y) {
            tool(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, m_window, QString::number(x), QString::number(y), u"click"_s, u"1"_s});
        };
        if (!typed.isEmpty()) {
            click(150, 289); // into the text box, replacing what it holds
            tool(u"xdotool"_s, {u"key"_s, u"ctrl+a"_s, u"type"_s, u"--delay"_s, u"30"_s, typed});
        }
        m_clickedAt = m_opens.now();
        click(159, 228);
    }
    // Waits until the run's frames reach frame `until`; returns those seen on
    // the way and, in gaps, for each, the ms since the screen was read before
    // it was seen.
    QList<int> watchUntil(int until, QList<qint64> *gaps = nullptr)
    {
        const int before = frameOnScreen(); // still there until the run's first frame
        QList<int> seen;
        QElapsedTimer watchdog;
        watchdog.start();
        qint64 lastLook = 0;
        while (watchdog.elapsed() < testTime(15000)) {
            const int frame = frameOnScreen();
            const qint64 now = watchdog.elapsed();
            if (frame > 0 && (seen.isEmpty() ? frame != before : seen.last() != frame)) {
                seen << frame;
                if (gaps)
                    *gaps << now - lastLook;
            }
            lastLook = now;
            if (!seen.isEmpty() && frame == until)
                break;
            QTest::qWait(2);
        }
        return seen;
    }

    const bool m_wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool m_wine = !qEnvironmentVariableIsEmpty("TARVEK_WINDOWS_EXECUTABLE");
    // tests/desktops/with-mutter.sh's or tests/desktops/with-kwin.sh's session, which names the log of
    // the compositor's requests: a desktop driven through its own interfaces
    const bool m_driven = m_wayland && !qEnvironmentVariableIsEmpty("TARVEK_COMPOSITOR_LOG");
    const bool m_kwin = m_driven && qgetenv("XDG_CURRENT_DESKTOP") == "KDE";
    const bool m_sway = m_wayland && !m_driven;
    QProcess m_desktop; // tests/desktops/mutter_desktop.py or tests/desktops/kwin_desktop.py
    bool m_ranOnce = false; // under mutter and KWin: «Пуск» has been pressed, and the focus left it
    QString m_noScreenReader; // why the accessibility bus cannot be read here, if it cannot
    QString m_announced; // why the screen reader's announcement failed, if it did
    QTemporaryDir m_dir;
    FrameOpens m_opens{m_dir.path(), FrameNames};
    qint64 m_clickedAt = 0; // when «Пуск» was last pressed, on m_opens' clock, in ns
    QProcess m_tarvek;
    QString m_window; // as windows() gives it
    QPoint m_origin; // of the window's client area on the screen, for grim
};

QTEST_MAIN(tst_RealWindow)
#include "tst_realwindow.moc"
