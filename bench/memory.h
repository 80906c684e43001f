#pragma once

// Resident memory of the program and of the bare player, each in a child process.
#include <QString>

struct Memory
{
    double peakMb = 0, growthKb = 0;
};

// The child: who is "program" or "reference"; plays runs at 1 ms in dir.
int memoryChild(const QString &who, const QString &dir, int runs);
Memory memoryOf(const QString &who, const QString &dir, int runs);
