#include "frame_display.h"

#include <QStringView>

#include <array>

QString frameFileName(int stage)
{
    static constexpr std::array<QStringView, StageCount> names = {
        u"1.bmp",  u"2.bmp",  u"3.bmp",  u"4.bmp",  u"5.bmp",  u"6.bmp",  u"7.bmp",
        u"8.bmp",  u"9.bmp",  u"10.bmp", u"11.bmp", u"12.bmp", u"13.bmp", u"14.bmp",
        u"15.bmp", u"16.bmp", u"17.bmp", u"18.bmp", u"19.bmp", u"20.bmp", u"21.bmp",
        u"22.bmp", u"23.bmp", u"24.bmp", u"25.bmp", u"26.bmp", u"27.bmp", u"28.bmp",
        u"29.bmp", u"30.bmp", u"31.bmp", u"32.bmp", u"-1.bmp",
    };
    Q_ASSERT(stage >= 1 && stage <= StageCount);
    return names[std::size_t(stage - 1)].toString();
}

FrameDisplay::FrameDisplay(RuntimeServices &runtime, CommonDialog &fileNameHolder, ImageBox &image)
    : m_runtime(runtime), m_fileNameHolder(fileNameHolder), m_image(image)
{
}

void FrameDisplay::showFrame(int stage)
{
    m_fileNameHolder.setFileName(frameFileName(stage));
    m_image.setPicture(m_runtime.loadPicture(m_fileNameHolder.fileName()));
    m_image.setAccessibleName(stage == StageCount ? QStringLiteral("Последний кадр")
                                                  : QStringLiteral("Кадр %1").arg(stage));
}
