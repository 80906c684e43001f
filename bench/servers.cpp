// The display servers: an X server (the caller's, or an Xvfb of the bench's
// own) and headless Wayland compositors (sway, GNOME's mutter and KDE's KWin,
// through the scripts the real-window tests run in).
#include "servers.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

XServer::XServer()
{
    int fds[2];
    if (!display.isEmpty() || pipe(fds) != 0)
        return;
    xvfb = fork();
    if (xvfb == 0) {
        close(fds[0]);
        const QByteArray fd = QByteArray::number(fds[1]);
        // -noreset: a server that resets as its last client leaves turns away
        // whoever connects during the reset.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
               "-noreset", nullptr);
        _exit(127);
    }
    close(fds[1]);
    // Ended even when the bench gives up half-way, through exit().
    static pid_t started = 0;
    started = xvfb;
    std::atexit([] { kill(started, SIGTERM); });
    // Xvfb writes the number and then the line's end, and dies if the pipe is
    // closed in between: read to the end of the line.
    QByteArray number;
    char c = 0;
    for (ssize_t n; (n = read(fds[0], &c, 1)) != 0 && c != '\n';)
        if (n > 0)
            number += c;
        else if (errno != EINTR) // a signal may come first
            break;
    if (!number.isEmpty())
        display = ":" + number;
    close(fds[0]);
}

XServer::~XServer()
{
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
}

QStringList compositorNames()
{
    return {QStringLiteral("sway"), QStringLiteral("mutter"), QStringLiteral("kwin")};
}

QStringList compositorWrapper(const QString &compositor, QString *whyNot)
{
    // The desktops' sessions run without the protocol log (and mutter's
    // without PipeWire) that only the real-window tests need.
    struct Session
    {
        const char *script;
        QStringList tools;
        bool forTiming;
    };
    const std::map<QString, Session> sessions{
        {QStringLiteral("sway"), {TARVEK_WITH_SWAY, {QStringLiteral("sway"), QStringLiteral("swaymsg")}, false}},
        {QStringLiteral("mutter"), {TARVEK_WITH_MUTTER, {QStringLiteral("mutter"), QStringLiteral("dbus-daemon")}, true}},
        {QStringLiteral("kwin"), {TARVEK_WITH_KWIN, {QStringLiteral("kwin_wayland"), QStringLiteral("dbus-daemon")}, true}},
    };
    const auto found = sessions.find(compositor);
    if (found == sessions.end()) {
        *whyNot = QStringLiteral("no such compositor here (%1)").arg(compositorNames().join(QStringLiteral(", ")));
        return {};
    }
    for (const QString &tool : found->second.tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            *whyNot = QStringLiteral("%1 is not installed").arg(tool);
            return {};
        }
    }
    const QString script = QString::fromUtf8(found->second.script);
    if (!QFileInfo::exists(script)) {
        *whyNot = script + QStringLiteral(" is missing");
        return {};
    }
    return found->second.forTiming ? QStringList{script, QStringLiteral("--for-timing")} : QStringList{script};
}
