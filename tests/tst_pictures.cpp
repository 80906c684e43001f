#include "bmp_files.h"
#include "test_support.h"

#include "bmp_reader.h"

#include <QElapsedTimer>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <functional>

namespace {
constexpr int Invalid = ErrorNumber::InvalidPicture, NotFound = ErrorNumber::FileNotFound;
constexpr int Denied = ErrorNumber::PermissionDenied, NoAccess = ErrorNumber::PathFileAccess;
} // namespace

// loadPicture() with every BMP variant and every way a file can fail to be one.
class tst_Pictures : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
#ifdef Q_OS_UNIX
        // Root may read any file; the permission row needs an ordinary user's view.
        if (::geteuid() == 0)
            QVERIFY(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
#endif
    }
    void cleanup()
    {
#ifdef Q_OS_WIN
        if (m_lock != INVALID_HANDLE_VALUE)
            ::CloseHandle(std::exchange(m_lock, INVALID_HANDLE_VALUE));
#endif
        QDir::setCurrent(QDir::tempPath()); // Windows removes no folder that is current
        m_dir.reset();
    }
    void init() { QVERIFY(m_dir.emplace().isValid() && QDir::setCurrent(m_dir->path())); }
    // Uncompressed 24- and 32-bit BMPs of every row padding, each pixel its own
    // colour, the reserved byte of 32-bit pixels set: every pixel read exactly,
    // opaque, the last of each row too; pictures of more rows than are read at
    // once (64 KiB), their last read a part one, stored bottom-up and top-down;
    // and rows wider than 64 KiB, read one at a time.
    void plainBmpPixels_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<bool>("topDown");
        QTest::addColumn<qint64>("kept"); // bytes of rows left once the file is open; -1: all
        for (const int bpp : {24, 32})
            for (const int width : {1, 2, 3, 4, 5})
                for (const bool topDown : {false, true})
                    QTest::addRow("%d bit, %d wide%s", bpp, width, topDown ? ", top-down" : "") << width << 3 << bpp << topDown << -1LL;
        for (const bool topDown : {false, true}) {
            const char *const order = topDown ? ", top-down" : "";
            QTest::addRow("24 bit, 16-byte rows, 4096 and 3 read%s", order) << 5 << 4099 << 24 << topDown << -1LL;
            QTest::addRow("32 bit, 12-byte rows, 5461 and 2 read%s", order) << 3 << 5463 << 32 << topDown << -1LL;
            QTest::addRow("24 bit, 21846 wide: a row over 64 KiB%s", order) << 21846 << 3 << 24 << topDown << -1LL;
            QTest::addRow("32 bit, 16385 wide: a row over 64 KiB%s", order) << 16385 << 2 << 32 << topDown << -1LL;
            QTest::addRow("32 bit, 16384 wide: a row of 64 KiB%s", order) << 16384 << 3 << 32 << topDown << -1LL;
            // A file that grows shorter while it is read, as one being written or
            // replaced does, after its size was found and before its rows are read:
            // refused, never shown with rows that were not read.
            QTest::addRow("shortened to its header%s", order) << 5 << 4099 << 24 << topDown << 0LL;
            QTest::addRow("shortened inside the first read%s", order) << 5 << 4099 << 24 << topDown << 100LL * 16;
            QTest::addRow("shortened inside the last read%s", order) << 5 << 4099 << 24 << topDown << 4097LL * 16;
            QTest::addRow("shortened by a byte%s", order) << 5 << 4099 << 24 << topDown << 4099LL * 16 - 1;
            QTest::addRow("rows over 64 KiB, shortened by a row%s", order) << 21846 << 3 << 24 << topDown << 2LL * 65540;
        }
    }
    void plainBmpPixels()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bitsPerPixel);
        QFETCH(bool, topDown);
        QFETCH(qint64, kept);
        const int rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        const auto colour = [](int x, int y) { return qRgb(10 + 40 * x + y, 200 - 30 * y, 7 * x + 60 * y + 1); };
        QByteArray pixels;
        for (int i = 0; i < height; ++i) {
            const int y = topDown ? i : height - 1 - i; // the top row first, or the bottom one
            QByteArray row;
            for (int x = 0; x < width; ++x) {
                row += char(qBlue(colour(x, y))) + QByteArray(1, char(qGreen(colour(x, y)))) + char(qRed(colour(x, y)));
                if (bitsPerPixel == 32)
                    row += char(0x5a);
            }
            pixels += row + QByteArray(rowBytes - row.size(), '\xee');
        }
        QVERIFY(write(u"1.bmp"_s, bmpFile(width, height, bitsPerPixel, 0, pixels, {}, topDown)));
        if (kept >= 0) {
            QFile file(u"1.bmp"_s);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 sizeWhenOpened = file.size();
            QVERIFY(file.resize(54 + kept));
            const std::optional<QImage> read = readPlainBmp(file, sizeWhenOpened);
            QVERIFY2(read && read->isNull(), "rows that were never read taken for a picture");
            return;
        }
        const QImage image = loadPicture(u"1.bmp"_s);
        QCOMPARE(image.size(), QSize(width, height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (reinterpret_cast<const QRgb *>(image.constScanLine(y))[x] != colour(x, y))
                    QFAIL(qPrintable(u"pixel %1, %2 is %3, not %4"_s.arg(x).arg(y).arg(image.pixel(x, y), 8, 16).arg(colour(x, y), 8, 16)));
    }
    void pictureFiles_data()
    {
        QTest::addColumn<std::function<bool()>>("make"); // makes 1.bmp, or what stands in its place
        QTest::addColumn<QSize>("size"); // of the picture; empty: the load fails with error
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("load"); // the name loaded
        const auto row = [](const char *name, const std::function<bool()> &make, QSize size, int error,
                            const QString &load = u"1.bmp"_s) {
            QTest::newRow(name) << make << size << error << load;
        };
        const QString frame = u"1.bmp"_s, good = u"good.png"_s;
        const auto loads = [&](const char *name, const QByteArray &content, QSize size = {2, 2}) {
            row(name, [=] { return write(frame, content); }, size, 0);
        };
        const auto refused = [&](const char *name, const QByteArray &content, qint64 sparseSize = 0) {
            row(name, [=] { return write(frame, content, sparseSize); }, {}, Invalid);
        };
        loads("bmp 1 bit", twoByTwo(1));
        loads("bmp 4 bit", twoByTwo(4));
        loads("bmp 4 bit RLE", twoByTwo(4, 2));
        loads("bmp 8 bit", twoByTwo(8));
        loads("bmp 8 bit RLE", twoByTwo(8, 1));
        loads("bmp 16 bit", twoByTwo(16));
        loads("bmp 24 bit", twoByTwo(24));
        QByteArray textLike = twoByTwo(24); // bytes a file read as text would change or end at:
        textLike.replace(6, 4, "\r\n\x1a\n"); // CR LF and ^Z in the header's reserved field
        textLike.replace(54 + 6, 2, "\r\n").replace(62 + 6, 2, "\x1a\r"); // and in the rows' padding
        loads("bmp 24 bit with CR LF and ^Z", textLike);
        loads("bmp 32 bit", twoByTwo(32));
        loads("bmp 1920 x 1080", encoded(1920, 1080, "BMP"), {1920, 1080});
        loads("png under a .bmp name", encoded(64, 40, "PNG"), {64, 40});
        loads("RLE8 runs past the picture", bmpFile(2, 2, 8, 1, QByteArray::fromHex("01020103ff0100000100010102ff0002ffff0001"), Palette4));
        for (int bpp : {1, 4, 8, 16, 24, 32}) // a row short
            refused(qPrintable(u"bmp %1 bit cut short"_s.arg(bpp)), twoByTwo(bpp).chopped(4));
        for (int bpp : {4, 8, 16, 24, 32}) { // rows stored top row first
            loads(qPrintable(u"bmp %1 bit top-down"_s.arg(bpp)), twoByTwo(bpp, 0, true));
            refused(qPrintable(u"bmp %1 bit top-down cut short"_s.arg(bpp)), twoByTwo(bpp, 0, true).chopped(4));
        }
        refused("empty file", {});
        refused("text", "BM, but not a picture");
        refused("bmp header only", encoded(320, 200, "BMP").left(54));
        refused("good bmp in a file above 256 MiB", twoByTwo(24), (256LL << 20) + 1);
        refused("good bmp in a file above 4 GiB", twoByTwo(24), (4LL << 30) + 100); // its size's low 32 bits: 100
        refused("24 bit bmp decoding to 280 MB", bmpFile(10000, 7000, 24, 0, {}), 54 + 30000LL * 7000);
        refused("RLE8 bmp claims 60000 x 60000", bmpFile(60000, 60000, 8, 1, QByteArray::fromHex("0001"), Palette4));
        refused("bmp claims 60000 x 60000", bmpFile(60000, 60000, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims 2^31 x 2^31", bmpFile(2147483647, -2147483647, 24, 0, QByteArray(64, '\0')));
        refused("fuzz: row size times height overflows",
                QByteArray::fromBase64("Qk0+AAAAAAAAQDYAAAAoAAAAAgEAYIAAAsJFAF0AAAAAAAAAAAAAAAAAHwD/fwB84AM="));
        refused("bmp claims negative width", bmpFile(-320, 200, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims zero height", bmpFile(320, 0, 24, 0, QByteArray(64, '\0')));
        refused("bmp claims 7 bits per pixel", bmpFile(2, 2, 7, 0, QByteArray(16, '\0')));
        row("missing", [] { return true; }, {}, NotFound);
        row("directory", [=] { return QDir().mkdir(frame); }, {}, NoAccess);
        row("missing folder", [] { return true; }, {}, NotFound, u"gone/1.bmp"_s);
#ifdef Q_OS_UNIX
        // An unreadable file, a FIFO and a link to a device: in the table below.
        row("symbolic link loop", [=] { return QFile::link(frame, u"2.bmp"_s) && QFile::link(u"2.bmp"_s, frame); }, {}, NoAccess);
        row("link to a good frame", [=] { return write(good, twoByTwo(24)) && QFile::link(good, frame); }, {2, 2}, 0);
#endif
#ifdef Q_OS_WIN
        // Held open by another program that shares it with no one.
        row("locked by another program", [this, frame] {
            m_lock = write(frame, twoByTwo(24))
                ? ::CreateFileW(L"1.bmp", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                : INVALID_HANDLE_VALUE;
            return m_lock != INVALID_HANDLE_VALUE;
        }, {}, Denied);
        // Device names, in every folder and with any ending: never opened.
        const auto device = [&](const char *name, const QString &load) {
            row(name, [] { return QDir().mkdir(u"sub"_s); }, {}, NoAccess, load);
        };
        device("console", u"CON.bmp"_s);
        device("console, lower case", u"con"_s);
        device("null device", u"NUL.bmp"_s);
        device("serial port", u"com1.bmp"_s);
        device("printer port in a folder", u"sub/LPT9.bmp"_s);
        device("console input", u"CONIN$"_s);
        device("console by device path", u"\\\\.\\CON"_s);
        row("COM10 is an ordinary name", [] { return write(u"COM10.bmp"_s, twoByTwo(24)); }, {2, 2}, 0, u"COM10.bmp"_s);
        row("CONSOLE is an ordinary name", [] { return write(u"CONSOLE.bmp"_s, twoByTwo(24)); }, {2, 2}, 0, u"CONSOLE.bmp"_s);
#endif
        row("capitalised ending found", [] { return write(u"1.Bmp"_s, twoByTwo(24)); }, {2, 2}, 0);
        row("mixed-case ending found", [] { return write(u"1.bMP"_s, twoByTwo(24)); }, {2, 2}, 0);
        row("other stem not taken", [] { return write(u"01.bmp"_s, twoByTwo(24)); }, {}, NotFound);
#ifdef Q_OS_UNIX
        // The ending's other spellings are tried only when the name as asked is
        // missing; then the first of them that is there decides, with its picture
        // or its own error, reported under the name asked. Otherwise what is at
        // the name asked decides. Every pair of what can be at either name:
        struct Entry
        {
            const char *what;
            int error; // loading it alone: 0, or the number the README gives
            std::function<bool(const QString &)> make;
        };
        const QList<Entry> entries = {
            {"missing", 53, [](const QString &) { return true; }},
            {"a dangling link", 53, [](const QString &name) { return QFile::link(u"gone.bmp"_s, name); }},
            {"a folder", 75, [](const QString &name) { return QDir().mkdir(name); }},
            {"unreadable", 70, [](const QString &name) { return write(name, twoByTwo(24)) && QFile::setPermissions(name, {}); }},
            {"a FIFO", 75, [](const QString &name) { return ::mkfifo(QFile::encodeName(name).constData(), 0644) == 0; }},
            {"a link to a device", 75, [](const QString &name) { return QFile::link(u"/dev/zero"_s, name); }},
            {"a picture", 0, [](const QString &name) { return write(name, twoByTwo(24)); }},
            {"not a picture", 481, [](const QString &name) { return write(name, "not a picture"); }},
        };
        for (const Entry &asked : entries) {
            for (const Entry &other : entries) {
                const int error = asked.error == 53 ? other.error : asked.error;
                row(qPrintable(u"1.bmp %1, 1.BMP %2"_s.arg(QLatin1String(asked.what), QLatin1String(other.what))),
                    [=] { return asked.make(frame) && other.make(u"1.BMP"_s); }, error ? QSize() : QSize(2, 2), error);
            }
        }
        row("the last spelling tried decides when the others are missing", [] { return QDir().mkdir(u"1.bmP"_s); }, {}, NoAccess);
        row("of two other spellings, the upper-case one decides",
            [] { return QDir().mkdir(u"1.BMP"_s) && write(u"1.Bmp"_s, twoByTwo(24)); }, {}, NoAccess);
        row("name too long", [] { return true; }, {}, NoAccess, QString(300, u'1') + u".bmp"_s);
#endif
    }
    void pictureFiles()
    {
        QFETCH(std::function<bool()>, make);
        QFETCH(QSize, size);
        QFETCH(int, error);
        QFETCH(QString, load);
        QVERIFY(make());
        QElapsedTimer watchdog;
        watchdog.start();
        try {
            const QImage image = loadPicture(load);
            QVERIFY2(size.isValid(), "a broken file was taken for a picture");
            QCOMPARE(image.size(), size);
            QVERIFY(nearlyEqual(image.pixel(0, 0), Red));
            QVERIFY(nearlyEqual(image.pixel(1, 1), White));
            if (size == QSize(2, 2) && qstrcmp(QTest::currentDataTag(), "bmp 1 bit") != 0) // red and white only
                QVERIFY(nearlyEqual(image.pixel(1, 0), Green) && nearlyEqual(image.pixel(0, 1), Blue));
        } catch (const RuntimeError &e) {
            QVERIFY2(!size.isValid(), qPrintable(reportText(e)));
            QCOMPARE(e.number(), error);
            QCOMPARE(e.fileName(), load);
        }
        QVERIFY2(watchdog.elapsed() < testTime(60000), "hung on a hostile file");
    }

private:
    std::optional<QTemporaryDir> m_dir;
#ifdef Q_OS_WIN
    HANDLE m_lock = INVALID_HANDLE_VALUE;
#endif
};

QTEST_MAIN(tst_Pictures)
#include "tst_pictures.moc"
