#include "picture.h"

#include "bmp_reader.h"
#include "frame_file.h"
#include "runtime_error.h"

#include <QImageReader>
#include <QStringList>

namespace {

// The other spellings of a ".bmp" ending, upper case first: "7.BMP", "7.BMp", ...
QStringList otherEndingCases(const QString &fileName)
{
    QStringList names;
    if (!fileName.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive))
        return names;
    const QString stem = fileName.chopped(3);
    static constexpr char lower[] = "bmp";
    static constexpr char upper[] = "BMP";
    for (int mask = 7; mask >= 0; --mask) {
        QString ending;
        for (int i = 0; i < 3; ++i)
            ending += QLatin1Char((mask & (4 >> i)) ? upper[i] : lower[i]);
        if (stem + ending != fileName)
            names << stem + ending;
    }
    return names;
}

// Decodes straight from the file, so that no copy of its bytes is held beside
// the old picture and the new one.
QImage decode(QFile &file, qint64 fileSize)
{
    if (std::optional<QImage> image = readPlainBmp(file, fileSize))
        return *image;
    QImageReader reader(&file);
    reader.setAllocationLimit(MaxDecodedPictureMegabytes);
    QImage image;
    if (!reader.read(&image))
        return {};
    // One conversion here saves one on every paint.
    const auto format = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_RGB32;
    if (image.format() != format)
        image.convertTo(format);
    return image;
}

} // namespace

QImage loadPicture(const QString &fileName)
{
    OpenedFile opened = openFrameFile(fileName);
    if (opened.error == ErrorNumber::FileNotFound) {
        for (const QString &other : otherEndingCases(fileName)) {
            opened = openFrameFile(other);
            if (opened.error != ErrorNumber::FileNotFound)
                break;
        }
    }
    if (opened.error != 0)
        throw RuntimeError(opened.error, fileName);
    QImage image = decode(*opened.file, opened.size);
    if (image.isNull())
        throw RuntimeError(ErrorNumber::InvalidPicture, fileName);
    return image;
}
