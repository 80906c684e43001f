#include "test_support.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// loadPicture(): every BMP variant, other formats by content, and every way a
// file can fail to be a picture. Hostile input must end in a report, quickly.
class tst_Pictures : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void content_data();
    void content();
    void fileSystemObjects_data();
    void fileSystemObjects();
    void unreadableFileIsPermissionDenied();
    void plainBmpMatchesQtReader_data();
    void plainBmpMatchesQtReader();
    void imageBoxTakesPictureSize();

private:
    QString write(const QString &name, const QByteArray &bytes);
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {
const QRgb Red = qRgb(255, 0, 0), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255), White = qRgb(255, 255, 255);
const QList<QRgb> Palette4 = {Red, Green, Blue, White};

// 2 x 2 pictures: red, green on top; blue, white below (bottom row stored first).
QByteArray twoByTwo(int bpp, int compression = 0, bool topDown = false)
{
    const auto bytes = [](std::initializer_list<int> b) {
        QByteArray a;
        for (int v : b)
            a += char(v);
        return a;
    };
    QByteArray top, bottom;
    switch (bpp) {
    case 32: top = bytes({0, 0, 255, 0, 0, 255, 0, 0}); bottom = bytes({255, 0, 0, 0, 255, 255, 255, 0}); break;
    case 24: top = bytes({0, 0, 255, 0, 255, 0, 0, 0}); bottom = bytes({255, 0, 0, 255, 255, 255, 0, 0}); break;
    case 16: top = bytes({0x00, 0x7c, 0xe0, 0x03}); bottom = bytes({0x1f, 0x00, 0xff, 0x7f}); break;
    case 8:
        if (compression == 1)
            return bmpFile(2, 2, 8, 1, bytes({1, 2, 1, 3, 0, 0, 1, 0, 1, 1, 0, 0, 0, 1}), Palette4);
        top = bytes({0, 1, 0, 0}); bottom = bytes({2, 3, 0, 0}); break;
    case 4:
        if (compression == 2)
            return bmpFile(2, 2, 4, 2, bytes({2, 0x23, 0, 0, 2, 0x01, 0, 0, 0, 1}), Palette4);
        top = bytes({0x01, 0, 0, 0}); bottom = bytes({0x23, 0, 0, 0}); break;
    case 1: // palette red, white: top red white, bottom white white
        return bmpFile(2, 2, 1, 0, bytes({0xc0, 0, 0, 0, 0x40, 0, 0, 0}), {Red, White});
    }
    return bmpFile(2, 2, bpp, 0, topDown ? top + bottom : bottom + top, bpp <= 8 ? Palette4 : QList<QRgb>{}, topDown);
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage filled(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Green);
    image.setPixel(0, 0, Red);
    image.setPixel(1, 1, White);
    return image;
}

bool near(QRgb a, QRgb b) // 5-bit channels come back as 248, not 255
{
    return qAbs(qRed(a) - qRed(b)) < 8 && qAbs(qGreen(a) - qGreen(b)) < 8 && qAbs(qBlue(a) - qBlue(b)) < 8;
}
} // namespace

void tst_Pictures::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

QString tst_Pictures::write(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return name;
}

void tst_Pictures::content_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size"); // empty: must fail as an invalid picture

    QTest::newRow("bmp 1 bit") << twoByTwo(1) << QSize(2, 2);
    QTest::newRow("bmp 4 bit") << twoByTwo(4) << QSize(2, 2);
    QTest::newRow("bmp 4 bit RLE") << twoByTwo(4, 2) << QSize(2, 2);
    QTest::newRow("bmp 8 bit") << twoByTwo(8) << QSize(2, 2);
    QTest::newRow("bmp 8 bit RLE") << twoByTwo(8, 1) << QSize(2, 2);
    QTest::newRow("bmp 16 bit") << twoByTwo(16) << QSize(2, 2);
    QTest::newRow("bmp 24 bit") << twoByTwo(24) << QSize(2, 2);
    QTest::newRow("bmp 24 bit top-down") << twoByTwo(24, 0, true) << QSize(2, 2);
    QTest::newRow("bmp 32 bit") << twoByTwo(32) << QSize(2, 2);
    QTest::newRow("bmp 160 x 100") << encoded(filled(160, 100), "BMP") << QSize(160, 100);
    QTest::newRow("bmp 3840 x 2160") << encoded(filled(3840, 2160), "BMP") << QSize(3840, 2160);
    QTest::newRow("png under a .bmp name") << encoded(filled(64, 40), "PNG") << QSize(64, 40);

    const QByteArray full = encoded(filled(320, 200), "BMP");
    QTest::newRow("empty file") << QByteArray() << QSize();
    QTest::newRow("random bytes") << QByteArray::fromStdString([] {
        std::string s(4096, '\0');
        QRandomGenerator rng(20261206);
        for (char &c : s)
            c = char(rng.bounded(256));
        return s;
    }()) << QSize();
    QTest::newRow("bmp header only") << full.left(54) << QSize();
    QTest::newRow("bmp half the pixels") << full.left(54 + 96000) << QSize();
    QTest::newRow("bmp claims 60000 x 60000") << bmpFile(60000, 60000, 24, 0, QByteArray(64, '\0')) << QSize();
    QTest::newRow("RLE8 bmp claims 60000 x 60000") << bmpFile(60000, 60000, 8, 1, QByteArray::fromHex("0001"), Palette4) << QSize();
    QTest::newRow("bmp claims 2^31 x 2^31") << bmpFile(2147483647, -2147483647, 24, 0, QByteArray(64, '\0')) << QSize();
    QTest::newRow("fuzz: row size times height overflows")
        << QByteArray::fromBase64("Qk0+AAAAAAAAQDYAAAAoAAAAAgEAYIAAAsJFAF0AAAAAAAAAAAAAAAAAHwD/fwB84AM=") << QSize();
    QTest::newRow("bmp claims negative width") << bmpFile(-320, 200, 24, 0, QByteArray(64, '\0')) << QSize();
    QTest::newRow("bmp claims zero height") << bmpFile(320, 0, 24, 0, QByteArray(64, '\0')) << QSize();
    QTest::newRow("bmp claims 7 bits per pixel") << bmpFile(2, 2, 7, 0, QByteArray(16, '\0')) << QSize();
    QTest::newRow("bmp RLE8 runs past the picture")
        << bmpFile(2, 2, 8, 1, QByteArray::fromHex("01020103ff0100000100010102ff0002ffff0001"), Palette4) << QSize(2, 2);
}

