#pragma once

// The Wayland compositors the children measure under.
#include <QString>
#include <QStringList>

// The compositors the on-screen part runs under, by name: "sway", "mutter", "kwin".
QStringList compositorNames();
// The command that runs a child inside a headless Wayland compositor of its
// own, named as above, as the real-window tests' are started; empty, with the
// reason in whyNot, where the compositor is not installed.
QStringList compositorWrapper(const QString &compositor, QString *whyNot);
