// Assembles the program's .ico from its icon pictures: each picture becomes one
// image of 2 colours (1 bit per pixel) or 16 colours (4 bits per pixel),
// whichever its palette needs. Usage: make_ico OUT.ico PICTURE...
// Not icoutils' icotool: it reads PNG alone, and the pictures are the XPMs the
// program compiles in, which Qt reads here.
#include <QDataStream>
#include <QFile>
#include <QCoreApplication>
#include <QImage>

#include <cstdio>

namespace {

QByteArray iconImage(const QImage &source, int bitsPerPixel)
{
    const QImage image = source.convertToFormat(QImage::Format_Indexed8);
    const int w = image.width();
    const int h = image.height();
    const int colours = 1 << bitsPerPixel;
    const int colourStride = ((w * bitsPerPixel + 31) / 32) * 4;
    const int maskStride = ((w + 31) / 32) * 4;

    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    s << quint32(40) << qint32(w) << qint32(h * 2) << quint16(1) << quint16(bitsPerPixel)
      << quint32(0) << quint32((colourStride + maskStride) * h) << qint32(0) << qint32(0)
      << quint32(colours) << quint32(0);
    const QList<QRgb> table = image.colorTable();
    for (int i = 0; i < colours; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    }
    for (int y = h - 1; y >= 0; --y) { // bottom-up
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < w; ++x) {
            const int bit = x * bitsPerPixel;
            const int shift = 8 - bitsPerPixel - bit % 8;
            row[bit / 8] = char(row[bit / 8] | (image.pixelIndex(x, y) << shift));
        }
        s.writeRawData(row.constData(), int(row.size()));
    }
    const QByteArray opaqueMask(maskStride * h, '\0');
    s.writeRawData(opaqueMask.constData(), int(opaqueMask.size()));
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_ico OUT.ico PICTURE...\n");
        return 2;
    }
    QList<QImage> images;
    QList<QByteArray> payloads;
    for (int i = 2; i < argc; ++i) {
        QImage image(QString::fromLocal8Bit(argv[i]));
        if (image.isNull() || image.width() > 256 || image.height() > 256) {
            std::fprintf(stderr, "make_ico: cannot use %s\n", argv[i]);
            return 1;
        }
        image = image.convertToFormat(QImage::Format_Indexed8);
        const int bits = image.colorCount() <= 2 ? 1 : 4;
        if (image.colorCount() > 16) {
            std::fprintf(stderr, "make_ico: %s has more than 16 colours\n", argv[i]);
            return 1;
        }
        images << image;
        payloads << iconImage(image, bits);
    }

    QByteArray ico;
    QDataStream s(&ico, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = quint32(6 + 16 * images.size());
    for (int i = 0; i < images.size(); ++i) {
        const int bits = images[i].colorCount() <= 2 ? 1 : 4;
        s << quint8(images[i].width()) << quint8(images[i].height()) << quint8(1 << bits)
          << quint8(0) << quint16(1) << quint16(bits) << quint32(payloads[i].size()) << offset;
        offset += quint32(payloads[i].size());
    }
    for (const QByteArray &payload : payloads)
        ico += payload;

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(ico) != ico.size()) {
        std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
