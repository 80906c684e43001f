// When the compositor put each frame on its output. Where it offers the
// presentation-time protocol, a wp_presentation feedback is asked for before
// each frame's commit, and the compositor answers with the moment the frame
// turned to light on its clock, its refresh, the output's frame counter and
// how it knows, or says the frame was discarded. Where it does not (KWin's
// virtual backend; headless sway 1.7 offers it but leaves it unanswered), a
// frame callback is asked for instead, which the compositor answers once it
// has composed that content.
#include "presentation.h"

#include "bench.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <ctime>
#include <unistd.h>


#ifdef TARVEK_BENCH_PRESENTATION
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>
#include "presentation-time-client-protocol.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

struct PresentationRecorder::Wayland
{
    wl_display *display = nullptr;
    wl_event_queue *queue = nullptr; // ours, apart from Qt's, read by a thread of ours
    wl_surface *surface = nullptr;   // Qt's surface, wrapped so that what it makes comes to our queue
    wp_presentation *presentation = nullptr; // where the compositor offers it
    clockid_t clock = CLOCK_MONOTONIC;       // the presentation times' clock, as the compositor says
    std::atomic<bool> presentedAny = false; // whether the compositor ever said a frame was presented
    bool feedbackGivenUp = false;           // it never did, in a whole run: frame callbacks since
    std::thread reader;
    std::atomic<bool> stop = false;
    std::mutex lock;
    // Per frame: the feedback for the frame's own commit, and for the window's
    // commit after it, asked for where the compositor gives feedback; atMs -2
    // while unanswered.
    struct Slot
    {
        Presentation own{-2, false}, next{-2, false};
    };
    std::vector<Slot> frames;
    size_t collected = 0;
};

