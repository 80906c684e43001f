#pragma once

// Loading and showing one frame, warm or with the file dropped from the page cache.
#include <QByteArray>
#include <QString>

#include <functional>

// Answers "load W H COLD REPEATS": writes a W × H frame as 1.bmp in a folder of
// its own under dir, shows it REPEATS times through show (which returns the
// time it took, in µs), dropping the file from the page cache before each
// when COLD is 1, and answers the median. Anything else: an empty answer.
QByteArray loadRequest(const QByteArray &request, const QString &dir, const std::function<double(const QString &)> &show);
