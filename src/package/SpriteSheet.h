#pragma once

#include <QImage>
#include <QRegion>
#include <QString>

#include <cstdint>
#include <optional>

// The sprite sheet "zvk.png": every frame of a package stacked top to bottom in one RGB
// image whose white pixels a tRNS chunk marks transparent.

// The largest sheet accepted, decoded at 4 bytes a pixel: a bigger one is refused like a
// damaged file instead of exhausting memory.
inline constexpr std::int64_t kMaxSheetBytes = std::int64_t{1} << 30;

// Decodes a PNG file into an ARGB32 image (straight alpha): palettes expanded, tRNS turned
// into alpha, 16 bits scaled to 8, no gamma applied. Raises TError when the file cannot be
// read, is no PNG, is damaged or is larger than kMaxSheetBytes decoded.
QImage DecodePng(const QString& path);

// Reads the sheet's colour values into an RGB32 image; transparency plays no part. A file of
// 8 bytes or less holds no image and gives a null image. Raises TError when the file cannot
// be read, is no PNG, is damaged or is larger than kMaxSheetBytes decoded.
// With `clear`, also where the sheet is see-through: a 1-bit image of the sheet's size,
// set where a pixel is fully transparent (of the colour its tRNS chunk names, or of alpha
// 0); null when no pixel is.
QImage LoadSpriteSheet(const QString& path, QImage* clear = nullptr);

// The memory LoadSpriteSheet will take for the sheet at `path`, from its header alone: 4
// bytes a pixel and the 1-bit map of see-through pixels; 0 for a file that holds no image.
// Raises TError as LoadSpriteSheet does when the file is missing or its header is damaged.
std::int64_t SheetMemory(const QString& path);

// Where a decoded ARGB image is fully transparent: a 1-bit image of its size, set at those
// pixels; null when there are none.
QImage ClearPixels(const QImage& argb);

// The set pixels of the 1-bit image `clear` inside `frame`, in the frame's coordinates;
// nothing when that takes more than `maxRects` rectangles.
std::optional<QRegion> ClearRegion(const QImage& clear, const QRect& frame, qsizetype maxRects);

// Writes `sheet` as an 8-bit RGB PNG with a tRNS chunk naming white; a null image gives the
// 8-byte PNG signature alone. Replaces the file atomically; raises TError on failure.
void SaveSpriteSheet(const QImage& sheet, const QString& path);