void tst_Pictures::content()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    write(u"frame.bmp"_s, bytes);
    QElapsedTimer watchdog;
    watchdog.start();
    try {
        const QImage image = loadPicture(u"frame.bmp"_s);
        QVERIFY2(size.isValid(), "a broken file was taken for a picture");
        QCOMPARE(image.size(), size);
        QVERIFY(near(image.pixel(0, 0), Red));
        QVERIFY(near(image.pixel(1, 1), White));
    } catch (const RuntimeError &error) {
        QVERIFY2(!size.isValid(), qPrintable(reportText(error)));
        QCOMPARE(error.number(), ErrorNumber::InvalidPicture);
        QCOMPARE(error.fileName(), u"frame.bmp"_s);
    }
    QVERIFY2(watchdog.elapsed() < 5000, "hung on a hostile file");
}

void tst_Pictures::fileSystemObjects_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("error"); // 0: loads
    QTest::newRow("missing") << u"missing"_s << ErrorNumber::FileNotFound;
    QTest::newRow("directory") << u"directory"_s << ErrorNumber::PathFileAccess;
    QTest::newRow("FIFO without a writer") << u"fifo"_s << ErrorNumber::PathFileAccess;
    QTest::newRow("symbolic link loop") << u"loop"_s << ErrorNumber::PathFileAccess;
    QTest::newRow("link to a good frame") << u"link"_s << 0;
    QTest::newRow("upper-case ending found") << u"upper"_s << 0;
    QTest::newRow("lower-case ending preferred") << u"both"_s << 0;
    QTest::newRow("other stem not taken") << u"stem"_s << ErrorNumber::FileNotFound;
}

void tst_Pictures::fileSystemObjects()
{
    QFETCH(QString, kind);
    QFETCH(int, error);
    const QByteArray good = twoByTwo(24);
    if (kind == u"directory")
        QVERIFY(QDir().mkdir(u"1.bmp"_s));
    if (kind == u"fifo")
        QCOMPARE(::mkfifo("1.bmp", 0644), 0);
    if (kind == u"loop")
        QVERIFY(QFile::link(u"1.bmp"_s, u"2.bmp"_s) && QFile::link(u"2.bmp"_s, u"1.bmp"_s));
    if (kind == u"link")
        QVERIFY(QFile::link(write(u"good.png"_s, good), u"1.bmp"_s));
    if (kind == u"upper" || kind == u"both")
        write(u"1.BMP"_s, good);
    if (kind == u"both")
        write(u"1.bmp"_s, encoded(filled(3, 3), "BMP"));
    if (kind == u"stem")
        write(u"01.bmp"_s, good);

    try {
        const QImage image = loadPicture(u"1.bmp"_s);
        QCOMPARE(error, 0);
        QCOMPARE(image.width(), kind == u"both" ? 3 : 2);
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), error);
        QCOMPARE(e.fileName(), u"1.bmp"_s);
    }
}

void tst_Pictures::unreadableFileIsPermissionDenied()
{
    write(u"1.bmp"_s, twoByTwo(24));
    QVERIFY(QFile::setPermissions(u"1.bmp"_s, {}));
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                   | QFile::ReadOther | QFile::ExeOther));
    // Root reads every file: the check runs in a child that has given that up.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(1);
        try {
            loadPicture(u"1.bmp"_s);
        } catch (const RuntimeError &e) {
            ::_exit(e.number());
        }
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), ErrorNumber::PermissionDenied);
}

void tst_Pictures::plainBmpMatchesQtReader_data()
{
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<bool>("topDown");
    QTest::newRow("24 bit, padded rows") << 24 << false;
    QTest::newRow("24 bit, top-down") << 24 << true;
    QTest::newRow("32 bit, reserved byte set") << 32 << false;
}

void tst_Pictures::plainBmpMatchesQtReader()
{
    QFETCH(int, bitsPerPixel);
    QFETCH(bool, topDown);
    const int width = 37, height = 11; // 37 * 3 bytes need a byte of padding
    QByteArray pixels((width * bitsPerPixel + 31) / 32 * 4 * height, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (char &c : pixels)
        c = char(rng.bounded(256));
    const QByteArray file = bmpFile(width, height, bitsPerPixel, 0, pixels, {}, topDown);
    QImage expected = QImage::fromData(file, "BMP").convertToFormat(QImage::Format_RGB32);
    write(u"frame.bmp"_s, file);
    QCOMPARE(loadPicture(u"frame.bmp"_s), expected);
}

void tst_Pictures::imageBoxTakesPictureSize()
{
    ImageBox box;
    box.setPicture(filled(320, 200));
    box.setPicture(filled(160, 100));
    QCOMPARE(box.size(), QSize(160, 100));
    QCOMPARE(box.pos(), QPoint(0, 0));
}

QTEST_MAIN(tst_Pictures)
#include "tst_pictures.moc"
