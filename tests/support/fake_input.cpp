// kwin-fake-input: a keyboard for KDE's compositor, KWin, through its fake
// input protocol (org_kde_kwin_fake_input), the one KWin's own tests and remote
// input tools use: KWin takes its keys as a keyboard device of its seat's, and
// windows get them as they get a user's. KWin offers the protocol to programs
// that its desktop entries allow, or to any where it runs with
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1, as tests/desktops/with-kwin.sh runs it. Reads lines
// on standard input until it ends:
//   press CODE     the key of that Linux input code pressed
//   release CODE   and released
//   sync           answers "ok" once KWin has taken all before it
// Exits 1, saying why, where KWin offers no fake input.
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {
void announced(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    auto **input = static_cast<org_kde_kwin_fake_input **>(data);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        *input = static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}
void withdrawn(void *, wl_registry *, uint32_t) {}
const wl_registry_listener registryListener = {announced, withdrawn};
} // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kwin-fake-input: no Wayland display\n");
        return 1;
    }
    org_kde_kwin_fake_input *input = nullptr;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &input);
    wl_display_roundtrip(display);
    if (!input) {
        std::fprintf(stderr, "kwin-fake-input: the compositor offers no fake input (version 4) to this program\n");
        return 1;
    }
    // KWin asks nobody: it takes the device as soon as it is named.
    org_kde_kwin_fake_input_authenticate(input, "Tarvek's tests", "keys for the window under test");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string what;
        uint32_t code = 0;
        words >> what >> code;
        if (what == "press" || what == "release")
            org_kde_kwin_fake_input_keyboard_key(input, code, what == "press" ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                                              : WL_KEYBOARD_KEY_STATE_RELEASED);
        else if (what == "sync") {
            if (wl_display_roundtrip(display) < 0)
                return 1;
            std::cout << "ok" << std::endl;
        }
        if (wl_display_flush(display) < 0)
            return 1;
    }
    org_kde_kwin_fake_input_destroy(input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
