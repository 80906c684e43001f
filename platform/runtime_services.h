#pragma once

#include "common_dialog.h"
#include "conversion.h"
#include "image_box.h"
#include "picture.h"
#include "runtime_error.h"
#include "runtime_timer.h"

#include <memory>

class QWidget;

// What the program's handlers need of the runtime beyond its controls: the
// timers' clock, picture loading and the report of an unhandled error.
class RuntimeServices
{
public:
    explicit RuntimeServices(std::unique_ptr<TimerSource> source = makePreciseTimerSource());
    virtual ~RuntimeServices();
    RuntimeServices(const RuntimeServices &) = delete;
    RuntimeServices &operator=(const RuntimeServices &) = delete;

    TimerScheduler &timers() { return m_timers; }

    virtual QImage loadPicture(const QString &fileName) { return ::loadPicture(fileName); }
    // Shows the error in a modal message box titled with the window's caption and
    // returns when the user has dismissed it.
    virtual void report(const RuntimeError &error, QWidget *window);

private:
    TimerScheduler m_timers;
};

// The text of an error report: number, description and, if any, the file name.
QString reportText(const RuntimeError &error);

// Runs one statement in resume-next mode: a failure abandons just this statement,
// silently, and the caller goes on with the next one.
template <typename Statement>
void resumeNext(Statement &&statement)
{
    try {
        statement();
    } catch (const RuntimeError &) {
    }
}
