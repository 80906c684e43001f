#pragma once

// The desktops the real-window test runs the built program on, each used as a
// person would use it and read back from its screen, behind one interface:
// X11 with a window manager (tests/desktops/with-xvfb.sh), clicked and typed
// into with xdotool; sway (with-sway.sh), driven by keys with wtype and seen
// through grim; GNOME's mutter and KDE's KWin (with-mutter.sh, with-kwin.sh),
// driven by keys and seen through their own interfaces by a driver of their own
// (mutter_desktop.py, kwin_desktop.py), which reads the windows each holds from
// the requests it received.
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// A program's output, once it has ended.
inline QByteArray tool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

// A screen reader, announced on the session's accessibility bus before the
// program starts (tests/screen_reader.py): missing says why there is none
// here; failed, why it could not be announced.
struct ScreenReader
{
    QString missing, failed;
    static ScreenReader announce(const QString &reader)
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            return {u"no session bus: run under tests/desktops/with-xvfb.sh --bus"_s, {}};
        if (!QFile::exists(u"/usr/share/dbus-1/services/org.a11y.Bus.service"_s)
            || QProcess::execute(u"/usr/bin/python3"_s, {u"-c"_s, u"import pyatspi"_s}) != 0)
            return {u"no accessibility bus (at-spi2-core) or no python3-pyatspi"_s, {}};
        QProcess announce;
        announce.start(reader, {u"announce"_s});
        announce.waitForFinished(20000);
        const QByteArray said = announce.readAllStandardOutput() + announce.readAllStandardError();
        if (said.trimmed() == "announced")
            return {};
        return {{}, QString::fromUtf8(said.isEmpty() ? "the screen reader's announcement never ended" : said.trimmed())};
    }
};

class Desktop
{
public:
    virtual ~Desktop() = default;
    // Why the test is skipped here, or why it cannot run, if so.
    virtual QString skipped() { return {}; }
    virtual QString broken() { return {}; }
    // How many windows titled «Тарвек» are on screen.
    virtual int windows() = 0;
    // The size of the first one's client area.
    virtual QSize windowSize() = 0;
    // Which of them, counted from 1, has the keyboard; 0: none, or not told.
    virtual int focused() = 0;
    // The application id Tarvek's window was given, where the desktop tells it.
    virtual QString appId() { return {}; }
    // The screen's pixels in a rectangle of the first window's client area.
    virtual QImage grab(const QRect &area) = 0;
    // Each key pressed and released in turn, by its X name, "shift+"/"alt+" for one held.
    virtual void keys(const QStringList &names) = 0;
    // Types into the text box what it is to hold, when given, then presses
    // «Пуск»; calls pressing() right before «Пуск» is pressed.
    virtual void start(const QString &typed, const std::function<void()> &pressing) = 0;
    // Closes the first window, as its close button does.
    virtual void close() = 0;
    // What the desktop says of the close requests it sent, where it tells.
    virtual QString closeRequests() { return {}; }

protected:
    QPoint m_origin; // of the first window's client area on the screen
};

// X11, with a window manager: the window found and read by its id.
class X11Desktop final : public Desktop
{
public:
    int windows() override
    {
        m_ids = QString::fromUtf8(tool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Тарвек$"_s}))
                    .split(u'\n', Qt::SkipEmptyParts);
        return int(m_ids.size());
    }
    QString window() const { return m_ids.value(0); } // its id
    QSize windowSize() override { return grab({0, 0, -1, -1}).size(); }
    int focused() override
    {
        const QString active = QString::fromUtf8(tool(u"xdotool"_s, {u"getactivewindow"_s}).trimmed());
        return int(m_ids.indexOf(active)) + 1;
    }
    QImage grab(const QRect &area) override // the whole window for -1 x -1
    {
        return QGuiApplication::primaryScreen()->grabWindow(window().toULongLong(), area.x(), area.y(), area.width(), area.height()).toImage();
    }
    void keys(const QStringList &names) override { tool(u"xdotool"_s, QStringList{u"key"_s} + names); }
    void start(const QString &typed, const std::function<void()> &pressing) override
    {
        const auto click = [this](int x, int y) {
            tool(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, window(), QString::number(x), QString::number(y), u"click"_s, u"1"_s});
        };
        if (!typed.isEmpty()) {
            click(150, 289); // into the text box, replacing what it holds
            tool(u"xdotool"_s, {u"key"_s, u"ctrl+a"_s, u"type"_s, u"--delay"_s, u"30"_s, typed});
        }
        pressing();
        click(159, 228);
    }
    void close() override { tool(u"wmctrl"_s, {u"-i"_s, u"-c"_s, window()}); }

private:
    QStringList m_ids;
};

