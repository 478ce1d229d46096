#include "player/Cascade.h"

#include <algorithm>

QPoint CascadePosition(QPoint last, QSize size, const QRect& screen, const QList<QPoint>& taken, int step)
{
    step = std::max(1, step);
    // In 64 bits: the last pet may stand anywhere in the int range.
    const qint64 left = screen.left();
    const qint64 top = screen.top();
    // The top-left corners that keep the pet wholly on the screen.
    const qint64 maxX = std::max(left, qint64{screen.right()} + 1 - size.width());
    const qint64 maxY = std::max(top, qint64{screen.bottom()} + 1 - size.height());
    const auto onScreen = [&](qint64 x, qint64 y) { return x >= left && x <= maxX && y >= top && y <= maxY; };
    const qint64 columns = std::max<qint64>(1, (maxX - left) / step + 1);

    qint64 x = last.x();
    qint64 y = last.y();
    int wraps = 0;
    // Every candidate is a new place until the wraps have tried every column, which takes
    // far more than the few pets `taken` can name.
    for (int tries = 0; tries < 4096; ++tries) {
        x += step;
        y += step;
        if (!onScreen(x, y)) {
            ++wraps;
            x = std::min(left + (wraps % columns) * step, maxX);
            y = top;
        }
        const QPoint candidate(static_cast<int>(x), static_cast<int>(y));
        if (!taken.contains(candidate))
            return candidate;
    }
    return QPoint(static_cast<int>(std::clamp(qint64{last.x()} + step, left, maxX)),
                  static_cast<int>(std::clamp(qint64{last.y()} + step, top, maxY)));
}
