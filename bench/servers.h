#pragma once

// The display servers the children measure on.
#include <QByteArray>
#include <QString>

#include <sys/types.h>

// An X server: the one in DISPLAY, or an Xvfb of the bench's own, ended with it.
struct XServer
{
    XServer();
    ~XServer();
    QByteArray display = qgetenv("DISPLAY");
    pid_t xvfb = 0;
};

// The command that runs a child inside a headless Wayland compositor of its
// own, as the real-window test's is started; empty, with the reason in
// whyNot, where the compositor is not installed.
QString compositorWrapper(QString *whyNot);
