#pragma once

#include "form1.h"

#include <QDir>
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
