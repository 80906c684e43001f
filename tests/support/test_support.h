#pragma once

#include "form1.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

// The frame files in the order they play: the tests' own list, never the program's.
inline const QStringList FrameNames = {
    u"1.bmp"_s,  u"2.bmp"_s,  u"3.bmp"_s,  u"4.bmp"_s,  u"5.bmp"_s,  u"6.bmp"_s,  u"7.bmp"_s,
    u"8.bmp"_s,  u"9.bmp"_s,  u"10.bmp"_s, u"11.bmp"_s, u"12.bmp"_s, u"13.bmp"_s, u"14.bmp"_s,
    u"15.bmp"_s, u"16.bmp"_s, u"17.bmp"_s, u"18.bmp"_s, u"19.bmp"_s, u"20.bmp"_s, u"21.bmp"_s,
    u"22.bmp"_s, u"23.bmp"_s, u"24.bmp"_s, u"25.bmp"_s, u"26.bmp"_s, u"27.bmp"_s, u"28.bmp"_s,
    u"29.bmp"_s, u"30.bmp"_s, u"31.bmp"_s, u"32.bmp"_s, u"-1.bmp"_s};

// The colour of the frame of stage 1 ... 33 in generated folders; the closing frame is white.
inline QRgb frameColour(int stage)
{
    return stage == 33 ? qRgb(255, 255, 255) : qRgb(stage * 7, 255 - stage * 7, (stage * 37) % 256);
}

// Writes the 33 frame files, one colour each, into dir.
void writeFrames(const QDir &dir);

// A BMP file built byte by byte, for the variants QImage does not write.
// pixels are the rows as stored (bottom-up unless topDown), padding included.
QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression, const QByteArray &pixels,
                   const QList<QRgb> &palette = {}, bool topDown = false);

// A clock that only moves when a test moves it. Wake-ups come exactly on time,
// unless a handler has made time pass (passTime), as a slow picture load would.
class ManualTimerSource final : public TimerSource
{
public:
    Nanoseconds now() const override { return m_now; }
    void wakeAt(Nanoseconds deadline) override { m_deadline = deadline; }
    void cancel() override { m_deadline.reset(); }
    void advance(Nanoseconds step);
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
    void report(const RuntimeError &error, QWidget *window) override;

    Nanoseconds loadTime{0};
    QList<Report> reports;
};

// A shown Form1 on the manual clock, started in a temporary folder of frames.
struct WindowFixture
{
    WindowFixture();
    ~WindowFixture();
    void press(const QString &text); // types the text, then clicks «Пуск»
    void play(std::chrono::milliseconds duration); // in 1 ms steps, as the event loop would

    QTemporaryDir dir;
    TestRuntime runtime;
    std::optional<Form1> form;
};
