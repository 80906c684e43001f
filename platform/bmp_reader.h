#pragma once

#include <QFile>
#include <QImage>

#include <optional>

// The usual frame, an uncompressed 24- or 32-bit BMP, read row by row straight
// into the picture, at several times the speed of Qt's general reader; and the
// check that a BMP of any kind is not cut short, which Qt's reader does not make.
//
// Returns the picture (Format_RGB32) for such a frame; a null image for a BMP
// that is cut short or would decode to more than MaxDecodedPictureMegabytes;
// nullopt for anything else, which Qt's readers are to take. Reads from the
// file's current position, which is the start; `fileSize` is the size found
// when the file was opened (asking the file again costs a system call or two).
std::optional<QImage> readPlainBmp(QFile &file, qint64 fileSize);
