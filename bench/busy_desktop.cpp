// A busy X desktop for the ledge benchmark, and a watch of a pet's moves. Plain xcb, so that
// it costs the X server no more than the windows themselves.
//   busy_desktop windows N        N windows in the screen's upper part, the topmost moved to
//                                 and fro 30 times a second, until stopped
//   busy_desktop stacking N       _NET_CLIENT_LIST_STACKING on the root window written with N
//                                 ids of no window 10 times a second, until stopped
//   busy_desktop watch NAME SECS STEP
//                                 for SECS seconds, the moves of the window named NAME as the
//                                 window manager tells it, which should move every STEP ms;
//                                 prints "moves N step MS longest MS late N": the usual gap
//                                 between moves, the longest, and how many were longer than
//                                 STEP by over 60 ms
// Prints "ready" once its windows are up (windows) or it watches (watch).
#include <xcb/xcb.h>

#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

int Windows(xcb_connection_t* c, xcb_screen_t* screen, int count)
{
    // Placed where asked (a program-given position, WM_NORMAL_HINTS flag 4), not where the
    // window manager would put them; spread over the screen's upper part, the pets' floor
    // below them.
    const int width = 90, height = 50;
    const int across = std::max(1, screen->width_in_pixels - width - 20), down = std::max(1, screen->height_in_pixels / 2 - height);
    std::vector<xcb_window_t> windows;
    std::srand(7);
    const xcb_atom_t hints = Atom(c, "WM_NORMAL_HINTS"), sizeHints = Atom(c, "WM_SIZE_HINTS");
    for (int i = 0; i < count; ++i) {
        const xcb_window_t w = xcb_generate_id(c);
        const int x = 10 + std::rand() % across, y = 10 + std::rand() % down;
        const uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<int16_t>(x), static_cast<int16_t>(y), width, height,
                          0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        uint32_t normal[18] = {};
        normal[0] = 4;  // PPosition
        normal[1] = static_cast<uint32_t>(x);
        normal[2] = static_cast<uint32_t>(y);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, hints, sizeHints, 32, 18, normal);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 4, "busy");
        xcb_map_window(c, w);
        windows.push_back(w);
        // The window manager takes them in a few at a time.
        if (i % 50 == 49)
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::puts("ready");
    std::fflush(stdout);
    if (windows.empty())
        return 0;
    // The topmost, dragged round an ellipse as a person would, 30 moves a second, once round
    // in 10 s.
    const xcb_window_t dragged = windows.back();
    auto next = Clock::now();
    for (long step = 0;; ++step) {
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
        const double phase = static_cast<double>(step % 300) / 300.0 * 2 * std::numbers::pi;
        const uint32_t place[] = {static_cast<uint32_t>(100 + static_cast<int>(300 * (1 + std::sin(phase)))),
                                  static_cast<uint32_t>(150 + static_cast<int>(80 * std::cos(phase)))};
        xcb_configure_window(c, dragged, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
        xcb_flush(c);
        if (xcb_connection_has_error(c))
            return 1;
        // Events are not wanted; drop whatever comes.
        while (xcb_generic_event_t* event = xcb_poll_for_event(c))
            std::free(event);
    }
}

int Stacking(xcb_connection_t* c, xcb_screen_t* screen, int count)
{
    // Ids of this client's own range that it never makes a window of: ids of no window.
    std::vector<uint32_t> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back(xcb_generate_id(c));
    const xcb_atom_t stacking = Atom(c, "_NET_CLIENT_LIST_STACKING");
    std::puts("ready");
    std::fflush(stdout);
    auto next = Clock::now();
    for (;;) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, stacking, XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(ids.size()), ids.data());
        xcb_flush(c);
        if (xcb_connection_has_error(c))
            return 1;
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
}

std::string Name(xcb_connection_t* c, xcb_window_t w)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr),
        &std::free);
    if (!reply || reply->format != 8)
        return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

int Watch(xcb_connection_t* c, xcb_screen_t* screen, const std::string& name, double seconds, double every)
{
    const xcb_atom_t clients = Atom(c, "_NET_CLIENT_LIST");
    xcb_window_t pet = XCB_NONE;
    for (int tries = 0; pet == XCB_NONE && tries < 300; ++tries) {
        const Reply<xcb_get_property_reply_t> list(
            xcb_get_property_reply(c, xcb_get_property(c, 0, screen->root, clients, XCB_ATOM_WINDOW, 0, 4096), nullptr), &std::free);
        const int n = list ? xcb_get_property_value_length(list.get()) / 4 : 0;
        const auto* ids = list ? static_cast<const xcb_window_t*>(xcb_get_property_value(list.get())) : nullptr;
        for (int i = 0; i < n && pet == XCB_NONE; ++i) {
            if (Name(c, ids[i]) == name)
                pet = ids[i];
        }
        if (pet == XCB_NONE)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pet == XCB_NONE) {
        std::fprintf(stderr, "no window named %s\n", name.c_str());
        return 1;
    }
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, pet, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    std::puts("ready");
    std::fflush(stdout);
    // Each move of a managed window reaches it as a configure notice (the window manager's
    // own, with the place on the screen). A turn at a screen's side may show no move for a
    // step: the gap around a change of way is not counted.
    std::vector<double> gaps;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    Clock::time_point last{};
    int lastX = 0, lastY = 0, lastWay = 0;
    bool seen = false;
    const int fd = xcb_get_file_descriptor(c);
    while (Clock::now() < end) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (event == nullptr) {
            fd_set read;
            FD_ZERO(&read);
            FD_SET(fd, &read);
            timeval wait{0, 20000};
            select(fd + 1, &read, nullptr, nullptr, &wait);
            if (xcb_connection_has_error(c))
                return 1;
            continue;
        }
        const auto now = Clock::now();
        if ((event->response_type & 0x7F) == XCB_CONFIGURE_NOTIFY && (event->response_type & 0x80)) {
            const auto* notice = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (!seen || notice->x != lastX || notice->y != lastY) {
                const int way = notice->x > lastX ? 1 : notice->x < lastX ? -1 : 0;
                if (seen && (way == lastWay || lastWay == 0))
                    gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
                seen = true;
                last = now;
                lastWay = way;
                lastX = notice->x;
                lastY = notice->y;
            }
        }
        std::free(event);
    }
    if (gaps.empty()) {
        std::puts("moves 0 step 0 longest 0 late 0");
        return 0;
    }
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const auto late = std::count_if(sorted.begin(), sorted.end(), [every](double gap) { return gap - every > 60; });
    std::printf("moves %zu step %.1f longest %.1f late %ld\n", gaps.size() + 1, sorted[sorted.size() / 2], sorted.back(),
                static_cast<long>(late));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "windows" || mode == "stacking") && argc == 3) && !(mode == "watch" && argc == 5)) {
        std::fprintf(stderr, "usage: busy_desktop windows N | stacking N | watch NAME SECONDS STEP_MS\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (mode == "windows")
        return Windows(c, screen, std::atoi(argv[2]));
    if (mode == "stacking")
        return Stacking(c, screen, std::atoi(argv[2]));
    return Watch(c, screen, argv[2], std::atof(argv[3]), std::atof(argv[4]));
}
