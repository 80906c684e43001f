#include "desktop.h"
#include "frame_opens.h"
#include "test_support.h"

#include <QScopeGuard>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

// Tarvek opened from a file manager on X11 (tests/desktops/with-xvfb.sh --wm
// --bus), on a folder or a frame, through each entry it installs, started as
// the file manager that reads that entry starts it (tests/open_with.py), for
// every kind of name: Tarvek itself in exactly that folder, playing its frames,
// or the launcher's report, which a screen reader reads, and Tarvek never started.
class tst_OpenWith : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "no display: run under tests/desktops/with-xvfb.sh --wm --bus");
        writeFrames(QDir(m_dir.path()));
        m_screenReader = ScreenReader::announce(QStringLiteral(TARVEK_SCREEN_READER));
    }
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
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.windows(), 1, 10000);
        QCOMPARE(tool(u"xdotool"_s, {u"getwindowpid"_s, m_desktop.window()}).trimmed(), pid);
        const QByteArray proc = "/proc/" + pid;
        if (refused.isEmpty()) { // Tarvek itself, in exactly that folder
            QCOMPARE(linkTarget(proc + "/exe"), linkTarget(TARVEK_EXECUTABLE));
            QCOMPARE(linkTarget(proc + "/cwd"), linkTarget(opened.isEmpty() ? QByteArray(TARVEK_DEMO_DIR) : base + folder));
            if (plays) { // its frames and no others
                m_opens.clear();
                FrameOpens opens(QFile::decodeName(base + folder), FrameNames);
                m_desktop.start({}, [] {});
                QTRY_COMPARE_WITH_TIMEOUT(opens.opens().size(), FrameNames.size(), 10000);
                QStringList names;
                for (const auto &frame : opens.opens())
                    names << frame.first;
                QCOMPARE(names, FrameNames);
                QCOMPARE(m_opens.opens().size(), 0);
            }
            m_desktop.close();
        } else { // the launcher's report, and Tarvek never started
            QCOMPARE(linkTarget(proc + "/exe"), linkTarget(TARVEK_OPEN_EXECUTABLE));
            // The reason, and the name as it is, whatever it looks like (Nemo's
            // changes a line break's).
            const QByteArray heard = m_screenReader.missing.isEmpty() && m_screenReader.failed.isEmpty()
                ? tool(QStringLiteral(TARVEK_SCREEN_READER), {u"tree"_s, QString::fromLatin1(pid)}) : QByteArray();
            QVERIFY2(heard.isEmpty() || (heard.contains(refused.toUtf8()) && (opened.contains('\n') || heard.contains(base + opened))),
                     heard.constData());
            tool(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, m_desktop.window(), u"key"_s, u"Return"_s});
        }
        QVERIFY(open.waitForFinished(10000));
        QCOMPARE(open.readAllStandardOutput().trimmed(), refused.isEmpty() ? QByteArray("0") : QByteArray("1"));
        QVERIFY2(!QFile::exists(QFile::decodeName(base + "ran")) && !QFile::exists(QFile::decodeName(base + folder + "/ran")),
                 "a name was run as a command");
        QTRY_COMPARE(m_desktop.windows(), 0);
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

    X11Desktop m_desktop;
    ScreenReader m_screenReader;
    QTemporaryDir m_dir;
    FrameOpens m_opens{m_dir.path(), FrameNames}; // the test folder's frames, which no run opens
};

QTEST_MAIN(tst_OpenWith)
#include "tst_openwith.moc"
