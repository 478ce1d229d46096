#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <xcb/xcb.h>

// Tells whether the window the person works in (the window manager's active window) is a
// fullscreen one: a game or a video, which pets should not cover unless asked to. Follows
// the active window and its state from the X server's notices (no polling). Without an X11
// connection, or with a window manager that names no active window, it never is.
class TFullscreenWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TFullscreenWatch(QObject* parent = nullptr);
    ~TFullscreenWatch() override;

    bool Active() const { return active_; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Changed(bool active);

private:
    void Follow();

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_window_t window_ = XCB_NONE;  // the active window, whose state is followed
    xcb_atom_t activeAtom_ = XCB_ATOM_NONE, stateAtom_ = XCB_ATOM_NONE, fullscreenAtom_ = XCB_ATOM_NONE;
    bool active_ = false;
};

// The process's watch, made with the first pet window that asks.
TFullscreenWatch& FullscreenWatch();