// Headless sway: its windows read from its tree, keys typed with wtype, the screen read with grim.
class SwayDesktop final : public Desktop
{
public:
    int windows() override
    {
        int found = 0;
        m_focused = 0;
        QList<QJsonObject> nodes = {QJsonDocument::fromJson(tool(u"swaymsg"_s, {u"-t"_s, u"get_tree"_s})).object()};
        while (!nodes.isEmpty()) {
            const QJsonObject node = nodes.takeFirst(), r = node[u"rect"_s].toObject();
            if (node[u"name"_s] == u"Тарвек"_s && node[u"visible"_s].toBool()) {
                if (++found == 1) {
                    m_origin = QPoint(r[u"x"_s].toInt(), r[u"y"_s].toInt());
                    m_size = QSize(r[u"width"_s].toInt(), r[u"height"_s].toInt());
                }
                m_appId = node[u"app_id"_s].toString();
                m_focused = node[u"focused"_s].toBool() ? found : m_focused;
            }
            for (const char *key : {"nodes", "floating_nodes"})
                for (const QJsonValue child : node[QLatin1String(key)].toArray())
                    nodes << child.toObject();
        }
        return found;
    }
    QSize windowSize() override { return windows() ? m_size : QSize(); }
    int focused() override { return windows() ? m_focused : 0; }
    QString appId() override { return m_appId; }
    QImage grab(const QRect &area) override
    {
        const QRect r = area.translated(m_origin);
        return QImage::fromData(tool(u"grim"_s, {u"-g"_s, u"%1,%2 %3x%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()), u"-"_s}), "PNG");
    }
    // Each wtype is a new keyboard; its first key waits until the window has taken it up.
    void keys(const QStringList &names) override
    {
        QStringList args{u"-s"_s, u"300"_s};
        for (const QString &name : names) {
            QStringList held = name.split(u'+');
            const QString key = held.takeLast();
            for (const QString &modifier : held)
                args << u"-M"_s << modifier;
            args << u"-k"_s << key;
            for (const QString &modifier : held)
                args << u"-m"_s << modifier;
        }
        tool(u"wtype"_s, args);
    }
    void start(const QString &typed, const std::function<void()> &pressing) override
    {
        // The focus is on «Пуск» at start-up and on the text box after a run.
        if (!typed.isEmpty())
            keys(QStringList{u"Tab"_s} + typed.split(QString(), Qt::SkipEmptyParts));
        keys({u"shift+Tab"_s});
        pressing();
        keys({u"space"_s});
    }
    void close() override { tool(u"swaymsg"_s, {u"[title=\"^Тарвек$\"]"_s, u"kill"_s}); }

private:
    QString m_appId;
    QSize m_size;
    int m_focused = 0;
};

// mutter or KWin, through their driver (tests/desktops/wayland_desktop.py
// says what it answers), the window found on the screen by its black start picture.
class DrivenDesktop final : public Desktop
{
public:
    DrivenDesktop(const QString &driver, const QStringList &args)
    {
        m_driver.start(driver, args);
        const QByteArray first = m_driver.waitForReadyRead(30000) && m_driver.canReadLine() ? m_driver.readLine().trimmed() : "";
        if (first.startsWith("skip "))
            m_skipped = QString::fromUtf8(first.mid(5));
        else if (!first.startsWith("ready "))
            m_broken = u"the desktop's driver said «%1»: "_s.arg(QString::fromUtf8(first)) + QString::fromUtf8(m_driver.readAllStandardError());
    }
    ~DrivenDesktop() override
    {
        m_driver.kill();
        m_driver.waitForFinished();
    }
    QString skipped() override { return m_skipped; }
    QString broken() override { return m_broken; }
    int windows() override
    {
        const QList<QByteArray> held = ask("toplevels").trimmed().split(' '); // count, id, focused
        m_appId = QString::fromUtf8(held.value(1));
        m_focused = held.value(2).toInt();
        if (held[0].toInt() > 0 && m_size.isEmpty()) { // its place on the screen, once it shows
            const QList<QByteArray> place = ask("window").trimmed().split(' ');
            if (place.size() != 4)
                return 0;
            m_origin = QPoint(place[0].toInt(), place[1].toInt());
            m_size = QSize(place[2].toInt(), place[3].toInt());
        }
        return held[0].toInt();
    }
    QSize windowSize() override { return m_size; }
    int focused() override { return windows() ? m_focused : 0; }
    QString appId() override { return m_appId; }
    QImage grab(const QRect &area) override
    {
        const QRect r = area.translated(m_origin);
        return QImage::fromData(ask(u"grab %1 %2 %3 %4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toLatin1()), "PPM");
    }
    void keys(const QStringList &names) override { ask("keys " + names.join(u' ').toLatin1()); }
    void start(const QString &typed, const std::function<void()> &pressing) override
    {
        // The focus is on «Пуск» at start-up and on the text box after a run.
        // What the box holds is erased, not selected: a selection would go to
        // the desktop's primary selection, which Qt 6.4 keeps past the end.
        if (!typed.isEmpty()) {
            const QStringList typing = m_ranOnce ? QStringList{u"End"_s} : QStringList{u"Tab"_s, u"End"_s};
            keys(typing + QStringList(8, u"BackSpace"_s) + typed.split(QString(), Qt::SkipEmptyParts));
        }
        keys({u"shift+Tab"_s});
        pressing();
        keys({u"space"_s});
        m_ranOnce = true;
    }
    void close() override { keys({u"alt+F4"_s}); } // GNOME's and KDE's key for closing a window
    QString closeRequests() override
    {
        return QString::fromLatin1(ask("closes").trimmed()) + u" close requests sent by the compositor"_s;
    }

private:
    // The driver's answer: its line, or for a grab the picture.
    QByteArray ask(const QByteArray &request)
    {
        m_driver.write(request + '\n');
        const auto await = [this](auto ready) {
            QElapsedTimer waited;
            waited.start();
            while (!ready() && waited.elapsed() < 10000)
                m_driver.waitForReadyRead(100);
        };
        await([this] { return m_driver.canReadLine(); });
        const QByteArray line = m_driver.readLine();
        if (!request.startsWith("grab "))
            return line;
        const qint64 size = line.trimmed().toLongLong();
        await([&] { return m_driver.bytesAvailable() >= size; });
        return m_driver.read(size);
    }

    QProcess m_driver;
    QString m_skipped, m_broken, m_appId;
    QSize m_size;
    bool m_ranOnce = false;
    int m_focused = 0;
};
