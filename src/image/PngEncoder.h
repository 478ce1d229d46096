#pragma once

#include <QByteArray>
#include <QImage>

// Writes images as 8-bit PNG in memory with libpng.
enum class TPngKind {
    Rgb,                   // colour only; alpha is dropped
    Rgba,                  // colour with straight alpha
    RgbWhiteTransparent,   // colour with a tRNS chunk naming white, as sprite sheets are
};

// The PNG file of `image` (any format Qt converts from). Raises TError with libpng's reason.
QByteArray EncodePng(const QImage& image, TPngKind kind);
