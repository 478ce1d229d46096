// libFuzzer target: any bytes as an animated PNG, read from memory. Crashes, hangs, leaks,
// unbounded memory and frames that break the reader's promises are the faults.

#include "AnimationSink.h"
#include "common/Error.h"
#include "image/Animation.h"

#include <QByteArray>
#include <QImage>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Mutations would nearly always break a chunk's checksum and stop the reader at once: the
// checksums are made right first, and the reader's own check is covered by its tests.
void FixChecksums(QByteArray& png)
{
    auto* bytes = reinterpret_cast<std::uint8_t*>(png.data());
    const auto size = static_cast<std::size_t>(png.size());
    std::size_t at = 8;
    while (at <= size && size - at >= 12) {
        const std::uint32_t length = std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
                                     std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (length > size - at - 12)
            return;
        const auto crc = static_cast<std::uint32_t>(crc32(0, bytes + at + 4, static_cast<uInt>(length) + 4));
        std::uint8_t* out = bytes + at + 8 + length;
        out[0] = static_cast<std::uint8_t>(crc >> 24);
        out[1] = static_cast<std::uint8_t>(crc >> 16);
        out[2] = static_cast<std::uint8_t>(crc >> 8);
        out[3] = static_cast<std::uint8_t>(crc);
        at += 12 + std::size_t{length};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FixChecksums(bytes);
    const bool animated = IsAnimatedPng(bytes);
    CheckingSink sink;
    try {
        ReadApng(bytes, QStringLiteral("fuzz.png"), sink);
        // A file read whole gave every frame it announced, and the quick test agrees.
        if (!sink.Complete() || animated != (sink.FrameCount() > 1))
            std::abort();
    } catch (const TError&) {
        // Damaged files are expected; only crashes and runaway costs are faults.
    }
    return 0;
}
