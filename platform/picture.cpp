#include "picture.h"

#include "runtime_error.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// An open regular file, or the run-time error number that kept it from opening.
struct OpenedFile
{
    std::unique_ptr<QFile> file;
    int error = 0;
};

#ifdef Q_OS_UNIX
int errorNumberFor(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return ErrorNumber::FileNotFound;
    case EACCES:
    case EPERM:
        return ErrorNumber::PermissionDenied;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

OpenedFile openRegularFile(const QString &fileName)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {nullptr, errorNumberFor(errno)};
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        error = ErrorNumber::PathFileAccess;
    else if (info.st_size > MaxPictureFileBytes)
        error = ErrorNumber::InvalidPicture;
    auto file = std::make_unique<QFile>();
    if (error != 0 || !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {nullptr, error != 0 ? error : ErrorNumber::PathFileAccess};
    }
    return {std::move(file), 0};
}
#else
OpenedFile openRegularFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return {nullptr, ErrorNumber::FileNotFound};
    if (!info.isFile())
        return {nullptr, ErrorNumber::PathFileAccess};
    if (info.size() > MaxPictureFileBytes)
        return {nullptr, ErrorNumber::InvalidPicture};
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly))
        return {nullptr, file->error() == QFileDevice::PermissionsError ? ErrorNumber::PermissionDenied
                                                                        : ErrorNumber::PathFileAccess};
    return {std::move(file), 0};
}
#endif

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

quint32 littleEndian(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

// Qt's reader fills the rows missing from a cut-off BMP with black and calls it
// a picture; such a file is a damaged one. Only uncompressed BMPs can be checked
// this way: the length of their pixel data follows from the header.
bool isTruncatedBmp(const QByteArray &bytes, qint64 fileSize)
{
    if (bytes.size() < 30 || !bytes.startsWith("BM"))
        return false;
    const quint32 headerSize = littleEndian(bytes, 14, 4);
    qint64 width, height, bitsPerPixel, compression = 0;
    if (headerSize == 12) {
        width = qint16(littleEndian(bytes, 18, 2));
        height = qint16(littleEndian(bytes, 20, 2));
        bitsPerPixel = littleEndian(bytes, 24, 2);
    } else if (headerSize >= 40 && bytes.size() >= 34) {
        width = qint32(littleEndian(bytes, 18, 4));
        height = qint32(littleEndian(bytes, 22, 4));
        bitsPerPixel = littleEndian(bytes, 28, 2);
        compression = littleEndian(bytes, 30, 4);
    } else {
        return false;
    }
    constexpr qint64 Rgb = 0, BitFields = 3, AlphaBitFields = 6;
    if (compression != Rgb && compression != BitFields && compression != AlphaBitFields)
        return false;
    const qint64 stride = (width * bitsPerPixel + 31) / 32 * 4;
    return qint64(littleEndian(bytes, 10, 4)) + stride * qAbs(height) > fileSize;
}

// Decodes straight from the file, so that no copy of its bytes is held beside
// the old picture and the new one.
QImage decode(QFile &file)
{
    if (isTruncatedBmp(file.peek(64), file.size()))
        return {};
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
    OpenedFile opened = openRegularFile(fileName);
    if (opened.error == ErrorNumber::FileNotFound) {
        for (const QString &other : otherEndingCases(fileName)) {
            opened = openRegularFile(other);
            if (opened.error != ErrorNumber::FileNotFound)
                break;
        }
    }
    if (opened.error != 0)
        throw RuntimeError(opened.error, fileName);
    QImage image = decode(*opened.file);
    if (image.isNull())
        throw RuntimeError(ErrorNumber::InvalidPicture, fileName);
    return image;
}
