#pragma once

// Start-up: from fork to the moment the X server maps the window.
#include <QByteArray>
#include <QString>

#include <vector>

// The median for each executable, started in turns so that all see the same
// machine; -1 where its window never came.
std::vector<double> startupMs(const std::vector<QByteArray> &executables, const QByteArray &display,
                              const QString &framesDir, int repeats);
