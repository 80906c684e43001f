#pragma once

// The display servers the children measure on.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// An X server: the one in DISPLAY, or an Xvfb of the bench's own, ended with it.
struct XServer
{
    XServer();
    ~XServer();
    QByteArray display = qgetenv("DISPLAY");
    pid_t xvfb = 0;
};

// The compositors the on-screen part runs under, by name: "sway", "mutter", "kwin".
QStringList compositorNames();
// The command that runs a child inside a headless Wayland compositor of its
// own, named as above, as the real-window tests' are started; empty, with the
// reason in whyNot, where the compositor is not installed.
QStringList compositorWrapper(const QString &compositor, QString *whyNot);
