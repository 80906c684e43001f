// Saves a screenshot of an X window as PNG; used by scripts/run when it plays
// the demo in a server of its own. With a picture file, first waits (up to
// TIMEOUT_MS) until the window's top-left corner shows exactly that picture.
// Usage: window_shot WINDOW_ID OUT.png [PICTURE TIMEOUT_MS]
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: window_shot WINDOW_ID OUT.png [PICTURE TIMEOUT_MS]\n");
        return 2;
    }
    const WId window = QByteArray(argv[1]).toULongLong(nullptr, 0);
    const auto grab = [window] {
        return QGuiApplication::primaryScreen()->grabWindow(window).toImage().convertToFormat(QImage::Format_RGB32);
    };
    QImage shot = grab();
    if (argc == 5) {
        const QImage wanted = QImage(QString::fromLocal8Bit(argv[3])).convertToFormat(QImage::Format_RGB32);
        QElapsedTimer waited;
        waited.start();
        while (shot.copy(wanted.rect()) != wanted) {
            if (wanted.isNull() || waited.elapsed() > QByteArray(argv[4]).toLongLong()) {
                std::fprintf(stderr, "window_shot: %s never showed up\n", argv[3]);
                return 1;
            }
            QThread::msleep(5);
            shot = grab();
        }
    }
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "window_shot: cannot grab window %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
