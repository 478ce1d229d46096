#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

// The desktop the pets live on: everything that decides where a pet may be asks it. The
// screens' work areas (each screen less its panels and docks) come from the platform; the
// rules over them (on a screen, clear of the other pets) are the same for every platform.
class TDesktop : public QObject {
    Q_OBJECT
public:
    // Every screen's work area.
    virtual QList<QRect> WorkAreas() const = 0;
    // The work area of the screen under `point`, else of the main screen; empty when there
    // is no screen at all.
    virtual QRect WorkAreaAt(QPoint point) const = 0;

    // Every screen's work area, or where one is too small for a window of `size` (a panel's
    // bad claim, a work area of nothing), the screen's whole geometry.
    QList<QRect> AreasFor(QSize size) const;
    // Where a window of `size` at `position` goes so that it lies wholly on a screen: where
    // it is when it does already, else the nearest place on the nearest screen.
    QPoint KeepOnScreens(QPoint position, QSize size) const;
    // Whether any part of `window` is on a screen.
    bool Shows(const QRect& window) const;
    // Where a new pet of `size` goes: the free spot nearest the bottom of the work area at
    // `near`, else of another, clear of every rectangle in `avoid`; with none free anywhere,
    // the spot of `near`'s work area that covers the least of them.
    QPoint PlaceNew(QSize size, QPoint near, const QList<QRect>& avoid) const;

signals:
    // Screens came, went, or changed their work areas.
    void WorkAreasChanged();

protected:
    // Every screen's whole geometry, in the order of WorkAreas(); by default the work areas.
    virtual QList<QRect> ScreenGeometries() const { return WorkAreas(); }
};

// The desktop as Qt's screens tell it: X11, and every platform that lets a window place
// itself.
class TScreensDesktop : public TDesktop {
    Q_OBJECT
public:
    TScreensDesktop();
    QList<QRect> WorkAreas() const override;
    QRect WorkAreaAt(QPoint point) const override;

protected:
    QList<QRect> ScreenGeometries() const override;
};
