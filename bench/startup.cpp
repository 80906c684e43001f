// Start-up: from fork to the moment the X server maps the window, for the
// program and a bare Qt window holding one label, started in turns.

#include "bench.h"

#include <QFile>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

std::vector<double> startupMs(const std::vector<QByteArray> &executables, const QByteArray &display,
                              const QString &framesDir, int repeats)
{
    std::vector<std::vector<double>> times(executables.size());
    xcb_connection_t *x = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(x) == 0) {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);
        for (int i = 0; i < (repeats + 1) * int(executables.size()); ++i) {
            const size_t which = size_t(i) % executables.size();
            const QByteArray &exe = executables[which];
            const double start = monotonicMs();
            const pid_t child = fork();
            if (child == 0) {
                setenv("DISPLAY", display.constData(), 1);
                setenv("QT_QPA_PLATFORM", "xcb", 1);
                if (chdir(QFile::encodeName(framesDir).constData()) != 0)
                    _exit(127);
                execl(exe.constData(), exe.constData(), nullptr);
                _exit(127);
            }
            double mappedAt = 0;
            while (xcb_generic_event_t *event = xcb_wait_for_event(x)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                free(event);
                if (mapped) {
                    mappedAt = monotonicMs();
                    break;
                }
            }
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
            if (i >= int(executables.size()) && mappedAt > 0) // the first starts fill the caches
                times[which].push_back(mappedAt - start);
        }
    }
    xcb_disconnect(x);
    std::vector<double> medians;
    for (const auto &t : times)
        medians.push_back(t.empty() ? -1 : median(t));
    return medians;
}

