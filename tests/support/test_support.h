#pragma once

#include "runtime_services.h"

#include <QDir>
#include <QImage>
#include <QList>
#include <QWidget>

#include <optional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

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
        m_now = target;
    }
    void passTime(Nanoseconds step) { m_now += step; }
    bool armed() const { return m_deadline.has_value(); }

private:
    Nanoseconds m_now = 1s;
    std::optional<Nanoseconds> m_deadline;
};

// Runtime services on the manual clock; reports are recorded, not shown.
class TestRuntime final : public RuntimeServices
{
public:
    struct Report
    {
        int number;
        QString fileName;
        bool anyTimerEnabled; // at the moment of the report
        bool startEnabled;
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
        bool anyEnabled = false;
        for (const RuntimeTimer *timer : window->findChildren<RuntimeTimer *>())
            anyEnabled = anyEnabled || timer->isEnabled();
        const auto *start = window->findChild<QWidget *>(QStringLiteral("Command1"));
        reports.append({error.number(), error.fileName(), anyEnabled, start && start->isEnabled()});
        // The user takes a while to read it; nothing may tick meanwhile.
        clock().advance(2s);
    }

    Nanoseconds loadTime{0};
    QList<Report> reports;
};

// The colour of frame n in generated frame folders; the closing frame is white.
inline QRgb frameColour(int stage)
{
    return stage == 33 ? qRgb(255, 255, 255) : qRgb(stage * 7, 255 - stage * 7, (stage * 37) % 256);
}

// Writes "1.bmp" ... "32.bmp" and "-1.bmp" of one colour each into dir.
void writeFrames(const QDir &dir, QSize size = {320, 200});

// A BMP file built byte by byte, for the variants QImage does not write.
// pixels are the rows as stored (bottom-up unless topDown), padding included.
QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression,
                   const QByteArray &pixels, const QList<QRgb> &palette = {}, bool topDown = false);
