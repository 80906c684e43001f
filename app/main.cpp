#include "form1.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // The program takes no arguments: Qt is handed the program's name alone.
    int qtArgc = argc > 0 ? 1 : 0;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    // On Wayland the window's icon comes from the installed desktop entry of this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVEK_APP_ID));
    // One style everywhere: the layout is fixed in pixels.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // The report and the menus too, not only the window, use the controls' font.
    QApplication::setFont(uiFont());
    QTranslator qtTexts;
    if (loadQtTexts(qtTexts))
        QCoreApplication::installTranslator(&qtTexts);

    RuntimeServices runtime;
    Form1 form(runtime);
    form.show();
    return QApplication::exec();
}
