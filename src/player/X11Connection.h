#pragma once

#include <QByteArray>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

// Qt's own connection to the X server, and the small things every request needs. Null
// without one (another platform, the offscreen one).
xcb_connection_t* X11Connection();

// A reply, freed as xcb wants.
template <typename Reply>
using TX11Reply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t X11Atom(xcb_connection_t* connection, const QByteArray& name);
xcb_window_t X11RootWindow(xcb_connection_t* connection);
// Whether the X server is XWayland, a Wayland compositor's X server.
bool X11IsXWayland(xcb_connection_t* connection);
// The window manager's name as it gives it (_NET_WM_NAME of its check window); empty when
// none says.
QByteArray X11WindowManagerName(xcb_connection_t* connection);
// Adds `events` to those this client hears from `window`, keeping the ones it heard.
void X11ListenTo(xcb_connection_t* connection, xcb_window_t window, uint32_t events);
// A window's property as 32-bit values, at most `most` of them; empty when it has none.
std::vector<uint32_t> X11Cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, uint32_t most);
// The same from a request sent before, so that many go out before any answer is awaited;
// none when the window is gone. `after` gets how many values there are past those.
std::optional<std::vector<uint32_t>> X11Cardinals(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                                  uint32_t most, uint32_t* after = nullptr);
