#pragma once

#include <QFile>
#include <QString>

#include <memory>

// A frame file opened for reading, with its size as found then, or the
// run-time error number that kept it from opening.
struct OpenedFile
{
    std::unique_ptr<QFile> file;
    int error = 0;
    qint64 size = 0;
};

// Opens a file for reading if it is a regular file of at most
// MaxPictureFileBytes; what was opened is what was checked, and what is read.
// Never waits: a FIFO, a device or a folder is refused (PathFileAccess), as a
// larger file is (InvalidPicture). A missing file or folder is FileNotFound, a
// file that may not be read PermissionDenied. Each system has its own file.
OpenedFile openFrameFile(const QString &fileName);
