#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where a new pet of `size` goes: `step` pixels right of and below `last`, wholly on
// `screen` (wrapping to its top, a column further right each time), and never on a position
// in `taken`. A pet larger than the screen goes to its top left.
QPoint CascadePosition(QPoint last, QSize size, const QRect& screen, const QList<QPoint>& taken, int step = 32);
