#include "timer_source.h"

// Where the system has no timer of its own here that beats a precise QTimer.
std::unique_ptr<TimerSource> makePreciseTimerSource()
{
    return makeQtTimerSource();
}
