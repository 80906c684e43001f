#include "controls_font.h"

QString uiFontFile()
{
    return QStringLiteral(":/tarvek/ui-font.ttf");
}
