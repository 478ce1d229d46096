#include "player/FullscreenWatch.h"

#include "player/X11Connection.h"

#include <QGuiApplication>

#include <algorithm>

TFullscreenWatch::TFullscreenWatch(QObject* parent) : QObject(parent), connection_(X11Connection())
{
    if (connection_ == nullptr)
        return;
    root_ = X11RootWindow(connection_);
    activeAtom_ = X11Atom(connection_, "_NET_ACTIVE_WINDOW");
    stateAtom_ = X11Atom(connection_, "_NET_WM_STATE");
    fullscreenAtom_ = X11Atom(connection_, "_NET_WM_STATE_FULLSCREEN");
    X11ListenTo(connection_, root_, XCB_EVENT_MASK_PROPERTY_CHANGE);
    qGuiApp->installNativeEventFilter(this);
    Follow();
}

TFullscreenWatch::~TFullscreenWatch()
{
    if (connection_ != nullptr && qGuiApp != nullptr)
        qGuiApp->removeNativeEventFilter(this);
}

void TFullscreenWatch::Follow()
{
    const std::vector<uint32_t> named = X11Cardinals(connection_, root_, activeAtom_, 1);
    const xcb_window_t window = named.empty() ? XCB_NONE : named.front();
    // Another program's window: its state changes are heard only once asked for. A window
    // gone meanwhile answers with an error, which Qt's connection logs and drops.
    if (window != window_ && window != XCB_NONE)
        X11ListenTo(connection_, window, XCB_EVENT_MASK_PROPERTY_CHANGE);
    window_ = window;
    const std::vector<uint32_t> state =
        window == XCB_NONE ? std::vector<uint32_t>() : X11Cardinals(connection_, window, stateAtom_, 64);
    const bool active = std::find(state.begin(), state.end(), fullscreenAtom_) != state.end();
    if (active != active_) {
        active_ = active;
        emit Changed(active);
    }
}

bool TFullscreenWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notice = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if ((notice->window == root_ && notice->atom == activeAtom_) || (notice->window == window_ && notice->atom == stateAtom_))
        Follow();
    return false;
}

TFullscreenWatch& FullscreenWatch()
{
    static TFullscreenWatch watch;
    return watch;
}
