#pragma once

// Linux only: the test and the benchmark watch from outside when a program,
// native or under Wine, opens each frame file.
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

// The frame files opened in a folder, in order, each with the time it was
// opened on this process's clock, read by a thread of its own as they come.
class FrameOpens
{
public:
    FrameOpens(const QString &folder, const QStringList &names) : m_names(names), m_fd(::inotify_init1(IN_CLOEXEC))
    {
        if (::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_OPEN) < 0 || ::pipe2(m_stop, O_CLOEXEC) != 0)
            qFatal("FrameOpens: cannot watch %s: %s", qPrintable(folder), std::strerror(errno));
        m_clock.start();
        m_reader = std::thread([this] { read(); });
    }
    ~FrameOpens()
    {
        [[maybe_unused]] const auto written = ::write(m_stop[1], "x", 1);
        m_reader.join();
        for (int fd : {m_fd, m_stop[0], m_stop[1]})
            ::close(fd);
    }
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_opens.clear();
    }
    qint64 now() const { return m_clock.nsecsElapsed(); } // ns, the opens' clock
    // The reading thread ahead of every ordinary one, where the system allows
    // it (as root), so that an open's time is not its own late wake-up on a
    // busy machine; false where it stays as it was.
    bool readAhead()
    {
        const sched_param first{sched_get_priority_min(SCHED_FIFO)};
        return ::pthread_setschedparam(m_reader.native_handle(), SCHED_FIFO, &first) == 0;
    }
    QList<std::pair<QString, qint64>> opens() // name, ns
    {
        const std::lock_guard lock(m_mutex);
        return m_opens;
    }

private:
    void read()
    {
        alignas(inotify_event) char buffer[4096];
        pollfd fds[] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) >= 0 && !(fds[1].revents & POLLIN)) {
            const qsizetype got = ::read(m_fd, buffer, sizeof buffer);
            const qint64 now = m_clock.nsecsElapsed();
            for (qsizetype at = 0; at + qsizetype(sizeof(inotify_event)) <= got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                const QString name = QFile::decodeName(event->len ? event->name : "");
                if (m_names.contains(name)) {
                    const std::lock_guard lock(m_mutex);
                    m_opens.append({name, now});
                }
                at += qsizetype(sizeof(inotify_event)) + event->len;
            }
        }
    }
    const QStringList m_names;
    int m_fd;
    int m_stop[2] = {-1, -1};
    QElapsedTimer m_clock;
    std::mutex m_mutex;
    QList<std::pair<QString, qint64>> m_opens;
    std::thread m_reader;
};
