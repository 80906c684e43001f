#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The Windows executable's resources, in the real tarvek.exe of a Windows build
// or else compiled into a resource-only library, read back with icoutils, as
// Windows reads them: a version record in US English with the Unicode code
// page, and one icon of three images, each the picture it is made from.
class tst_WindowsResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (m_library.isEmpty())
            QSKIP("not built: install binutils-mingw-w64-x86-64, mingw-w64-x86-64-dev and icoutils, and configure again");
        const QStringList listed = run(u"wrestool"_s, {u"-l"_s, m_library}).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(listed.size(), 5); // three images, their icon, the version record
        for (const QString &resource : listed)
            QVERIFY2(resource.contains(u"--language=1033 "_s), qPrintable(resource)); // US English
        run(u"wrestool"_s, {u"-x"_s, u"-t"_s, u"14"_s, m_library, u"-o"_s, m_icon});
    }
    void versionRecord()
    {
        const QByteArray record = run(u"wrestool"_s, {u"-x"_s, u"-t"_s, u"16"_s, u"--raw"_s, m_library}).toLatin1();
        // The fixed part: its signature, then file and product version 1.0.0.0.
        const qsizetype fixed = record.indexOf(QByteArray::fromHex("bd04effe"));
        QVERIFY(fixed > 0);
        QCOMPARE(record.mid(fixed + 8, 16).toHex(), QByteArray("00000100000000000000010000000000"));
        // The texts, in UTF-16, each key followed by its value.
        const QStringList texts = QString::fromUtf16(reinterpret_cast<const char16_t *>(record.constData()), record.size() / 2)
                                      .split(QChar(0), Qt::SkipEmptyParts);
        const auto valueOf = [&texts](const QString &key) {
            const auto found = std::find_if(texts.begin(), texts.end(), [&](const QString &text) { return text.endsWith(key); });
            return found != texts.end() && found + 1 != texts.end() ? *(found + 1) : QString();
        };
        QCOMPARE(valueOf(u"FileVersion"_s), u"1.00"_s);
        QCOMPARE(valueOf(u"ProductVersion"_s), u"1.00"_s);
        QVERIFY(std::any_of(texts.begin(), texts.end(), [](const QString &text) { return text.endsWith(u"040904B0"_s); }));
        QVERIFY(record.endsWith(QByteArray::fromHex("0904b004"))); // Translation: 0x409, 1200
    }
    void iconImages_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("listed"); // by icotool
        QTest::newRow("32 x 32, 2 colours") << 1 << u"tarvek-32-2.xpm"_s << u"--width=32 --height=32 --bit-depth=1 --palette-size=2"_s;
        QTest::newRow("32 x 32, 16 colours") << 2 << u"tarvek-32-16.xpm"_s << u"--width=32 --height=32 --bit-depth=4 --palette-size=16"_s;
        QTest::newRow("16 x 16, 16 colours") << 3 << u"tarvek-16-16.xpm"_s << u"--width=16 --height=16 --bit-depth=4 --palette-size=16"_s;
    }
    void iconImages()
    {
        QFETCH(int, index);
        QFETCH(QString, picture);
        QFETCH(QString, listed);
        const QStringList images = run(u"icotool"_s, {u"-l"_s, m_icon}).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(images.size(), 3);
        QCOMPARE(images[index - 1], u"--icon --index=%1 %2"_s.arg(index).arg(listed));
        QImageReader reader(m_icon);
        QVERIFY(reader.jumpToImage(index - 1));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        const QImage source = QImage(QStringLiteral(TARVEK_ICONS) + u'/' + picture).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), source.size());
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) // transparent where the picture is, else its colour
                QVERIFY2(qAlpha(source.pixel(x, y)) == 0 ? qAlpha(image.pixel(x, y)) == 0 : image.pixel(x, y) == source.pixel(x, y),
                         qPrintable(u"pixel %1, %2"_s.arg(x).arg(y)));
    }

private:
    QString run(const QString &program, const QStringList &args) // its output, byte for byte
    {
        QProcess process;
        process.start(program, args);
        process.waitForFinished();
        return QString::fromLatin1(process.readAllStandardOutput());
    }

    // The Windows build's tarvek.exe when given, else the library compiled here.
    const QString m_library = qEnvironmentVariable("TARVEK_RESOURCE_DLL", QStringLiteral(TARVEK_RESOURCE_DLL));
    QTemporaryDir m_dir;
    const QString m_icon = m_dir.filePath(u"tarvek.ico"_s);
};

QTEST_MAIN(tst_WindowsResources)
#include "tst_windows_resources.moc"
