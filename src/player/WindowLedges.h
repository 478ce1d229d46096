#pragma once

#include "player/Roamer.h"
#include "player/WindowStack.h"

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

// The tops of the other programs' windows, as ledges roaming pets stand on (X11, and X
// windows under XWayland): read from the window manager's stacking list and each window's
// frame, skipping minimized windows, those on other desktops and Zuvora's own. What the X
// server tells of a change (no polling) is read again, and only that: a window's move brings
// its place, a new stacking list only the windows new to it; the requests of one reading go
// out together and cost one round trip.
class TWindowLedges : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TWindowLedges(QObject* parent = nullptr);
    ~TWindowLedges() override;

    const QList<TLedge>& Ledges() const { return ledges_; }
    struct TAtoms;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Changed();

private:
    void Read();
    void ReadRoot();
    void Listen(const std::vector<uint32_t>& windows);
    void ReadStale();
    void Soon();

    bool listening_ = false;
    std::unique_ptr<TAtoms> atoms_;
    TWindowStack stack_;
    bool orderStale_ = true;
    bool desktopStale_ = true;
    bool partsStale_ = false;  // some window has parts to read again
    QList<QRect> frames_;
    QList<TLedge> ledges_;
    QTimer readSoon_;  // many notices in a row make one reading
};

// The process's ledges, made with the first roaming pet.
TWindowLedges& WindowLedges();
