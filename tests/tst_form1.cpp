#include "test_support.h"

#include "controls_font.h"

#include <QApplication>
#include <QFontInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRawFont>
#include <QTimer>
#include <QTranslator>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

namespace {
#ifdef TARVEK_TEST_LIBERATION_SANS_2
// Sets the revision a TrueType font's head table states, as its release.
bool setFontRevision(QByteArray &font, quint32 revision)
{
    const int tables = font.size() >= 12 ? qFromBigEndian<quint16>(font.constData() + 4) : 0;
    for (int i = 0; i < tables && 12 + 16 * (i + 1) <= font.size(); ++i) {
        const char *entry = font.constData() + 12 + 16 * i;
        const quint32 at = qFromBigEndian<quint32>(entry + 8);
        if (QByteArrayView(entry, 4) == "head" && at + 8 <= quint32(font.size())) {
            qToBigEndian(revision, font.data() + at + 4);
            return true;
        }
    }
    return false;
}
#endif
} // namespace

// The window as the user first meets it: its controls, its font and Qt's
// texts, frames of other sizes, a scaled screen, the error report.
class tst_Form1 : public FormFixture
{
    Q_OBJECT
public:
    static void initMain()
    {
        // Wine hands a Windows program none of the QT_ variables: the scaled run
        // names its factor in a variable of its own.
        if (qEnvironmentVariableIsSet("TARVEK_TEST_SCALE_FACTOR"))
            qputenv("QT_SCALE_FACTOR", qgetenv("TARVEK_TEST_SCALE_FACTOR"));
    }

private slots:
    void initTestCase() { QApplication::setStyle(u"Fusion"_s); }
    void init() { show(); }
    void cleanup() { close(); }
    void controlTable_data()
    {
        QTest::addColumn<QRect>("geometry"); // of the control the row is named after
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("accessibleName");
        QTest::newRow("Image1") << QRect(0, 0, 320, 200) << QString() << u"Нет кадра"_s;
        QTest::newRow("Command1") << QRect(123, 216, 73, 25) << u"Пуск"_s << u"Пуск"_s;
        QTest::newRow("Label1") << QRect(83, 256, 153, 17) << u"Скорость прокрутки кадров:"_s << QString();
        QTest::newRow("Text1") << QRect(91, 280, 129, 19) << QString() << u"Скорость прокрутки кадров:"_s;
    }
    void controlTable()
    {
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, accessibleName);
        auto *control = form().findChild<QWidget *>(QLatin1String(QTest::currentDataTag()));
        QVERIFY(control && control->isVisible());
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->property("text").toString(), text);
        if (!accessibleName.isEmpty())
            QCOMPARE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name), accessibleName);
        // Every text fits its box in Liberation Sans, whatever other fonts the machine has.
        QCOMPARE(QFontInfo(control->font()).family(), u"Liberation Sans"_s);
        QVERIFY2(control->fontMetrics().horizontalAdvance(text) + 2 <= geometry.width(), "text cut off");
        QVERIFY(control->fontMetrics().height() + 2 <= geometry.height());
    }
    void uiFontRelease()
    {
        // The layout is made for Liberation Sans 2; release 1.07 has other metrics.
        const QRawFont font(uiFontFile(), 11);
        QVERIFY2(font.isValid(), qPrintable(uiFontFile()));
        QCOMPARE(font.familyName(), u"Liberation Sans"_s);
        const QByteArray head = font.fontTable("head"); // its revision: 16.16 fixed point, at byte 4
        QVERIFY(head.size() >= 8);
        QVERIFY2(qFromBigEndian<quint32>(head.constData() + 4) >= 0x20000u, "a Liberation Sans older than 2.0");
    }
