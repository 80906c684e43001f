// The bare Qt player on its own: the pace reference that tarvek-pace runs
// beside the program, T (ms) its first argument.
#include "bare_player.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BarePlayer player(argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100);
    player.show();
    return QApplication::exec();
}
