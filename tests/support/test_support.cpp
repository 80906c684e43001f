#include "test_support.h"

#include "frame_display.h"

#include <QDataStream>

void writeFrames(const QDir &dir, QSize size)
{
    for (int stage = 1; stage <= StageCount; ++stage) {
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(frameColour(stage));
        frame.save(dir.filePath(frameFileName(stage)), "BMP");
    }
}

QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression,
                   const QByteArray &pixels, const QList<QRgb> &palette, bool topDown)
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
