// Load and show one frame: the median time, warm or with the file dropped
// from the page cache first, for any child that can show a frame.

#include "bench.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

QByteArray loadRequest(const QByteArray &request, const QString &dir, const std::function<double(const QString &)> &show)
{
    int width = 0, height = 0, cold = 0, repeats = 0;
    if (std::sscanf(request.constData(), "load %d %d %d %d", &width, &height, &cold, &repeats) != 4)
        return {};
    const QString folder = QDir(dir).filePath(QStringLiteral("load-%1-%2").arg(width).arg(getpid()));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    const QString name = QStringLiteral("1.bmp");
    QImage frame(width, height, QImage::Format_RGB888);
    frame.fill(Qt::darkCyan);
    frame.save(name, "BMP");
    std::vector<double> times;
    for (int i = 0; i < repeats + 1; ++i) {
        if (cold) {
            const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
            fdatasync(fd);
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        QCoreApplication::processEvents(); // what the event loop does between two frames
        const double us = show(name);
        if (i > 0 || cold) // a warm series starts once the file is in the cache
            times.push_back(us);
    }
    QFile::remove(name);
    QDir::setCurrent(dir);
    return QByteArray::number(median(times), 'f', 1);
}
