#include "player/Placement.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// Edges in 64 bits, right and bottom exclusive: a rectangle may stand anywhere in the int
// range, and a gap or a size added to its edges must not overflow.
struct TBox {
    qint64 Left, Top, Right, Bottom;
};

TBox Grown(const QRect& rect, qint64 gap)
{
    return {rect.left() - gap, rect.top() - gap, qint64{rect.right()} + 1 + gap, qint64{rect.bottom()} + 1 + gap};
}

qint64 Overlap(const TBox& a, const TBox& b)
{
    const qint64 width = std::min(a.Right, b.Right) - std::max(a.Left, b.Left);
    const qint64 height = std::min(a.Bottom, b.Bottom) - std::max(a.Top, b.Top);
    return width > 0 && height > 0 ? width * height : 0;
}

}  // namespace

TSpot FreeSpot(const QRect& area, QSize size, const QList<QRect>& avoid, int gap)
{
    if (area.isEmpty())
        return {area.topLeft(), false};
    const qint64 margin = std::clamp(gap, 0, 1 << 16);
    const qint64 width = std::max(size.width(), 1);
    const qint64 height = std::max(size.height(), 1);
    // The top-left corners that keep the window on the area.
    const qint64 left = area.left();
    const qint64 top = area.top();
    const qint64 maxX = std::max(left, qint64{area.right()} + 1 - width);
    const qint64 maxY = std::max(top, qint64{area.bottom()} + 1 - height);

    // The lowest free spot, leftmost in its row, rests on the area's edges or on the edges
    // of the grown rectangles: moved down or left by a pixel it would leave the area or
    // touch one. So those edges are the only places worth trying.
    std::vector<QRect> rects;
    std::vector<qint64> xs{left, maxX};
    std::vector<qint64> ys{top, maxY};
    for (const QRect& rect : avoid) {
        if (static_cast<int>(rects.size()) == kMaxAvoided)
            break;
        if (rect.isEmpty())
            continue;
        rects.push_back(rect);
        const TBox grown = Grown(rect, margin);
        xs.insert(xs.end(), {grown.Right, grown.Left - width});
        ys.insert(ys.end(), {grown.Bottom, grown.Top - height});
    }
    const auto tidy = [](std::vector<qint64>& values, qint64 low, qint64 high) {
        for (qint64& value : values)
            value = std::clamp(value, low, high);
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
    };
    tidy(xs, left, maxX);
    tidy(ys, top, maxY);

    constexpr qint64 kCoveredMax = qint64{1} << 62;
    TSpot best{area.topLeft(), false};
    qint64 leastCovered = std::numeric_limits<qint64>::max();
    for (auto y = ys.rbegin(); y != ys.rend(); ++y) {
        for (const qint64 x : xs) {
            const TBox window{x, *y, x + width, *y + height};
            bool free = true;
            qint64 covered = 0;
            for (const QRect& rect : rects) {
                if (Overlap(window, Grown(rect, margin)) > 0)
                    free = false;
                // Each overlap is at most the window's area, below 2^62; their sum saturates.
                covered = std::min(covered + Overlap(window, Grown(rect, 0)), kCoveredMax);
            }
            const QPoint at(static_cast<int>(x), static_cast<int>(*y));
            if (free)
                return {at, true};
            if (covered < leastCovered) {
                leastCovered = covered;
                best.At = at;
            }
        }
    }
    return best;
}

bool Clear(const QRect& place, const QList<QRect>& avoid, int gap)
{
    const qint64 margin = std::clamp(gap, 0, 1 << 16);
    const TBox box = Grown(place, 0);
    return std::none_of(avoid.begin(), avoid.end(),
                        [&](const QRect& rect) { return !rect.isEmpty() && Overlap(box, Grown(rect, margin)) > 0; });
}
