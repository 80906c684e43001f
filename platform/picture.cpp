#include "picture.h"

#include "runtime_error.h"

#include <QDir>
#include <QFile>
#include <QImageReader>

#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
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
#endif

#ifdef Q_OS_WIN
int errorNumberFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ErrorNumber::FileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return ErrorNumber::PermissionDenied;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder and with
// any ending ("CON.bmp"); they are never opened: a serial port or a printer is
// no place to wait on.
bool isReservedDeviceName(const QString &fileName)
{
    QString base = fileName.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    base = base.section(QLatin1Char('.'), 0, 0).section(QLatin1Char(':'), 0, 0).trimmed().toUpper();
    static const QStringList fixed = {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                      QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (fixed.contains(base))
        return true;
    return base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))
        && base[3] >= QLatin1Char('1') && base[3] <= QLatin1Char('9');
}

OpenedFile openRegularFile(const QString &fileName)
{
    if (isReservedDeviceName(fileName))
        return {nullptr, ErrorNumber::PathFileAccess};
    // Backup semantics: a folder opens too, and is then refused as one, rather
    // than failing as "access denied". Others may go on reading and writing the
    // file while it is read, as with any file opened by Qt.
    const std::wstring name = QDir::toNativeSeparators(fileName).toStdWString();
    HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {nullptr, errorNumberFor(::GetLastError())};
    // What was opened is what is checked, and what is read.
    BY_HANDLE_FILE_INFORMATION info{};
    int error = 0;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ErrorNumber::PathFileAccess;
    else if ((qint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow) > MaxPictureFileBytes)
        error = ErrorNumber::InvalidPicture;
    const int fd = error != 0 ? -1 : ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return {nullptr, error != 0 ? error : ErrorNumber::PathFileAccess};
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::_close(fd); // closes the handle too
        return {nullptr, ErrorNumber::PathFileAccess};
    }
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

// The usual frame, an uncompressed 24- or 32-bit BMP, is read here row by row
// straight into the picture, at several times the speed of Qt's general reader.
// nullopt: not such a file, Qt's reader takes it. A null image: a broken one.
std::optional<QImage> readPlainBmp(QFile &file, const BmpHeader &h)
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
    const int step = int(h.bitsPerPixel / 8);
    QByteArray row(rowBytes, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const uchar *>(row.constData());
    for (qint64 r = 0; r < rows; ++r) {
        if (file.read(row.data(), rowBytes) != rowBytes)
            return QImage();
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(int(h.height > 0 ? rows - 1 - r : r)));
        for (qint64 x = 0; x < h.width; ++x) {
            const uchar *p = in + x * step;
            out[x] = 0xff000000u | (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | p[0];
        }
    }
    return image;
}

// Decodes straight from the file, so that no copy of its bytes is held beside
// the old picture and the new one.
QImage decode(QFile &file)
{
    if (const auto header = bmpHeader(file.peek(64))) {
        if (isTruncated(*header, file.size()))
            return {};
        if (std::optional<QImage> image = readPlainBmp(file, *header))
            return *image;
    }
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
