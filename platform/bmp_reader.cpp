#include "bmp_reader.h"

#include "picture.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>

namespace {

quint32 littleEndian(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

struct BmpHeader
{
    quint32 headerSize = 0;
    qint64 pixelOffset = 0;
    qint64 width = 0;
    qint64 height = 0; // negative: the rows are stored top-down
    qint64 bitsPerPixel = 0;
    qint64 compression = 0;

    qint64 rowBytes() const { return (width * bitsPerPixel + 31) / 32 * 4; }
};

std::optional<BmpHeader> bmpHeader(const QByteArray &bytes)
{
    if (bytes.size() < 30 || !bytes.startsWith("BM"))
        return std::nullopt;
    BmpHeader h;
    h.headerSize = littleEndian(bytes, 14, 4);
    h.pixelOffset = littleEndian(bytes, 10, 4);
    if (h.headerSize == 12) {
        h.width = qint16(littleEndian(bytes, 18, 2));
        h.height = qint16(littleEndian(bytes, 20, 2));
        h.bitsPerPixel = littleEndian(bytes, 24, 2);
    } else if (h.headerSize >= 40 && bytes.size() >= 34) {
        h.width = qint32(littleEndian(bytes, 18, 4));
        h.height = qint32(littleEndian(bytes, 22, 4));
        h.bitsPerPixel = littleEndian(bytes, 28, 2);
        h.compression = littleEndian(bytes, 30, 4);
    } else {
        return std::nullopt;
    }
    return h;
}

// Qt's reader fills the rows missing from a cut-off BMP with black and calls it
// a picture; such a file is a damaged one. Only uncompressed BMPs can be checked
// this way: the length of their pixel data follows from the header.
bool isTruncated(const BmpHeader &h, qint64 fileSize)
{
    constexpr qint64 Rgb = 0, BitFields = 3, AlphaBitFields = 6;
    if (h.compression != Rgb && h.compression != BitFields && h.compression != AlphaBitFields)
        return false;
    const qint64 rowBytes = h.rowBytes();
    if (rowBytes <= 0 || h.pixelOffset > fileSize)
        return rowBytes > 0;
    // Divided, not multiplied: a header may claim 2^31 rows of 2^40 bytes.
    return qAbs(h.height) > (fileSize - h.pixelOffset) / rowBytes;
}

std::optional<QImage> readRows(QFile &file, const BmpHeader &h)
{
    if (h.headerSize < 40 || h.compression != 0 || (h.bitsPerPixel != 24 && h.bitsPerPixel != 32)
        || h.width <= 0 || h.height == 0)
        return std::nullopt;
    const qint64 rows = qAbs(h.height);
    if (rows > qint64(MaxDecodedPictureMegabytes) * 1024 * 1024 / 4 / h.width)
        return QImage();
    QImage image(int(h.width), int(rows), QImage::Format_RGB32);
    if (image.isNull() || !file.seek(h.pixelOffset))
        return QImage();
    const qint64 rowBytes = h.rowBytes();
    // Rows are read some at a time, up to 64 KiB, never the whole picture: no
    // copy of the file's bytes is held beside the old picture and the new one.
    // One byte more, so that a whole word can be read at the last pixel of a
    // 24-bit row that has no padding.
    const qint64 rowsPerRead = std::max<qint64>(1, 65536 / rowBytes);
    QByteArray chunk(rowsPerRead * rowBytes + 1, '\0');
    const auto *in = reinterpret_cast<const uchar *>(chunk.constData());
    // A pixel is stored blue, green, red (and an unused byte at 32 bits): read as
    // a little-endian word, its low three bytes are QRgb's 0xRRGGBB, and the top
    // byte, set, makes it opaque.
    const auto convertRow = [&]<int Step>(const uchar *from, QRgb *out) {
        for (qint64 x = 0; x < h.width; ++x)
            out[x] = 0xff000000u | qFromLittleEndian<quint32>(from + x * Step);
    };
    for (qint64 r = 0; r < rows;) {
        const qint64 count = std::min(rowsPerRead, rows - r);
        if (file.read(chunk.data(), count * rowBytes) != count * rowBytes)
            return QImage();
        for (qint64 i = 0; i < count; ++i, ++r) {
            auto *out = reinterpret_cast<QRgb *>(image.scanLine(int(h.height > 0 ? rows - 1 - r : r)));
            if (h.bitsPerPixel == 24)
                convertRow.operator()<3>(in + i * rowBytes, out);
            else
                convertRow.operator()<4>(in + i * rowBytes, out);
        }
    }
    return image;
}

} // namespace

std::optional<QImage> readPlainBmp(QFile &file, qint64 fileSize)
{
    const std::optional<BmpHeader> header = bmpHeader(file.peek(64));
    if (!header)
        return std::nullopt;
    if (isTruncated(*header, fileSize))
        return QImage();
    return readRows(file, *header);
}
