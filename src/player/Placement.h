#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Pixels kept clear between a new pet and whatever it must not stand on.
inline constexpr int kPlacementGap = 8;
// Rectangles past this many are not looked at: the pets (at most 32) and the program's few
// windows stay well below it, and the search's work grows with its cube.
inline constexpr int kMaxAvoided = 64;

// A place for a window, and whether it is clear of everything it was to avoid.
struct TSpot {
    QPoint At;
    bool Free = false;
};

// Where a window of `size` goes on `area`: the free spot nearest the area's bottom (where a
// roaming pet lives), the leftmost of its row, `gap` pixels clear of every rectangle in
// `avoid`; with none free, the spot that covers the least of them. Always wholly on the area
// as far as the size allows: a window larger than the area keeps its top left corner on it.
TSpot FreeSpot(const QRect& area, QSize size, const QList<QRect>& avoid, int gap = kPlacementGap);

// Whether `place` stays `gap` pixels clear of every rectangle in `avoid`.
bool Clear(const QRect& place, const QList<QRect>& avoid, int gap = kPlacementGap);
