// Saves a screenshot of an X window as PNG; used by scripts/run when it plays
// the demo in a server of its own. With a picture file, first waits (up to
// TIMEOUT_MS) until the window's top-left corner shows exactly that picture;
// with a reference shot and a box too, also until that box of the window shows
// what it showed in the reference (a button back in the look it had before).
// Usage: window_shot WINDOW_ID OUT.png [PICTURE TIMEOUT_MS [REFERENCE.png X,Y,W,H]]
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3 && argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: window_shot WINDOW_ID OUT.png [PICTURE TIMEOUT_MS [REFERENCE.png X,Y,W,H]]\n");
        return 2;
    }
    const WId window = QByteArray(argv[1]).toULongLong(nullptr, 0);
    const auto grab = [window] {
        return QGuiApplication::primaryScreen()->grabWindow(window).toImage().convertToFormat(QImage::Format_RGB32);
    };
    QImage shot = grab();
    if (argc >= 5) {
        const QImage wanted = QImage(QString::fromLocal8Bit(argv[3])).convertToFormat(QImage::Format_RGB32);
        QRect box;
        QImage reference;
        if (argc == 7) {
            const QList<QByteArray> edges = QByteArray(argv[6]).split(',');
            if (edges.size() == 4)
                box = QRect(edges[0].toInt(), edges[1].toInt(), edges[2].toInt(), edges[3].toInt());
            reference = QImage(QString::fromLocal8Bit(argv[5])).convertToFormat(QImage::Format_RGB32);
            if (box.isEmpty() || !reference.rect().contains(box)) {
                std::fprintf(stderr, "window_shot: no box %s in %s\n", argv[6], argv[5]);
                return 2;
            }
        }
        const auto shown = [&] {
            return shot.copy(wanted.rect()) == wanted && (box.isEmpty() || shot.copy(box) == reference.copy(box));
        };
        QElapsedTimer waited;
        waited.start();
        while (!shown()) {
            if (wanted.isNull() || waited.elapsed() > QByteArray(argv[4]).toLongLong()) {
                if (shot.copy(wanted.rect()) == wanted)
                    std::fprintf(stderr, "window_shot: box %s never looked as in %s\n", argv[6], argv[5]);
                else
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