#ifdef TARVEK_TEST_LIBERATION_SANS_2
    // The system's Liberation Sans, in a program of its own that fontconfig is
    // shown one folder of fonts: the newest copy of release 2.0 or later that
    // loads, 1.07 never, a copy damaged after fontconfig listed it skipped;
    // none, and the window opens all the same, in the system's font, saying
    // once which files it tried.
    void systemFont_data()
    {
        QTest::addColumn<QStringList>("copies"); // name=release, "cut" for one cut short once listed
        QTest::addColumn<QString>("taken"); // the copy the program takes; empty: none
        QTest::newRow("none") << QStringList{} << QString();
        QTest::newRow("1.07 alone") << QStringList{u"a=1.07"_s} << QString();
        QTest::newRow("2.0 itself") << QStringList{u"a=2.0"_s} << u"a"_s;
        QTest::newRow("1.07 beside 2.0") << QStringList{u"a=1.07"_s, u"b=2.0"_s} << u"b"_s;
        QTest::newRow("2.1 beside 2.0") << QStringList{u"a=2.1"_s, u"b=2.0"_s} << u"a"_s;
        QTest::newRow("2.0 beside 2.1") << QStringList{u"a=2.0"_s, u"b=2.1"_s} << u"b"_s;
        QTest::newRow("2.1 damaged beside 2.0") << QStringList{u"a=2.0"_s, u"b=2.1 cut"_s} << u"a"_s;
        QTest::newRow("2.1 damaged alone") << QStringList{u"a=2.1 cut"_s} << QString();
    }
    void systemFont()
    {
        if (uiFontFiles().value(0).startsWith(u':'))
            QSKIP("this build embeds the font");
        QFETCH(QStringList, copies);
        QFETCH(QString, taken);
        QFile original(QStringLiteral(TARVEK_TEST_LIBERATION_SANS_2));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray liberation2 = original.readAll();
        const QDir folder(m_dir->path());
        QVERIFY(folder.mkdir(u"fonts"_s));
        const QHash<QString, quint32> revisions{{u"1.07"_s, 0x000111ec}, {u"2.0"_s, 0x00020000}, {u"2.1"_s, 0x0002199a}};
        QStringList cut;
        for (const QString &copy : copies) {
            QByteArray font = liberation2;
            QFile file(folder.filePath(u"fonts/%1.ttf"_s.arg(copy.section(u'=', 0, 0))));
            QVERIFY(setFontRevision(font, revisions.value(copy.section(u'=', 1).section(u' ', 0, 0)))
                    && file.open(QIODevice::WriteOnly) && file.write(font) == font.size());
            if (copy.endsWith(u" cut"_s))
                cut << file.fileName();
        }
        QFile config(folder.filePath(u"fonts.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly)
                && config.write(u"<fontconfig><dir>%1</dir><cachedir>%2</cachedir></fontconfig>\n"_s
                                    .arg(folder.filePath(u"fonts"_s).toHtmlEscaped(), folder.filePath(u"cache"_s).toHtmlEscaped())
                                    .toUtf8()) > 0);
        config.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"FONTCONFIG_FILE"_s, config.fileName());
        // As a desktop runs the program: with it, as in a package build,
        // fontconfig dates its cache by that time and scans the folder anew.
        environment.remove(u"SOURCE_DATE_EPOCH"_s);
        // Listed whole, then cut short in place: the folder's time, by which
        // fontconfig's cache is judged, stays.
        QProcess cache;
        cache.setProcessEnvironment(environment);
        cache.start(u"fc-cache"_s, {});
        QVERIFY(cache.waitForFinished(testTime(30000)) && cache.exitCode() == 0);
        for (const QString &file : cut)
            QVERIFY(QFile::resize(file, 1000));
        QProcess probe;
        environment.insert(u"TARVEK_TEST_FONT_PROBE"_s, u"1"_s);
        probe.setProcessEnvironment(environment);
        probe.start(QCoreApplication::applicationFilePath(), {u"fontProbe"_s});
        QVERIFY(probe.waitForFinished(testTime(30000)) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0);
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        const QString expected = taken.isEmpty() ? QString() : folder.filePath(u"fonts/%1.ttf"_s.arg(taken));
        QVERIFY2(out.contains(u"font file: «%1»\nwindow shown"_s.arg(expected)), qPrintable(out));
        const QString said = QString::fromUtf8(probe.readAllStandardError());
        QCOMPARE(said.count(u"шрифт Liberation Sans 2 не найден"_s), taken.isEmpty() ? 1 : 0);
        for (const QString &file : cut) // named among the files tried
            QVERIFY2(!taken.isEmpty() || said.contains(u"«%1»"_s.arg(file)), qPrintable(said));
    }
