#include "player/ShapeCache.h"

#include "package/SpriteSheet.h"

#include <QTransform>

#include <algorithm>

TShapeCache::TShapeCache(QImage clear) : clear_(std::move(clear)) {}

qsizetype TShapeCache::Budget() const
{
    // Sixteen bytes a rectangle.
    return std::max<qsizetype>(65536, clear_.width() * qsizetype{clear_.height()} / 8);
}

QRegion TShapeCache::Shape(const QRect& frame, const QSize& window, int scale)
{
    if (clear_.isNull() || frame.isEmpty())
        return {};
    const std::array<int, 7> key{frame.x(), frame.y(), frame.width(), frame.height(), window.width(), window.height(), scale};
    if (const auto found = shapes_.find(key); found != shapes_.end())
        return found->second;

    const QRegion whole(QRect(QPoint(0, 0), window));
    const std::optional<QRegion> clear = ClearRegion(clear_, frame, kMaxShapeRects);
    if (!clear)
        return {};
    QRegion shape = whole - (scale == 1 ? *clear : QTransform::fromScale(scale, scale).map(*clear));
    if (shape.isEmpty())
        shape = QRegion(-1, -1, 1, 1);
    if (keptRects_ + shape.rectCount() <= Budget()) {
        keptRects_ += shape.rectCount();
        shapes_.emplace(key, shape);
    }
    return shape;
}
