// wayland-pointer: a mouse for a headless wlroots compositor (sway), which has
// none, through the compositor's virtual pointer protocol: to the compositor
// it is one more pointer device of its seat, and windows get its motion and
// clicks as they get a user's. The benchmark clicks windows with it while
// they play. Reads lines on standard input until it ends:
//   move X Y   the pointer to X, Y of the screen (pixels)
//   click      the left button pressed and released
//   sync       answers "ok" once the compositor has taken all before it
//
//   wayland-pointer WIDTH HEIGHT     the screen's size in pixels
#include <wayland-client.h>

#include <linux/input-event-codes.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// The protocol's two interfaces, as its XML would have wayland-scanner make
// them. Requests go out by their index in the protocol, so every request
// before the last one used is listed, in the protocol's order.
const wl_interface *NoTypes[5] = {}; // the messages' types are not const in libwayland's struct
extern const wl_interface VirtualPointer;
const wl_interface *CreateTypes[] = {&wl_seat_interface, &VirtualPointer};
const wl_message PointerRequests[] = {
    {"motion", "uff", NoTypes},
    {"motion_absolute", "uuuuu", NoTypes},
    {"button", "uuu", NoTypes},
    {"axis", "uuf", NoTypes},
    {"frame", "", NoTypes},
    {"axis_source", "u", NoTypes},
    {"axis_stop", "uu", NoTypes},
    {"axis_discrete", "uufi", NoTypes},
    {"destroy", "", NoTypes},
};
enum PointerRequest { MotionAbsolute = 1, Button = 2, Frame = 4, Destroy = 8 };
const wl_message ManagerRequests[] = {
    {"create_virtual_pointer", "?on", CreateTypes},
    {"destroy", "", NoTypes},
};
const wl_interface VirtualPointer = {"zwlr_virtual_pointer_v1", 1, 9, PointerRequests, 0, nullptr};
const wl_interface Manager = {"zwlr_virtual_pointer_manager_v1", 1, 2, ManagerRequests, 0, nullptr};

uint32_t milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void announced(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, Manager.name) == 0)
        *static_cast<wl_proxy **>(data) = static_cast<wl_proxy *>(wl_registry_bind(registry, name, &Manager, 1));
}
void withdrawn(void *, wl_registry *, uint32_t) {}
const wl_registry_listener RegistryListener = {announced, withdrawn};

} // namespace

int main(int argc, char *argv[])
{
    const uint32_t width = argc == 3 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 0;
    const uint32_t height = argc == 3 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 0;
    if (width == 0 || height == 0) {
        std::fprintf(stderr, "usage: wayland-pointer WIDTH HEIGHT\n");
        return 2;
    }
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wayland-pointer: no Wayland compositor (WAYLAND_DISPLAY)\n");
        return 1;
    }
    wl_proxy *manager = nullptr;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &RegistryListener, &manager);
    wl_display_roundtrip(display);
    if (!manager) {
        std::fprintf(stderr, "wayland-pointer: the compositor has no virtual pointers (%s)\n", Manager.name);
        return 1;
    }
    // No seat named: the compositor's own.
    wl_proxy *pointer = wl_proxy_marshal_constructor(manager, 0, &VirtualPointer, nullptr, nullptr);
    wl_display_roundtrip(display);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            uint32_t x = 0, y = 0;
            if (!(words >> x >> y) || x >= width || y >= height) {
                std::fprintf(stderr, "wayland-pointer: not on the screen: %s\n", line.c_str());
                return 2;
            }
            wl_proxy_marshal(pointer, MotionAbsolute, milliseconds(), x, y, width, height);
            wl_proxy_marshal(pointer, Frame);
        } else if (command == "click") {
            for (const uint32_t state : {1u, 0u}) { // pressed, released
                wl_proxy_marshal(pointer, Button, milliseconds(), uint32_t(BTN_LEFT), state);
                wl_proxy_marshal(pointer, Frame);
            }
        } else if (command == "sync") {
            if (wl_display_roundtrip(display) < 0)
                break;
            std::cout << "ok" << std::endl;
            continue;
        } else {
            std::fprintf(stderr, "wayland-pointer: no such command: %s\n", line.c_str());
            return 2;
        }
        if (wl_display_flush(display) < 0)
            break;
    }
    wl_proxy_marshal(pointer, Destroy);
    wl_proxy_destroy(pointer);
    const int status = wl_display_roundtrip(display) < 0 ? 1 : 0;
    wl_display_disconnect(display);
    return status;
}
