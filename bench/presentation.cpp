// When the compositor has each frame on its output: a frame callback asked
// for before each frame's commit, which the compositor answers once it has
// composed that content. (Headless sway 1.7 leaves presentation-time feedback
// requests unanswered; its frame callbacks come as soon as it has composed.)
#include "presentation.h"

#include "bench.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <unistd.h>


#ifdef TARVEK_BENCH_PRESENTATION
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <atomic>
#include <mutex>
#include <thread>

struct PresentationRecorder::Wayland
{
    wl_display *display = nullptr;
    wl_event_queue *queue = nullptr; // ours, apart from Qt's, read by a thread of ours
    wl_surface *surface = nullptr;   // Qt's surface, wrapped so that what it makes comes to our queue
    std::thread reader;
    std::atomic<bool> stop = false;
    std::mutex lock;
    std::vector<double> times; // per request, when the compositor answered; -2 while unanswered
    size_t collected = 0;
};

namespace {
using Wayland = PresentationRecorder::Wayland;
struct Request
{
    Wayland *wayland;
    size_t index;
};
const wl_callback_listener doneListener = {
    [](void *data, wl_callback *callback, uint32_t) {
        const double now = monotonicMs();
        auto *request = static_cast<Request *>(data);
        {
            const std::lock_guard guard(request->wayland->lock);
            request->wayland->times[request->index] = now;
        }
        wl_callback_destroy(callback);
        delete request;
    },
};
} // namespace

PresentationRecorder::PresentationRecorder(QWindow *window)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (QGuiApplication::platformName() != u"wayland" || !native || !window)
        return;
    auto *display = static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"));
    auto *surface = static_cast<wl_surface *>(native->nativeResourceForWindow("surface", window));
    if (!display || !surface)
        return;
    m_wayland = std::make_unique<Wayland>();
    m_wayland->display = display;
    m_wayland->queue = wl_display_create_queue(display);
    m_wayland->surface = static_cast<wl_surface *>(wl_proxy_create_wrapper(surface));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(m_wayland->surface), m_wayland->queue);
    m_wayland->reader = std::thread([w = m_wayland.get()] {
        while (!w->stop && wl_display_dispatch_queue(w->display, w->queue) >= 0) {
        }
    });
}

PresentationRecorder::~PresentationRecorder()
{
    if (!m_wayland)
        return;
    m_wayland->stop = true;
    // One last answer on our queue wakes the reader, which then sees it is to stop.
    auto *display = static_cast<wl_display *>(wl_proxy_create_wrapper(m_wayland->display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(display), m_wayland->queue);
    wl_callback *last = wl_display_sync(display);
    wl_display_flush(m_wayland->display);
    m_wayland->reader.join();
    wl_callback_destroy(last);
    wl_proxy_wrapper_destroy(display);
    wl_proxy_wrapper_destroy(m_wayland->surface);
    wl_event_queue_destroy(m_wayland->queue); // requests still unanswered are left to the connection's end
}

void PresentationRecorder::beforeFrame()
{
    if (!m_wayland)
        return;
    const std::lock_guard guard(m_wayland->lock);
    wl_callback_add_listener(wl_surface_frame(m_wayland->surface), &doneListener, new Request{m_wayland.get(), m_wayland->times.size()});
    m_wayland->times.push_back(-2);
}

std::vector<double> PresentationRecorder::collect()
{
    if (!m_wayland)
        return {};
    Wayland &w = *m_wayland;
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) { // a second at most
        {
            const std::lock_guard guard(w.lock);
            if (std::count(w.times.begin() + long(w.collected), w.times.end(), -2.0) == 0 || i == 99) {
                for (; w.collected < w.times.size(); ++w.collected)
                    times.push_back(w.times[w.collected] < 0 ? -1 : w.times[w.collected]);
                return times;
            }
        }
        usleep(10000);
    }
    return times;
}

bool PresentationRecorder::available() const
{
    return m_wayland != nullptr;
}
#else
struct PresentationRecorder::Wayland
{
};
PresentationRecorder::PresentationRecorder(QWindow *) {}
PresentationRecorder::~PresentationRecorder() = default;
void PresentationRecorder::beforeFrame() {}
std::vector<double> PresentationRecorder::collect() { return {}; }
bool PresentationRecorder::available() const { return false; }
#endif

std::vector<int> refreshesShown(const std::vector<double> &presentedMs, double refreshMs, double phaseMs)
{
    // The refresh at or after a moment: the first on which what came then is shown.
    const auto refreshAfter = [&](double ms) { return std::ceil((ms - phaseMs) / refreshMs); };
    std::vector<int> shown;
    for (size_t i = 0; i + 1 < presentedMs.size(); ++i)
        if (presentedMs[i] >= 0 && presentedMs[i + 1] >= 0)
            shown.push_back(int(refreshAfter(presentedMs[i + 1]) - refreshAfter(presentedMs[i])));
    return shown;
}

double exactJudder(const std::vector<double> &latenessMs, double refreshMs)
{
    double sum = 0;
    int pairs = 0;
    for (size_t i = 0; i + 1 < latenessMs.size(); ++i)
        if (latenessMs[i] >= 0 && latenessMs[i + 1] >= 0) {
            sum += std::min(std::abs(latenessMs[i + 1] - latenessMs[i]), refreshMs) / refreshMs;
            ++pairs;
        }
    return pairs ? sum / pairs : -1;
}
