#include "controls_font.h"

QStringList uiFontFiles()
{
    return {QStringLiteral(":/tarvek/ui-font.ttf")};
}
