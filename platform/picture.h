#pragma once

#include <QImage>
#include <QString>

// Limits that keep a hostile file from exhausting memory: files above the first
// are not read, pictures that would decode to more than the second are refused.
inline constexpr qint64 MaxPictureFileBytes = 256LL * 1024 * 1024;
inline constexpr int MaxDecodedPictureMegabytes = 256;

// Reads the picture in a file, by its content whatever the name's ending: BMP in
// all its common variants, and every other format Qt reads. A relative name is
// resolved against the current directory at the moment of the call. Only a
// regular file is ever read, so a FIFO or a device cannot block the caller.
//
// When a name ending in ".bmp" is missing, a file whose name differs from it only
// in the case of that ending is taken instead ("7.BMP" for "7.bmp").
//
// Throws RuntimeError: FileNotFound, PermissionDenied, PathFileAccess (not a
// regular file, a link loop) or InvalidPicture (also for a read error).
QImage loadPicture(const QString &fileName);
