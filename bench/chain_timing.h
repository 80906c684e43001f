#pragma once

// The animation's timing: when each frame's tick comes and when its paint
// ends, against its due time, for the program and for the bare player.
#include "children.h"

#include <memory>

class Report;

// The child process that measures the program's window on one platform; it
// answers "run T" and "load W H COLD REPEATS". A still cursor does not blink.
int programChild(const QString &dir, bool stillCursor = false);

// A program child and a bare player child on one platform.
struct PlatformPair
{
    QString platform;
    std::unique_ptr<Child> program, reference;
};

// Plays interleaved rounds at 100, 16 and 1 ms on every pair and the wake-only
// chain, and reports lateness, paint ends and the closing frame's drift.
void measureTiming(Report &report, std::vector<PlatformPair> &pairs, bool quick);
