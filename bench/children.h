#pragma once

// Starting and talking to the child processes that measure.
#include "bench.h"

#include <QProcess>

class Child
{
public:
    // This program again with args, in env; through wrapper (a script that
    // starts a compositor, with its arguments, say) when given.
    Child(const QStringList &args, const QProcessEnvironment &env, const QStringList &wrapper = {});
    ~Child();
    // Sends one request and returns the answer's line, split at separator.
    QList<QByteArray> ask(const QByteArray &request, int timeoutMs, char separator = ' ');
    // One run of the chain at interval ms.
    void run(int interval, ChainRuns &into);

private:
    QProcess m_process;
};

// The caller's environment with Qt's platform, and DISPLAY when given.
QProcessEnvironment platformEnvironment(const QString &platform, const QByteArray &display);
