#include "player/Desktop.h"

#include "player/PetMemory.h"
#include "player/Placement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QList<QRect> TDesktop::AreasFor(QSize size) const
{
    QList<QRect> areas = WorkAreas();
    const QList<QRect> screens = ScreenGeometries();
    for (qsizetype i = 0; i < areas.size() && i < screens.size(); ++i) {
        if (areas[i].width() < size.width() || areas[i].height() < size.height())
            areas[i] = screens[i];
    }
    return areas;
}

QPoint TDesktop::KeepOnScreens(QPoint position, QSize size) const { return ::KeepOnScreens(position, size, AreasFor(size)); }

bool TDesktop::Shows(const QRect& window) const
{
    const QList<QRect> areas = AreasFor(window.size());
    return std::any_of(areas.begin(), areas.end(), [&](const QRect& area) { return area.intersects(window); });
}

QPoint TDesktop::PlaceNew(QSize size, QPoint near, const QList<QRect>& avoid) const
{
    const QList<QRect> areas = AreasFor(size);
    if (areas.isEmpty())
        return near;  // no screen at all
    const qsizetype home = std::max<qsizetype>(0, WorkAreas().indexOf(WorkAreaAt(near)));
    const TSpot spot = FreeSpot(areas.value(home, areas.first()), size, avoid);
    if (spot.Free)
        return spot.At;
    for (qsizetype i = 0; i < areas.size(); ++i) {
        if (i == home)
            continue;
        if (const TSpot other = FreeSpot(areas[i], size, avoid); other.Free)
            return other.At;
    }
    return spot.At;
}

TScreensDesktop::TScreensDesktop()
{
    // Screens come and go, and change size, under a running Zuvora.
    const auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, &TDesktop::WorkAreasChanged);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen* screen) {
        watch(screen);
        emit WorkAreasChanged();
    });
    // The screen is still listed while it goes.
    connect(qApp, &QGuiApplication::screenRemoved, this, &TDesktop::WorkAreasChanged, Qt::QueuedConnection);
}

QList<QRect> TScreensDesktop::WorkAreas() const
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

QRect TScreensDesktop::WorkAreaAt(QPoint point) const
{
    const QScreen* screen = QGuiApplication::screenAt(point);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

QList<QRect> TScreensDesktop::ScreenGeometries() const
{
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->geometry());
    return screens;
}
