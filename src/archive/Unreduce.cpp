// Methods 2 to 5, reduced. Two layers:
// - the follower sets: for each byte value from 255 down to 0, a 6-bit count (at most 32)
//   and that many 8-bit followers. A byte whose predecessor has followers is either a 1 bit
//   and 8 literal bits, or a 0 bit and an index into the predecessor's set.
// - over those bytes, DLE (0x90) escapes: DLE 0 is a literal DLE, DLE V [extra] D copies
//   from up to 4 KiB back. The factor (1 to 4) splits V between length and distance.

#include "archive/BitReader.h"
#include "archive/LegacyDecoders.h"

#include <array>
#include <cstdint>
#include <memory>

namespace {

constexpr std::uint8_t kEscape = 0x90;
constexpr std::uint32_t kMaxFollowers = 32;
constexpr std::size_t kWindowSize = 4096;  // the longest distance, factor 4: 15 * 256 + 256

// Bits needed to index a follower set of n entries: the width of n - 1, at least 1.
constexpr int IndexBits(std::uint32_t n)
{
    int bits = 1;
    while ((std::uint32_t{1} << bits) < n)
        ++bits;
    return bits;
}

struct TUnreducer {
    TUnreducer(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t size)
        : in(source), out(sink, size)
    {
    }

    void ReadFollowerSets();
    std::uint8_t NextByte();
    void Emit(std::uint8_t byte)
    {
        window[position++ % kWindowSize] = byte;
        out.Put(byte);
    }
    void Copy(std::uint32_t distance, std::uint32_t length);
    void Run(int factor);

    TBitReader in;
    TByteOutput out;
    std::array<std::array<std::uint8_t, kMaxFollowers>, 256> followers{};
    std::array<std::uint8_t, 256> followerCount{};
    std::uint8_t last = 0;  // the previous byte of the follower layer
    // Zero-filled, so a copy reaching before the first byte reads zeros as PKZIP's did.
    std::array<std::uint8_t, kWindowSize> window{};
    std::size_t position = 0;
};

void TUnreducer::ReadFollowerSets()
{
    for (int j = 255; j >= 0; --j) {
        const std::uint32_t count = in.Read(6);
        if (count > kMaxFollowers)
            ThrowZipDataError();
        followerCount[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(count);
        for (std::uint32_t i = 0; i < count; ++i)
            followers[static_cast<std::size_t>(j)][i] = static_cast<std::uint8_t>(in.Read(8));
    }
}

std::uint8_t TUnreducer::NextByte()
{
    const std::uint32_t count = followerCount[last];
    if (count == 0 || in.Read(1) == 1) {
        last = static_cast<std::uint8_t>(in.Read(8));
    } else {
        const std::uint32_t index = in.Read(IndexBits(count));
        if (index >= count)
            ThrowZipDataError();
        last = followers[last][index];
    }
    return last;
}

void TUnreducer::Copy(std::uint32_t distance, std::uint32_t length)
{
    // distance <= kWindowSize, so the source byte is read before this copy overwrites it.
    for (std::uint32_t i = 0; i < length && !out.Done(); ++i)
        Emit(window[(position - distance) % kWindowSize]);
}

void TUnreducer::Run(int factor)
{
    const std::uint32_t lengthBits = 8 - static_cast<std::uint32_t>(factor);
    const std::uint32_t lengthMask = (1u << lengthBits) - 1;
    ReadFollowerSets();
    while (!out.Done()) {
        const std::uint8_t byte = NextByte();
        if (byte != kEscape) {
            Emit(byte);
            continue;
        }
        const std::uint8_t v = NextByte();
        if (v == 0) {
            Emit(kEscape);
            continue;
        }
        std::uint32_t length = v & lengthMask;
        if (length == lengthMask)
            length += NextByte();
        const std::uint32_t distance = ((std::uint32_t{v} >> lengthBits) << 8) + NextByte() + 1;
        Copy(distance, length + 3);
    }
    out.Flush();
}

}  // namespace

void Unreduce(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize, int factor)
{
    if (factor < 1 || factor > 4)
        ThrowZipDataError();
    if (uncompressedSize == 0)
        return;
    const auto decoder = std::make_unique<TUnreducer>(source, sink, uncompressedSize);
    decoder->Run(factor);
}
