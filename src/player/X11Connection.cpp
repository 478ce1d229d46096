#include "player/X11Connection.h"

#include <QGuiApplication>

#include <algorithm>

#include <xcb/randr.h>

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

bool X11IsXWayland(xcb_connection_t* connection)
{
    // XWayland 23.1 and later say so with an extension of their own; the ones before name
    // their RandR outputs after themselves. Asked once: the server does not change.
    static const bool xwayland = [connection] {
        const TX11Reply<xcb_query_extension_reply_t> extension(
            xcb_query_extension_reply(connection, xcb_query_extension(connection, 8, "XWAYLAND"), nullptr), &std::free);
        if (extension && extension->present)
            return true;
        const TX11Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
            xcb_randr_get_screen_resources_current_reply(
                connection, xcb_randr_get_screen_resources_current(connection, X11RootWindow(connection)), nullptr),
            &std::free);
        if (!resources)
            return false;
        const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.get());
        const int count = std::min(xcb_randr_get_screen_resources_current_outputs_length(resources.get()), 64);
        for (int i = 0; i < count; ++i) {
            const TX11Reply<xcb_randr_get_output_info_reply_t> info(
                xcb_randr_get_output_info_reply(
                    connection, xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp), nullptr),
                &std::free);
            if (!info)
                continue;
            const QByteArray name(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                  xcb_randr_get_output_info_name_length(info.get()));
            if (name.startsWith("XWAYLAND"))
                return true;
        }
        return false;
    }();
    return xwayland;
}

QByteArray X11WindowManagerName(xcb_connection_t* connection)
{
    const std::vector<uint32_t> check =
        X11Cardinals(connection, X11RootWindow(connection), X11Atom(connection, "_NET_SUPPORTING_WM_CHECK"), 1);
    if (check.empty())
        return {};
    const TX11Reply<xcb_get_property_reply_t> name(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, check.front(), X11Atom(connection, "_NET_WM_NAME"),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                               nullptr),
        &std::free);
    if (!name || name->format != 8)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(name.get())), xcb_get_property_value_length(name.get()));
}

void X11ListenTo(xcb_connection_t* connection, xcb_window_t window, uint32_t events)
{
    // Each client has one event mask per window: setting it replaces what Qt asked for.
    // Another program's window may be gone by now: that is no error worth a line in the log.
    xcb_generic_error_t* error = nullptr;
    const TX11Reply<xcb_get_window_attributes_reply_t> now(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), &error), &std::free);
    std::free(error);
    if (!now)
        return;
    const uint32_t mask = now->your_event_mask | events;
    if (mask != now->your_event_mask)
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}

std::vector<uint32_t> X11Cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, uint32_t most)
{
    return X11Cardinals(connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, most), most)
        .value_or(std::vector<uint32_t>());
}

std::optional<std::vector<uint32_t>> X11Cardinals(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                                  uint32_t most, uint32_t* after)
{
    // Another program's window may be gone by now: that is no error worth a line in the log.
    xcb_generic_error_t* error = nullptr;
    const TX11Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &error), &std::free);
    std::free(error);
    if (!reply)
        return std::nullopt;
    if (after != nullptr)
        *after = reply->format == 32 ? reply->bytes_after / 4 : 0;
    if (reply->format != 32)
        return std::vector<uint32_t>();
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 4;
    return std::vector<uint32_t>(values, values + std::min<std::size_t>(count, most));
}
