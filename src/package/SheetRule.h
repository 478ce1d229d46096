#pragma once

#include "image/ImageDecoders.h"

#include <QRgb>

// How a frame image is drawn onto the sprite sheet, shared by the build and the packer's
// preview so that the preview shows exactly what the pet will.

// A frame may be at most this many pixels wide and high.
inline constexpr int kMaxFrameSide = 16384;

// The colour a frame's pixel (straight ARGB) leaves on the sheet, whose white is see-through.
// A frame without transparency is copied as it is, white and all. In a frame that carries
// transparency, a pixel less than half opaque leaves the sheet white; every other pixel
// keeps its stored colour unblended, so no light fringe shows on a dark desktop, and pure
// white becomes (254,254,254) so that it stays visible.
inline QRgb SheetColour(QRgb pixel, TTransparency transparency)
{
    const QRgb opaque = pixel | 0xFF000000u;
    if (transparency == TTransparency::None)
        return opaque;
    if (qAlpha(pixel) < 128)
        return 0xFFFFFFFFu;
    return opaque == 0xFFFFFFFFu ? 0xFFFEFEFEu : opaque;
}
