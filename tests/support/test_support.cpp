#include "test_support.h"

#include <algorithm>

void writeFrames(const QDir &dir)
{
    QImage frame(320, 200, QImage::Format_RGB32);
    for (int i = 0; i < 33; ++i) {
        frame.fill(FrameColours[i]);
        frame.save(dir.filePath(FrameNames[i]), "BMP");
    }
}

void ManualTimerSource::advance(Nanoseconds step)
{
    const Nanoseconds target = m_now + step;
    while (m_deadline && *m_deadline <= target) {
        m_now = std::max(m_now, *m_deadline);
        m_deadline.reset();
        wake();
    }
    m_now = std::max(m_now, target); // a handler may have made more time pass
}

void TestRuntime::report(const RuntimeError &error, QWidget *window)
{
    const bool anyEnabled = std::ranges::any_of(window->findChildren<RuntimeTimer *>(), &RuntimeTimer::isEnabled);
    reports.append({error.number(), error.fileName(), anyEnabled, window->findChild<QWidget *>(u"Command1"_s)->isEnabled()});
    clock().advance(2s); // the user takes a while to read it; nothing may tick meanwhile
}