#endif
    // Run by systemFont, in a program of its own.
    void fontProbe()
    {
        if (!qEnvironmentVariableIsSet("TARVEK_TEST_FONT_PROBE"))
            QSKIP("runs in a program of systemFont's");
        std::printf("font file: «%s»\n", qPrintable(uiFontFile()));
        uiFont(); // a second time: nothing more said
        std::printf("%s\n", form().isVisible() ? "window shown" : "no window");
    }
    void startState()
    {
        QCOMPARE(form().minimumSize(), form().maximumSize()); // title, size and black picture: on a real display
        const QList<QSize> iconSizes = form().windowIcon().availableSizes();
        QVERIFY(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));
        QVERIFY(form().command1().isEnabled());
        QCOMPARE(QApplication::focusWidget(), &form().command1());
        // Tab, Shift+Tab and Space are driven on Wayland; Enter in the text box starts nothing.
        QTest::keyClick(&form().text1(), Qt::Key_Return);
        QVERIFY(!runtime().clock().armed()); // no timer is enabled
        // A pasted megabyte is kept whole; the text box has no length limit.
        form().text1().setText(QString(1 << 20, u'9'));
        QCOMPARE(form().text1().text().size(), 1 << 20);
    }
    void qtTexts_data()
    {
        QTest::addColumn<bool>("installed"); // Qt's Russian translation on the system
        QTest::newRow("translation installed: Russian") << true;
        QTest::newRow("none installed: English") << false;
    }
    void qtTexts()
    {
        // Whatever words a release of the translation chooses, the text box's
        // menu is in Russian where it is installed, and in English where not.
        QFETCH(bool, installed);
        QTranslator qtTexts; // a folder of frames holds no translation
        QCOMPARE(loadQtTexts(qtTexts, installed ? qtTextsFolder() : m_dir->path()), installed);
        QCoreApplication::installTranslator(&qtTexts);
        const std::unique_ptr<QMenu> menu(form().text1().createStandardContextMenu());
        QStringList items;
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                items << action->text().remove(u'&').section(u'\t', 0, 0);
        const auto russian = [](const QString &text) {
            return std::ranges::any_of(text, [](QChar c) { return c >= u'\u0410' && c <= u'\u044f'; });
        };
        QVERIFY2(items.size() >= 5 && std::ranges::all_of(items, russian) == installed, qPrintable(items.join(u", "_s)));
        QCOMPARE(items.contains(u"Select All"_s), !installed);
        QCOMPARE(reportSeen(RuntimeError(53, u"5.bmp"_s)).at(2), u"ОК"_s); // the program's own word either way
    }
    void framesOfOtherSizes()
    {
        QImage red(640, 480, QImage::Format_RGB32);
        red.fill(qRgb(255, 0, 0));
        // A large frame lies under every control; a small one leaves no trace of it.
        form().image1().setPicture(red);
        QImage shot = form().grab().toImage();
        for (const char *name : {"Command1", "Label1", "Text1"})
            QVERIFY2(shot.pixel(form().findChild<QWidget *>(QLatin1String(name))->geometry().center()) != qRgb(255, 0, 0), name);
        form().image1().setPicture(red.copy(0, 0, 160, 100));
        QCOMPARE(form().image1().geometry(), QRect(0, 0, 160, 100));
        shot = form().grab().toImage();
        QCOMPARE(shot.pixel(100, 50), qRgb(255, 0, 0));
        QVERIFY(shot.pixel(250, 150) != qRgb(255, 0, 0));
    }
    void errorReport_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("text");
        QTest::newRow("53") << 53 << u"5.bmp"_s << u"Ошибка выполнения 53:\nФайл не найден\n\nФайл: «5.bmp»"_s;
        QTest::newRow("70") << 70 << u"1.bmp"_s << u"Ошибка выполнения 70:\nДоступ запрещён\n\nФайл: «1.bmp»"_s;
        QTest::newRow("75") << 75 << u"-1.bmp"_s << u"Ошибка выполнения 75:\nОшибка доступа к пути или файлу\n\nФайл: «-1.bmp»"_s;
        QTest::newRow("481") << 481 << u"7.bmp"_s << u"Ошибка выполнения 481:\nНедопустимое изображение\n\nФайл: «7.bmp»"_s;
    }
    void errorReport()
    {
        // The real report: modal over the window, with its caption, the text and «ОК».
        QFETCH(int, number);
        QFETCH(QString, fileName);
        QFETCH(QString, text);
        QCOMPARE(reportSeen(RuntimeError(number, fileName)), (QStringList{u"Тарвек"_s, text, u"ОК"_s, u"1"_s, u"critical"_s}));
    }
    void scaledScreenKeepsPixelsCrisp()
    {
        if (form().devicePixelRatio() != 2.0)
            QSKIP(qPrintable(u"runs as tst_form1_scaled, on a screen scaled by 2 (this one: %1)"_s.arg(form().devicePixelRatio())));
        QImage checker(320, 200, QImage::Format_RGB32);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 320; ++x)
                checker.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(200, 0, 0));
        form().image1().setPicture(checker);
        const QImage shot = form().grab().toImage();
        QCOMPARE(shot.size(), QSize(640, 618));
        // Every picture pixel is a 2 x 2 block of its own colour: no blur.
        for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(17, 33), QPoint(319, 199)})
            for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
                QCOMPARE(shot.pixel(p * 2 + d), checker.pixel(p));
    }
private:
    QStringList reportSeen(const RuntimeError &error) // caption, text, first button, buttons, critical or not
    {
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            seen << box->windowTitle() << box->text() << box->buttons().constFirst()->text() << QString::number(box->buttons().size())
                 << (box->icon() == QMessageBox::Critical ? u"critical"_s : QString());
            box->accept();
        });
        RuntimeServices().report(error, &form());
        return seen;
    }
};

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
