#include "player/X11Shapes.h"

#include "player/X11Connection.h"

#include <QGuiApplication>
#include <QWindow>

#include <cstdlib>
#include <memory>
#include <vector>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

template <typename Reply>
using TReply = TX11Reply<Reply>;

// The compositing manager's selection for the screen Qt shows windows on.
xcb_atom_t CompositorSelection(xcb_connection_t* connection)
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const QByteArray screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1) : QByteArray("0");
    return X11Atom(connection, "_NET_WM_CM_S" + screen);
}

bool SelectionOwned(xcb_connection_t* connection, xcb_atom_t selection)
{
    const TReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr), &std::free);
    return reply && reply->owner != XCB_NONE;
}

}  // namespace

bool X11CompositorRunning()
{
    xcb_connection_t* connection = X11Connection();
    return connection != nullptr && (X11IsXWayland(connection) || SelectionOwned(connection, CompositorSelection(connection)));
}

void SetX11InputShape(QWindow* window, const QRegion& region)
{
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || window == nullptr)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    if (region.isEmpty()) {
        xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, id, 0, 0, XCB_NONE);
    } else {
        std::vector<xcb_rectangle_t> rectangles;
        rectangles.reserve(static_cast<std::size_t>(region.rectCount()));
        for (const QRect& rect : region) {
            rectangles.push_back({static_cast<int16_t>(rect.x()), static_cast<int16_t>(rect.y()),
                                  static_cast<uint16_t>(rect.width()), static_cast<uint16_t>(rect.height())});
        }
        xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0,
                             static_cast<uint32_t>(rectangles.size()), rectangles.data());
    }
    xcb_flush(connection);
}

TCompositorWatch::TCompositorWatch(QObject* parent) : QObject(parent)
{
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr)
        return;
    running_ = X11CompositorRunning();
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (xfixes == nullptr || !xfixes->present || X11IsXWayland(connection))
        return;
    // XFixes answers only clients that said which version they speak.
    std::free(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    selection_ = CompositorSelection(connection);
    xcb_xfixes_select_selection_input(connection, X11RootWindow(connection), selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(connection);
    firstXfixesEvent_ = xfixes->first_event;
    qGuiApp->installNativeEventFilter(this);
}

TCompositorWatch::~TCompositorWatch()
{
    if (firstXfixesEvent_ != 0 && qGuiApp != nullptr)
        qGuiApp->removeNativeEventFilter(this);
}

bool TCompositorWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != firstXfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto* notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    // Qt hears of the clipboard and the text selections the same way.
    if (notice->selection != selection_)
        return false;
    const bool running = notice->owner != XCB_NONE;
    if (running != running_) {
        running_ = running;
        emit Changed(running);
    }
    return false;
}

TCompositorWatch& CompositorWatch()
{
    static TCompositorWatch watch;
    return watch;
}
