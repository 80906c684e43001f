// The headless Wayland compositors the bench measures under (sway, GNOME's
// mutter and KDE's KWin), through the scripts the real-window tests run in.
#include "bench.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <map>

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
