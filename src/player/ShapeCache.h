#pragma once

#include <QImage>
#include <QRegion>

#include <array>
#include <map>

class QRect;
class QSize;

// The pet window's shapes, one per frame rectangle and window size, kept: frames come back
// every few hundred milliseconds, and working out a shape costs far more than looking it up.
class TShapeCache {
public:
    // The most rectangles a frame's see-through part may take for the window to be shaped:
    // a finer pattern costs more to shape than it is worth, and more than the X server
    // takes in one request.
    static constexpr qsizetype kMaxShapeRects = 100000;

    // `clear`: the sheet's see-through pixels as a 1-bit image; null: none.
    explicit TShapeCache(QImage clear = {});

    // The shape of a window of `window` size showing `frame` of the sheet `scale` times its
    // size: the window less the frame's see-through pixels. An empty region: the window shows whole (no clear
    // pixels, an empty frame, or too fine a pattern). A frame see-through throughout gets a
    // shape lying outside the window, since an empty mask means no mask at all.
    QRegion Shape(const QRect& frame, const QSize& window, int scale = 1);

    // Rectangles kept. Up to a budget of about half the sheet's own size, so a damaged
    // manifest naming endless rectangles cannot grow the cache without bound; shapes past it
    // are worked out each time.
    qsizetype KeptRects() const { return keptRects_; }
    qsizetype Budget() const;

private:
    QImage clear_;
    std::map<std::array<int, 7>, QRegion> shapes_;
    qsizetype keptRects_ = 0;
};
