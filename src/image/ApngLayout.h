#pragma once

// The structure of an animated PNG: its chunks checked against the APNG rules and the
// limits, and where each frame's data lies, without reading any pixels.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace apng {

inline constexpr std::uint8_t kDisposeNone = 0;
inline constexpr std::uint8_t kDisposeBackground = 1;
inline constexpr std::uint8_t kDisposePrevious = 2;
inline constexpr std::uint8_t kBlendSource = 0;
inline constexpr std::uint8_t kBlendOver = 1;

struct FrameControl {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int delayMs = 0;
    std::uint8_t dispose = kDisposeNone;
    std::uint8_t blend = kBlendSource;
    bool fromIdat = false;  // the image data is the IDAT run, not fdAT chunks
    // The span of the file holding the frame's data chunks; 0 until the first is seen.
    std::size_t dataBegin = 0;
    std::size_t dataEnd = 0;
};

struct Layout {
    int width = 0;
    int height = 0;
    std::uint8_t header[5] = {};  // IHDR's bit depth, colour type, compression, filter, interlace
    QByteArray palette;
    QByteArray transparency;  // kept only where libpng would use it
    bool transparent = false;
    std::vector<FrameControl> frames;
};

// Raises TError "<name>: <reason>" for a file that breaks the rules or the limits. A PNG
// without animation control is one frame, the whole image.
Layout ReadLayout(const QByteArray& data, const QString& name);

}  // namespace apng
