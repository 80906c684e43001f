// The start-up reference for tarvek-bench: the least a Qt program with a
// window of text does, a 320 x 309 window holding one label.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(320, 309);
    QLabel label(QStringLiteral("Скорость прокрутки кадров:"), &window);
    label.move(83, 256);
    window.show();
    return QApplication::exec();
}
