#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>

class QWindow;

// What the pet window asks of the X server beyond what Qt offers: whether a compositing
// manager runs (then a window's alpha channel is honoured), and the window's input shape
// (the part that takes the mouse). Without an X11 connection (another platform, the
// offscreen one) nothing runs and nothing is changed.

// True when the screen's compositing-manager selection (_NET_WM_CM_S<screen>) has an owner,
// or the X server is XWayland, whose Wayland compositor composites every window.
bool X11CompositorRunning();

// Sets the part of `window` that takes the mouse; an empty region gives it back its whole
// rectangle. Clicks elsewhere reach the window below.
void SetX11InputShape(QWindow* window, const QRegion& region);

// Tells when a compositing manager starts or stops, from the X server's own notice (no
// polling).
class TCompositorWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TCompositorWatch(QObject* parent = nullptr);
    ~TCompositorWatch() override;

    bool Running() const { return running_; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Changed(bool running);

private:
    bool running_ = false;
    quint8 firstXfixesEvent_ = 0;  // 0: no notice comes
    quint32 selection_ = 0;        // the compositing manager's selection atom
};

// The process's watch, made with the first pet window.
TCompositorWatch& CompositorWatch();
