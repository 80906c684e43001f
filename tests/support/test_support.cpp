#include "test_support.h"

#include <QApplication>
#include <QDataStream>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void writeFrames(const QDir &dir)
{
    QImage frame(320, 200, QImage::Format_RGB32);
    for (int stage = 1; stage <= 33; ++stage) {
        frame.fill(frameColour(stage));
        frame.save(dir.filePath(FrameNames[stage - 1]), "BMP");
    }
}

QByteArray bmpFile(int width, int height, int bitsPerPixel, int compression, const QByteArray &pixels,
                   const QList<QRgb> &palette, bool topDown)
{
    const quint32 offset = quint32(14 + 40 + 4 * palette.size());
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("BM", 2);
    s << quint32(offset + quint32(pixels.size())) << quint32(0) << offset;
    s << quint32(40) << qint32(width) << qint32(topDown ? -height : height) << quint16(1)
      << quint16(bitsPerPixel) << quint32(compression) << quint32(pixels.size()) << qint32(3780)
      << qint32(3780) << quint32(palette.size()) << quint32(0);
    for (QRgb c : palette)
        s << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    s.writeRawData(pixels.constData(), int(pixels.size()));
    return out;
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
    bool anyEnabled = false;
    for (const RuntimeTimer *timer : window->findChildren<RuntimeTimer *>())
        anyEnabled = anyEnabled || timer->isEnabled();
    reports.append({error.number(), error.fileName(), anyEnabled, window->findChild<QWidget *>(u"Command1"_s)->isEnabled()});
    clock().advance(2s); // the user takes a while to read it; nothing may tick meanwhile
}

WindowFixture::WindowFixture()
{
    QApplication::setStyle(u"Fusion"_s);
    QDir::setCurrent(dir.path());
    writeFrames(QDir(dir.path()));
    form.emplace(runtime);
    form->show();
    if (!QTest::qWaitForWindowExposed(&*form))
        qFatal("the window was never shown");
}

WindowFixture::~WindowFixture()
{
    form.reset();
    QDir::setCurrent(QDir::tempPath());
}

void WindowFixture::press(const QString &text)
{
    form->text1().setText(text);
    QTest::mouseClick(&form->command1(), Qt::LeftButton);
}

void WindowFixture::play(std::chrono::milliseconds duration)
{
    for (auto ms = 0ms; ms < duration; ++ms)
        runtime.clock().advance(1ms);
}
