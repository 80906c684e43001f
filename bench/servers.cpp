// The display servers: an X server (the caller's, or an Xvfb of the bench's
// own) and a headless Wayland compositor (sway, through the script the
// real-window test runs in).
#include "servers.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdlib>
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

QString compositorWrapper(QString *whyNot)
{
    const QString script = QStringLiteral(TARVEK_WITH_SWAY);
    for (const char *tool : {"sway", "swaymsg", "grim", "wtype"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            *whyNot = QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
            return {};
        }
    }
    if (!QFileInfo::exists(script)) {
        *whyNot = script + QStringLiteral(" is missing");
        return {};
    }
    return script;
}
