#pragma once

#include "form1.h"

#include <QAccessible>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

// A limit for a wait that ends on an event, in ms: generous, and scaled by
// TARVEK_TEST_TIME_SCALE on a slow or emulated machine. Never a speed asserted.
inline int testTime(int ms)
{
    const int scale = qEnvironmentVariableIntValue("TARVEK_TEST_TIME_SCALE");
    return ms * std::max(scale, 1);
}

// The frame files in the order they play: the tests' own list, never the program's.
inline const QStringList FrameNames = {
    u"1.bmp"_s,  u"2.bmp"_s,  u"3.bmp"_s,  u"4.bmp"_s,  u"5.bmp"_s,  u"6.bmp"_s,  u"7.bmp"_s,
    u"8.bmp"_s,  u"9.bmp"_s,  u"10.bmp"_s, u"11.bmp"_s, u"12.bmp"_s, u"13.bmp"_s, u"14.bmp"_s,
    u"15.bmp"_s, u"16.bmp"_s, u"17.bmp"_s, u"18.bmp"_s, u"19.bmp"_s, u"20.bmp"_s, u"21.bmp"_s,
    u"22.bmp"_s, u"23.bmp"_s, u"24.bmp"_s, u"25.bmp"_s, u"26.bmp"_s, u"27.bmp"_s, u"28.bmp"_s,
    u"29.bmp"_s, u"30.bmp"_s, u"31.bmp"_s, u"32.bmp"_s, u"-1.bmp"_s};

// The colours of the frames in generated folders, in the same order; the closing frame is white.
inline const QList<QRgb> FrameColours = [] {
    QList<QRgb> colours;
    for (int stage = 1; stage < 33; ++stage)
        colours << qRgb(stage * 7, 255 - stage * 7, (stage * 37) % 256);
    return colours << qRgb(255, 255, 255);
}();

// Writes the 33 frame files, one colour each, into dir.
inline void writeFrames(const QDir &dir)
{
    QImage frame(320, 200, QImage::Format_RGB32);
    for (int i = 0; i < 33; ++i) {
        frame.fill(FrameColours[i]);
        frame.save(dir.filePath(FrameNames[i]), "BMP");
    }
}

// A clock that only moves when a test moves it. Wake-ups come exactly on time,
// unless a handler has made time pass (passTime), as a slow picture load would.
class ManualTimerSource final : public TimerSource
{
public:
    Nanoseconds now() const override { return m_now; }
    void wakeAt(Nanoseconds deadline) override { m_deadline = deadline; }
    void cancel() override { m_deadline.reset(); }
    void advance(Nanoseconds step)
    {
        const Nanoseconds target = m_now + step;
        while (m_deadline && *m_deadline <= target) {
            m_now = std::max(m_now, *m_deadline);
            m_deadline.reset();
            wake();
        }
        m_now = std::max(m_now, target); // a handler may have made more time pass
    }
    void passTime(Nanoseconds step) { m_now += step; }
    bool armed() const { return m_deadline.has_value(); }

private:
    Nanoseconds m_now = 1s;
    std::optional<Nanoseconds> m_deadline;
};

// Runtime services on the manual clock; reports are recorded, not shown, and
// each picture load takes loadTime.
class TestRuntime final : public RuntimeServices
{
public:
    struct Report
    {
        int number;
        QString fileName;
        bool anyTimerEnabled, startEnabled; // at the moment of the report
    };
    TestRuntime() : RuntimeServices(std::make_unique<ManualTimerSource>()) {}
    ManualTimerSource &clock() { return static_cast<ManualTimerSource &>(timers().source()); }
    QImage loadPicture(const QString &fileName) override
    {
        clock().passTime(loadTime);
        return RuntimeServices::loadPicture(fileName);
    }
    void report(const RuntimeError &error, QWidget *window) override
    {
        const bool anyEnabled = std::ranges::any_of(window->findChildren<RuntimeTimer *>(), &RuntimeTimer::isEnabled);
        reports.append({error.number(), error.fileName(), anyEnabled, window->findChild<QWidget *>(u"Command1"_s)->isEnabled()});
        clock().advance(2s); // the user takes a while to read it; nothing may tick meanwhile
        QCoreApplication::processEvents(); // the window is painted behind the report, as a modal box lets it be
        if (whileShown)
            whileShown();
    }
    std::function<void()> whileShown; // what the user does while the report is on screen

    Nanoseconds loadTime{0};
    QList<Report> reports;
};

struct PaintCounter : QObject
{
    int &count;
    explicit PaintCounter(int &c, QObject *parent) : QObject(parent), count(c) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};
// Calls a function at each event of a type that the object it filters gets, before the object does.
struct OnEvent : QObject
{
    OnEvent(QEvent::Type t, std::function<void()> c) : type(t), call(std::move(c)) {}
    QEvent::Type type;
    std::function<void()> call;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == type)
            call();
        return false;
    }
};
// The window, shown on the manual clock in a temporary folder of frames; the
// tests' init() and cleanup() call show() and close(). Each run is recorded
// as it plays.
class FormFixture : public QObject
{
protected:
    void show()
    {
        QVERIFY(m_dir.emplace().isValid() && QDir::setCurrent(m_dir->path()));
        writeFrames(QDir(m_dir->path()));
        m_runtime.emplace();
        m_form.emplace(*m_runtime);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*m_form));
        form().image1().installEventFilter(new PaintCounter(m_paints, &form()));
        connect(&form().stageChain(), &StageChain::stageFinished, this, [this] {
            m_shown << form().image1().picture().pixel(0, 0);
            m_names << QAccessible::queryAccessibleInterface(&form().image1())->text(QAccessible::Name);
            m_shownAt << (runtime().timers().now() - m_pressedAt) / 1ms;
            m_oneTimerAtMost = m_oneTimerAtMost && std::ranges::count_if(form().findChildren<RuntimeTimer *>(), &RuntimeTimer::isEnabled) <= 1;
        });
    }
    void close()
    {
        m_form.reset();
        m_runtime.reset();
        QDir::setCurrent(QDir::tempPath()); // Windows removes no folder that is current
        m_dir.reset();
    }
    void press(const QString &text) // types the text, then clicks «Пуск»
    {
        m_shown.clear();
        m_names.clear();
        m_shownAt.clear();
        m_paints = 0;
        m_oneTimerAtMost = true;
        m_pressedAt = runtime().clock().now();
        form().text1().setText(text);
        QTest::mouseClick(&form().command1(), Qt::LeftButton);
    }
    void play(std::chrono::milliseconds duration) // in 1 ms steps, as the event loop would
    {
        for (auto ms = 0ms; ms < duration; ++ms)
            runtime().clock().advance(1ms);
    }
    Form1 &form() { return *m_form; }
    TestRuntime &runtime() { return *m_runtime; }

    std::optional<QTemporaryDir> m_dir;
    std::optional<TestRuntime> m_runtime;
    std::optional<Form1> m_form;
    // For each stage that ran to its end, in order: Image1's colour, its
    // accessible name and when the stage was due, in ms after the press.
    QList<QRgb> m_shown;
    QStringList m_names;
    QList<qint64> m_shownAt;
    int m_paints = 0;
    bool m_oneTimerAtMost = true;
    Nanoseconds m_pressedAt{};
};
