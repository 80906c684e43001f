#pragma once

#include <QStringList>

// The files the controls' font may be loaded from, Liberation Sans 2 Regular,
// whose metrics the fixed layout is made for, best first: the copy built into
// the program, where the build embedded one (always on Windows, which has no
// Liberation fonts); elsewhere the system's copies of release 2.0 or later,
// found through fontconfig, newest first, since Debian 12's fonts-liberation
// holds the older 1.07, whose metrics differ. Empty when there is none. Each
// system has its own file.
QStringList uiFontFiles();
