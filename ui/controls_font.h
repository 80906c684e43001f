#pragma once

#include <QString>

// The file of the controls' font, Liberation Sans 2 Regular, whose metrics the
// fixed layout is made for: the copy built into the program, where the build
// embedded one (always on Windows, which has no Liberation fonts); elsewhere
// the system's, found through fontconfig, the newest of release 2.0 or later,
// since Debian 12's fonts-liberation holds the older 1.07, whose metrics
// differ. Empty when there is none. Each system has its own file.
QString uiFontFile();
