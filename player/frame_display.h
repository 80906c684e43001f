#pragma once

#include "runtime_services.h"

#include <QString>

inline constexpr int StageCount = 33;

// The file a stage shows: "1.bmp" ... "32.bmp" for stages 1 to 32, the closing
// frame "-1.bmp" for stage 33.
QString frameFileName(int stage);

// Puts a frame file into Image1: the name goes through CommonDialog1's FileName,
// the picture is read from disk there and then, and replaces the one shown.
class FrameDisplay
{
public:
    FrameDisplay(RuntimeServices &runtime, CommonDialog &fileNameHolder, ImageBox &image);

    // Shows the frame of a stage (1 ... 33) and names it for assistive
    // technology. Throws RuntimeError when the file cannot be read as a picture;
    // the picture on screen is then left as it was.
    void showFrame(int stage);

private:
    RuntimeServices &m_runtime;
    CommonDialog &m_fileNameHolder;
    ImageBox &m_image;
};