namespace {
using Wayland = PresentationRecorder::Wayland;
struct Request
{
    Wayland *wayland;
    size_t frame;
    bool next; // for the commit after the frame's
};

void answered(Request *request, double atMs, bool discarded)
{
    {
        const std::lock_guard guard(request->wayland->lock);
        Wayland::Slot &slot = request->wayland->frames[request->frame];
        (request->next ? slot.next : slot.own) = {atMs, discarded};
    }
    delete request;
}

const wl_callback_listener doneListener = {
    [](void *data, wl_callback *callback, uint32_t) {
        const double now = monotonicMs();
        wl_callback_destroy(callback);
        answered(static_cast<Request *>(data), now, false);
    },
};

// A time on the compositor's clock as a time on CLOCK_MONOTONIC, in ms.
double onMonotonic(clockid_t clock, double ms)
{
    if (clock == CLOCK_MONOTONIC)
        return ms;
    timespec theirs{}, ours{};
    clock_gettime(clock, &theirs);
    clock_gettime(CLOCK_MONOTONIC, &ours);
    return ms - (double(theirs.tv_sec) * 1e3 + double(theirs.tv_nsec) / 1e6) + monotonicMs();
}

// "struct": the feedback request has the type's name.
const wp_presentation_feedback_listener feedbackListener = {
    .sync_output = [](void *, struct wp_presentation_feedback *, wl_output *) {},
    .presented = [](void *data, struct wp_presentation_feedback *feedback, uint32_t secondsHigh, uint32_t secondsLow,
                    uint32_t nanoseconds, uint32_t, uint32_t, uint32_t, uint32_t) {
        auto *request = static_cast<Request *>(data);
        Wayland &w = *request->wayland;
        const double seconds = double((uint64_t(secondsHigh) << 32) | secondsLow);
        const double atMs = onMonotonic(w.clock, seconds * 1e3 + double(nanoseconds) / 1e6);
        w.presentedAny = true;
        wp_presentation_feedback_destroy(feedback);
        answered(request, atMs, false);
    },
    .discarded = [](void *data, struct wp_presentation_feedback *feedback) {
        auto *request = static_cast<Request *>(data);
        wp_presentation_feedback_destroy(feedback);
        answered(request, -1, true);
    },
};

const wp_presentation_listener presentationListener = {
    .clock_id = [](void *data, wp_presentation *, uint32_t clock) {
        static_cast<Wayland *>(data)->clock = clockid_t(clock);
    },
};

const wl_registry_listener registryListener = {
    .global = [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
        auto *w = static_cast<Wayland *>(data);
        if (std::strcmp(interface, wp_presentation_interface.name) == 0 && !w->presentation) {
            w->presentation = static_cast<wp_presentation *>(wl_registry_bind(registry, name, &wp_presentation_interface, 1));
            wp_presentation_add_listener(w->presentation, &presentationListener, w);
        }
    },
    .global_remove = [](void *, wl_registry *, uint32_t) {},
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
    Wayland &w = *m_wayland;
    w.display = display;
    w.queue = wl_display_create_queue(display);
    w.surface = static_cast<wl_surface *>(wl_proxy_create_wrapper(surface));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(w.surface), w.queue);
    {
        // The globals, then what the presentation global says of its clock.
        auto *ourDisplay = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(ourDisplay), w.queue);
        wl_registry *registry = wl_display_get_registry(ourDisplay);
        wl_registry_add_listener(registry, &registryListener, &w);
        wl_display_roundtrip_queue(display, w.queue);
        wl_display_roundtrip_queue(display, w.queue);
        wl_registry_destroy(registry);
        wl_proxy_wrapper_destroy(ourDisplay);
    }
    w.reader = std::thread([&w] {
        while (!w.stop && wl_display_dispatch_queue(w.display, w.queue) >= 0) {
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
    if (m_wayland->presentation)
        wp_presentation_destroy(m_wayland->presentation);
    wl_proxy_wrapper_destroy(m_wayland->surface);
    wl_event_queue_destroy(m_wayland->queue); // requests still unanswered are left to the connection's end
}

void PresentationRecorder::beforeFrame()
{
    if (!m_wayland)
        return;
    Wayland &w = *m_wayland;
    const std::lock_guard guard(w.lock);
    auto *request = new Request{&w, w.frames.size(), false};
    if (w.presentation && !w.feedbackGivenUp)
        wp_presentation_feedback_add_listener(wp_presentation_feedback(w.presentation, w.surface), &feedbackListener, request);
    else
        wl_callback_add_listener(wl_surface_frame(w.surface), &doneListener, request);
    w.frames.emplace_back();
}

void PresentationRecorder::afterFrame()
{
    if (!m_wayland)
        return;
    Wayland &w = *m_wayland;
    const std::lock_guard guard(w.lock);
    if (w.frames.empty() || !w.presentation || w.feedbackGivenUp)
        return;
    wp_presentation_feedback_add_listener(wp_presentation_feedback(w.presentation, w.surface), &feedbackListener,
                                          new Request{&w, w.frames.size() - 1, true});
}

std::vector<PresentationRecorder::Presentation> PresentationRecorder::collect()
{
    if (!m_wayland)
        return {};
    Wayland &w = *m_wayland;
    std::vector<Presentation> times;
    const auto unanswered = [](const Presentation &p) { return p.atMs == -2 && !p.discarded; };
    // A frame whose commit the compositor discarded, because another commit
    // of the window replaced it before it was shown (the text box's cursor,
    // say), was shown with the commit after it, which holds its pixels too.
    const auto waiting = [&](const Wayland::Slot &slot) {
        return unanswered(slot.own) || (slot.own.discarded && unanswered(slot.next));
    };
    for (int i = 0; i < 100; ++i) { // a second at most
        {
            const std::lock_guard guard(w.lock);
            if (std::none_of(w.frames.begin() + long(w.collected), w.frames.end(), waiting) || i == 99) {
                // A compositor that offers the protocol and presents none of a
                // run's frames (headless sway 1.7, which speaks only of those
                // another commit replaced) is asked for frame callbacks from
                // the next run on.
                w.feedbackGivenUp = w.feedbackGivenUp || (w.presentation && !w.presentedAny && i == 99);
                for (; w.collected < w.frames.size(); ++w.collected) {
                    const Wayland::Slot &slot = w.frames[w.collected];
                    if (unanswered(slot.own))
                        times.push_back({});
                    else if (!slot.own.discarded)
                        times.push_back(slot.own);
                    else if (!slot.next.discarded && !unanswered(slot.next))
                        times.push_back({slot.next.atMs, false, true});
                    else
                        times.push_back({-1, true});
                }
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

QByteArray PresentationRecorder::source() const
{
    if (!m_wayland)
        return "none";
    Wayland &w = *m_wayland;
    if (!w.presentation)
        return "frame-callbacks";
    const std::lock_guard guard(w.lock);
    if (w.feedbackGivenUp)
        return "frame-callbacks unpresented-wp_presentation";
    return "wp_presentation " + QByteArray::number(w.clock);
}
#else
struct PresentationRecorder::Wayland
{
};
PresentationRecorder::PresentationRecorder(QWindow *) {}
PresentationRecorder::~PresentationRecorder() = default;
void PresentationRecorder::beforeFrame() {}
void PresentationRecorder::afterFrame() {}
std::vector<PresentationRecorder::Presentation> PresentationRecorder::collect() { return {}; }
bool PresentationRecorder::available() const { return false; }
QByteArray PresentationRecorder::source() const { return "none"; }
#endif

std::vector<double> latenessUs(const std::vector<PresentationRecorder::Presentation> &presented, const std::vector<double> &dueMs)
{
    std::vector<double> lateness;
    for (const PresentationRecorder::Presentation &p : presented) {
        const size_t frame = lateness.size();
        lateness.push_back(frame >= dueMs.size() ? -1 : p.discarded ? -2 : p.atMs < 0 ? -1 : (p.atMs - dueMs[frame]) * 1e3);
    }
    return lateness;
}

std::vector<double> supersededFlags(const std::vector<PresentationRecorder::Presentation> &presented)
{
    std::vector<double> flags;
    for (const PresentationRecorder::Presentation &p : presented)
        flags.push_back(p.superseded ? 1 : 0);
    return flags;
}
