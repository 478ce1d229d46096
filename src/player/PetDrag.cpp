#include "player/PetDrag.h"

#include <algorithm>

void TPetDrag::Begin(QPoint pointer, QPoint place, qint64)
{
    active_ = true;
    offset_ = pointer - place;
    trail_.clear();
}

QPoint TPetDrag::Follow(QPoint pointer, qint64 now)
{
    trail_.append({now, pointer});
    Forget(now);
    return pointer - offset_;
}

void TPetDrag::Forget(qint64 now)
{
    // The pointer stays where it last was until it moves again: the last place at least
    // 100 ms old is where it was 100 ms ago.
    while (trail_.size() > 1 && trail_[1].first <= now - kSpan)
        trail_.removeFirst();
}

QPoint TPetDrag::End(QPoint pointer, qint64 now)
{
    active_ = false;
    Forget(now);
    if (trail_.isEmpty())
        return {};
    const auto& [then, from] = trail_.first();
    const qint64 took = then <= now - kSpan ? kSpan : std::max<qint64>(now - then, 1);
    return (pointer - from) * 80 / static_cast<int>(took);
}
