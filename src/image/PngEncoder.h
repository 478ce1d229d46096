#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <functional>

class QIODevice;

// libpng's own bound on rows and columns, which its reader keeps too: a taller image is
// neither written nor read.
inline constexpr int kMaxPngSide = 1'000'000;

// Writes images as 8-bit PNG in memory with libpng.
enum class TPngKind {
    Rgb,                   // colour only; alpha is dropped
    Rgba,                  // colour with straight alpha
    RgbWhiteTransparent,   // colour with a tRNS chunk naming white, as sprite sheets are
};

// The PNG file of `image` (any format Qt converts from). Raises TError with libpng's reason.
QByteArray EncodePng(const QImage& image, TPngKind kind);
// The same, written to `device` as it is made, row by row; raises TError with the reason of
// a failed write.
void EncodePng(const QImage& image, TPngKind kind, QIODevice& device);
// The `area` of `image` the same way. ARGB32 and RGB32 images are converted a row at a time
// as they are written, so an area of a large image costs no copy of it. `cancelled` is
// asked before every row; true stops the encoding with the reason "cancelled".
void EncodePng(const QImage& image, const QRect& area, TPngKind kind, QIODevice& device,
               const std::function<bool()>& cancelled);
