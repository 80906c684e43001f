#include "frame_file.h"

#include "picture.h"
#include "runtime_error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

OpenedFile openFrameFile(const QString &fileName)
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
    return {std::move(file), 0, qint64(info.st_size)};
}
