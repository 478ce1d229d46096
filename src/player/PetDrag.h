#pragma once

#include <QList>
#include <QPair>
#include <QPoint>

#include <chrono>

// A pet held by the mouse: where its window goes as the pointer moves, and, when let go,
// how fast it was thrown (the pointer's speed over its last 100 ms). Times are in
// milliseconds of a monotonic clock, the system's unless given.
class TPetDrag {
public:
    static qint64 Now()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }

    // Held at `pointer`, with the window's top-left corner at `place`.
    void Begin(QPoint pointer, QPoint place, qint64 now = Now());
    bool Active() const { return active_; }
    // The window's place for the pointer at `pointer`.
    QPoint Follow(QPoint pointer, qint64 now = Now());
    // Let go at `pointer`: the throw's speed in pixels a frame of 80 ms.
    QPoint End(QPoint pointer, qint64 now = Now());

private:
    static constexpr qint64 kSpan = 100;
    void Forget(qint64 now);

    bool active_ = false;
    QPoint offset_;  // from the window's corner to the pointer
    QList<QPair<qint64, QPoint>> trail_;  // the pointer's places since 100 ms ago, with their times
};
