#pragma once

#include <QList>
#include <QRect>

// A stretch of a window's top edge that a pet may stand on: y is the row just above the
// window, where the pet's foot rests.
struct TLedge {
    int Y = 0;
    int Left = 0;   // first column
    int Right = 0;  // last column
    bool operator==(const TLedge&) const = default;
};

// At most this many ledges: a thousand windows can cut each other's edges into hundreds of
// thousands of slivers, of no use to a pet and costly to walk every frame.
inline constexpr int kMostLedges = 4096;

// The top edges of `windows` (their frames, bottom of the stack first) that no window above
// them covers: where a pet can stand on them. Window by window from the bottom of the stack,
// each one's pieces left to right. Past kMostLedges pieces, those of the rows nearest the
// screen's top are kept, and on one row those of the windows highest in the stack.
QList<TLedge> VisibleTops(const QList<QRect>& windows);
