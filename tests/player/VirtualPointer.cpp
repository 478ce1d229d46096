// Moves the headless seat's pointer for the Wayland tests, on an output of WIDTH x HEIGHT:
//   virtual_pointer WIDTH HEIGHT STEP...
// where a step is "X,Y" (move there), "down" or "up" (the left button), "rdown"/"rup" (the
// right one), or "wait:MS". A move to X,Y passes through 10 points on the way, as a hand does.
#include "wlr-virtual-pointer-unstable-v1-client.h"

#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <linux/input-event-codes.h>

namespace {

zwlr_virtual_pointer_manager_v1* gManager = nullptr;

void Global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        gManager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

uint32_t Now()
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return 1;
    static const wl_registry_listener listener{&Global, &GlobalRemove};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, nullptr);
    wl_display_roundtrip(display);
    if (gManager == nullptr) {
        std::fprintf(stderr, "virtual_pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    const auto width = static_cast<uint32_t>(std::atoi(argv[1]));
    const auto height = static_cast<uint32_t>(std::atoi(argv[2]));
    zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(gManager, nullptr);
    int x = 0;
    int y = 0;
    const auto moveTo = [&](int toX, int toY) {
        zwlr_virtual_pointer_v1_motion_absolute(pointer, Now(), static_cast<uint32_t>(toX), static_cast<uint32_t>(toY),
                                                width, height);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    const auto button = [&](uint32_t which, bool pressed) {
        zwlr_virtual_pointer_v1_button(pointer, Now(), which, pressed ? WL_POINTER_BUTTON_STATE_PRESSED
                                                                     : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    for (int i = 3; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "down" || step == "up") {
            button(BTN_LEFT, step == "down");
        } else if (step == "rdown" || step == "rup") {
            button(BTN_RIGHT, step == "rdown");
        } else if (step.rfind("wait:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(step.c_str() + 5)));
        } else if (const auto comma = step.find(','); comma != std::string::npos) {
            const int toX = std::atoi(step.c_str());
            const int toY = std::atoi(step.c_str() + comma + 1);
            for (int part = 1; part <= 10; ++part)
                moveTo(x + (toX - x) * part / 10, y + (toY - y) * part / 10);
            x = toX;
            y = toY;
        } else {
            return 2;
        }
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    zwlr_virtual_pointer_manager_v1_destroy(gManager);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
