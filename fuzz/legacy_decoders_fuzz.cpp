// libFuzzer target for the shrunk, reduced and imploded decoders. Input layout:
//   byte 0: low nibble selects the method (mod 9: shrink, reduce 1-4, implode with flags
//           0, 2, 4, 6); high nibble is the size of the pieces the source hands out (0: all
//           it is offered), so refills land everywhere in the stream.
//   bytes 1-2: declared uncompressed size, little endian.
//   rest: the compressed data.
// Besides crashes, hangs and sanitizer reports it checks that a decoder delivers exactly the
// declared size in pieces of at most 32 KiB, or raises TZipError.
// libFuzzer adds new inputs to the first folder it is given, so run it as
//   legacy_decoders_fuzz <scratch folder> fuzz/corpus/legacy_decoders
// to keep the seed folder to its hand-picked streams.

#include "archive/LegacyDecoders.h"
#include "archive/ZipError.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const int variant = (data[0] & 0x0F) % 9;
    const std::size_t piece = data[0] >> 4;
    const std::uint64_t declared = data[1] | (std::uint64_t{data[2]} << 8);
    const std::uint8_t* packed = data + 3;
    const std::size_t packedSize = size - 3;

    std::size_t offset = 0;
    const ZipByteSource source = [&](std::uint8_t* buffer, std::size_t capacity) {
        std::size_t n = std::min(capacity, packedSize - offset);
        if (piece != 0)
            n = std::min(n, piece);
        std::memcpy(buffer, packed + offset, n);
        offset += n;
        return n;
    };
    std::uint64_t produced = 0;
    const ZipByteSink sink = [&](const std::uint8_t*, std::size_t n) {
        if (n == 0 || n > 32 * 1024)
            std::abort();
        produced += n;
        if (produced > declared)
            std::abort();
    };

    try {
        if (variant == 0) {
            Unshrink(source, sink, declared);
        } else if (variant <= 4) {
            Unreduce(source, sink, declared, variant);
        } else {
            static constexpr std::uint16_t kFlags[] = {0, 2, 4, 6};
            Explode(source, sink, declared, kFlags[variant - 5]);
        }
    } catch (const TZipError&) {
        return 0;
    }
    if (produced != declared)
        std::abort();
    return 0;
}
