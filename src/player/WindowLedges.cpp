#include "player/WindowLedges.h"

#include "player/X11Connection.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>

#include <unistd.h>

struct TWindowLedges::TAtoms {
    xcb_atom_t stacking, frame, gtkFrame, state, hidden, desktop, current, pid;
};

namespace {

using TAtoms = TWindowLedges::TAtoms;

bool IsOwn(xcb_connection_t* connection, xcb_window_t window, const TAtoms& atoms)
{
    const std::vector<uint32_t> pid = X11Cardinals(connection, window, atoms.pid, 1);
    return !pid.empty() && pid[0] == static_cast<uint32_t>(::getpid());
}

// The window's frame on the root window, as the person sees it; empty when it is not to be
// stood on.
QRect Frame(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, const TAtoms& atoms, uint32_t current)
{
    const std::vector<uint32_t> state = X11Cardinals(connection, window, atoms.state, 64);
    if (std::find(state.begin(), state.end(), atoms.hidden) != state.end())
        return {};
    const std::vector<uint32_t> desktop = X11Cardinals(connection, window, atoms.desktop, 1);
    if (!desktop.empty() && desktop[0] != 0xFFFFFFFFu && desktop[0] != current)
        return {};
    const TX11Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    const TX11Reply<xcb_translate_coordinates_reply_t> at(
        xcb_translate_coordinates_reply(connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr),
        &std::free);
    if (!geometry || !at)
        return {};
    QRect frame(at->dst_x, at->dst_y, geometry->width, geometry->height);
    // The window manager's frame around it, and less the shadows a window draws itself.
    if (const std::vector<uint32_t> e = X11Cardinals(connection, window, atoms.frame, 4); e.size() == 4)
        frame.adjust(-static_cast<int>(std::min(e[0], 4096u)), -static_cast<int>(std::min(e[2], 4096u)),
                     static_cast<int>(std::min(e[1], 4096u)), static_cast<int>(std::min(e[3], 4096u)));
    if (const std::vector<uint32_t> e = X11Cardinals(connection, window, atoms.gtkFrame, 4); e.size() == 4)
        frame.adjust(static_cast<int>(std::min(e[0], 4096u)), static_cast<int>(std::min(e[2], 4096u)),
                     -static_cast<int>(std::min(e[1], 4096u)), -static_cast<int>(std::min(e[3], 4096u)));
    return frame;
}

}  // namespace

TWindowLedges::TWindowLedges(QObject* parent) : QObject(parent)
{
    readSoon_.setSingleShot(true);
    readSoon_.setInterval(50);
    connect(&readSoon_, &QTimer::timeout, this, &TWindowLedges::Read);
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr)
        return;
    atoms_ = std::make_unique<TAtoms>(TAtoms{
        X11Atom(connection, "_NET_CLIENT_LIST_STACKING"), X11Atom(connection, "_NET_FRAME_EXTENTS"),
        X11Atom(connection, "_GTK_FRAME_EXTENTS"), X11Atom(connection, "_NET_WM_STATE"),
        X11Atom(connection, "_NET_WM_STATE_HIDDEN"), X11Atom(connection, "_NET_WM_DESKTOP"),
        X11Atom(connection, "_NET_CURRENT_DESKTOP"), X11Atom(connection, "_NET_WM_PID")});
    X11ListenTo(connection, X11RootWindow(connection), XCB_EVENT_MASK_PROPERTY_CHANGE);
    qGuiApp->installNativeEventFilter(this);
    listening_ = true;
    Read();
}

TWindowLedges::~TWindowLedges()
{
    if (listening_ && qGuiApp != nullptr)
        qGuiApp->removeNativeEventFilter(this);
}

void TWindowLedges::Read()
{
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || !atoms_)
        return;
    const xcb_window_t root = X11RootWindow(connection);
    const TAtoms& atoms = *atoms_;
    const std::vector<uint32_t> current = X11Cardinals(connection, root, atoms.current, 1);
    // A desktop holds a few hundred windows at the very most; the list is read that far.
    const std::vector<uint32_t> stack = X11Cardinals(connection, root, atoms.stacking, 1024);
    QList<QRect> frames;
    QList<quint32> others;
    for (const uint32_t window : stack) {
        // Pets move their windows every frame: Zuvora's own are neither floors nor heard.
        if (IsOwn(connection, window, atoms))
            continue;
        frames.append(Frame(connection, root, window, atoms, current.empty() ? 0 : current[0]));
        if (!windows_.contains(window))
            X11ListenTo(connection, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        others.append(window);
    }
    windows_ = others;
    xcb_flush(connection);
    const QList<TLedge> ledges = VisibleTops(frames);
    if (ledges != ledges_) {
        ledges_ = ledges;
        emit Changed();
    }
}

bool TWindowLedges::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    bool changed = false;
    switch (event->response_type & 0x7F) {
    case XCB_PROPERTY_NOTIFY: {
        const auto* notice = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        const TAtoms& a = *atoms_;
        changed = notice->atom == a.stacking || notice->atom == a.current ||
                  (windows_.contains(notice->window) &&
                   (notice->atom == a.state || notice->atom == a.desktop || notice->atom == a.frame || notice->atom == a.gtkFrame));
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
    case XCB_UNMAP_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_DESTROY_NOTIFY:
        // These four notices name the window that changed in the same place.
        changed = windows_.contains(reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window);
        break;
    default:
        break;
    }
    if (changed && !readSoon_.isActive())
        readSoon_.start();
    return false;
}

TWindowLedges& WindowLedges()
{
    static TWindowLedges ledges;
    return ledges;
}
