#pragma once

// Picture files for the tests of loadPicture(): BMPs built byte by byte, for
// the variants QImage does not write, and pictures QImage encodes.
#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QImage>

inline const QRgb Red = qRgb(255, 0, 0), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255), White = qRgb(255, 255, 255);
inline const QList<QRgb> Palette4 = {Red, Green, Blue, White};


// A BMP file built byte by byte, for the variants QImage does not write.
// pixels are the rows as stored (bottom-up unless topDown), padding included.
inline QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression, const QByteArray &pixels,
                   const QList<QRgb> &palette = {}, bool topDown = false)
{
    const quint32 offset = quint32(14 + 40 + 4 * palette.size());
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("BM", 2);
    s << quint32(offset + quint32(pixels.size())) << quint32(0) << offset;
    s << quint32(40) << qint32(width) << qint32(topDown ? -height : height) << quint16(1)
      << quint16(bitsPerPixel) << quint32(compression) << quint32(pixels.size()) << qint32(3780)
      << qint32(3780) << quint32(palette.size()) << quint32(0);
    for (QRgb c : palette)
        s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    s.writeRawData(pixels.constData(), int(pixels.size()));
    return out;
}

// 2 x 2 pictures: red, green on top; blue, white below (bottom row stored first).
inline QByteArray twoByTwo(int bpp, int compression = 0, bool topDown = false)
{
    QByteArray top, bottom; // rows as stored: blue, green, red; palette indices; 5-5-5 bits
    switch (bpp) {
    case 32: top = QByteArray::fromHex("0000ff0900ff0009"); bottom = QByteArray::fromHex("ff000009ffffff09"); break; // reserved bytes set
    case 24: top = QByteArray::fromHex("0000ff00ff000000"); bottom = QByteArray::fromHex("ff0000ffffff0000"); break;
    case 16: top = QByteArray::fromHex("007ce003"); bottom = QByteArray::fromHex("1f00ff7f"); break;
    case 8:
        if (compression == 1)
            return bmpFile(2, 2, 8, 1, QByteArray::fromHex("0102010300000100010100000001"), Palette4);
        top = QByteArray::fromHex("00010000"); bottom = QByteArray::fromHex("02030000"); break;
    case 4:
        if (compression == 2)
            return bmpFile(2, 2, 4, 2, QByteArray::fromHex("02230000020100000001"), Palette4);
        top = QByteArray::fromHex("01000000"); bottom = QByteArray::fromHex("23000000"); break;
    case 1: // palette red, white: top red white, bottom white white
        return bmpFile(2, 2, 1, 0, QByteArray::fromHex("c000000040000000"), {Red, White});
    }
    return bmpFile(2, 2, bpp, 0, topDown ? top + bottom : bottom + top, bpp <= 8 ? Palette4 : QList<QRgb>{}, topDown);
}

inline QByteArray encoded(int w, int h, const char *format)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Green);
    image.setPixel(0, 0, Red);
    image.setPixel(1, 1, White);
    QBuffer buffer; // opened by the writer
    image.save(&buffer, format);
    return buffer.data();
}

inline bool nearlyEqual(QRgb a, QRgb b) // 5-bit channels come back as 248, not 255
{
    return qAbs(qRed(a) - qRed(b)) < 8 && qAbs(qGreen(a) - qGreen(b)) < 8 && qAbs(qBlue(a) - qBlue(b)) < 8;
}

// Writes the file; given a sparseSize, extends it to that size with a hole.
inline bool write(const QString &name, const QByteArray &data, qint64 sparseSize = 0)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && (!sparseSize || file.resize(sparseSize));
}
