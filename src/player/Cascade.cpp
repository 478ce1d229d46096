#include "player/Cascade.h"

#include <algorithm>

QPoint CascadePosition(QPoint last, QSize size, const QRect& screen, const QList<QPoint>& taken, int step)
{
    step = std::max(1, step);
    // The top-left corners that keep the pet wholly on the screen.
    const int maxX = std::max(screen.left(), screen.right() + 1 - size.width());
    const int maxY = std::max(screen.top(), screen.bottom() + 1 - size.height());
    const auto onScreen = [&](QPoint p) { return p.x() >= screen.left() && p.x() <= maxX && p.y() >= screen.top() && p.y() <= maxY; };
    const int columns = std::max(1, (maxX - screen.left()) / step + 1);

    QPoint candidate = last;
    int wraps = 0;
    // Every candidate is a new place until the wraps have tried every column, which takes
    // far more than the few pets `taken` can name.
    for (int tries = 0; tries < 4096; ++tries) {
        candidate += QPoint(step, step);
        if (!onScreen(candidate)) {
            ++wraps;
            candidate = QPoint(screen.left() + (wraps % columns) * step, screen.top());
            candidate.setX(std::min(candidate.x(), maxX));
        }
        if (!taken.contains(candidate))
            return candidate;
    }
    return QPoint(std::clamp(last.x() + step, screen.left(), maxX), std::clamp(last.y() + step, screen.top(), maxY));
}
