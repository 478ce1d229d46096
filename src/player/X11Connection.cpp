#include "player/X11Connection.h"

#include <QGuiApplication>

xcb_connection_t* X11Connection()
{
    const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t X11Atom(xcb_connection_t* connection, const QByteArray& name)
{
    const TX11Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t X11RootWindow(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen != nullptr ? screen->root : XCB_NONE;
}

void X11ListenTo(xcb_connection_t* connection, xcb_window_t window, uint32_t events)
{
    // Each client has one event mask per window: setting it replaces what Qt asked for.
    const TX11Reply<xcb_get_window_attributes_reply_t> now(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr), &std::free);
    if (!now)
        return;
    const uint32_t mask = now->your_event_mask | events;
    if (mask != now->your_event_mask)
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}
