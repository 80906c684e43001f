#include "frame_file.h"

#include "picture.h"
#include "runtime_error.h"

#include <QDir>
#include <QStringList>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

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

} // namespace

OpenedFile openFrameFile(const QString &fileName)
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
    // What was opened is what is checked, and what is read. The standard
    // information is one query of the file; GetFileInformationByHandle makes a
    // second, of the volume, for a serial number not needed here (under Wine
    // that one alone takes longer than the rest of the load).
    FILE_STANDARD_INFO info{};
    int error = 0;
    if (::GetFileType(handle) != FILE_TYPE_DISK
        || !::GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info) || info.Directory)
        error = ErrorNumber::PathFileAccess;
    else if (info.EndOfFile.QuadPart > MaxPictureFileBytes)
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
    return {std::move(file), 0, qint64(info.EndOfFile.QuadPart)};
}
