#pragma once

#include "player/Roamer.h"

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

// The tops of the other programs' windows, as ledges roaming pets stand on (X11, and X
// windows under XWayland): read from the window manager's stacking list and each window's
// frame, skipping minimized windows, those on other desktops and Zuvora's own. Read again
// when the list or a window changes, as the X server tells (no polling).
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

    bool listening_ = false;
    std::unique_ptr<TAtoms> atoms_;
    QList<TLedge> ledges_;
    QList<quint32> windows_;  // the ones whose moves are heard
    QTimer readSoon_;         // many notices in a row make one reading
};

// The process's ledges, made with the first roaming pet.
TWindowLedges& WindowLedges();
