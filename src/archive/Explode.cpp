// Method 6, imploded. The general-purpose flags choose the variant: bit 1 the 8 KiB window
// (7 low distance bits instead of 6), bit 2 a third Shannon-Fano tree for literals (and a
// minimum match of 3 instead of 2). The data start with the trees - literals (256 codes) if
// present, lengths (64), distances (64) - each as a byte count minus 1 followed by bytes of
// (codes minus 1) << 4 | (bit length minus 1). Then: a 1 bit and a literal (coded or 8 raw
// bits), or a 0 bit, the low distance bits, the coded high distance bits, the coded length
// and, for length code 63, 8 more length bits.

#include "archive/BitReader.h"
#include "archive/LegacyDecoders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

namespace {

constexpr int kMaxCodeBits = 16;
constexpr int kLookupBits = 10;
constexpr std::size_t kWindowSize = 8192;

// A Shannon-Fano code for up to 256 symbols, decoded with a table for codes of up to
// kLookupBits bits and, for longer ones, by length: the codes of one length form one run.
class TShannonFano {
public:
    // Reads the tree description for `symbols` codes and builds the decoder; anything that
    // is not a prefix code is damage.
    void Read(TBitReader& in, int symbols);
    std::uint32_t Decode(TBitReader& in) const;

private:
    // Lookup entry: symbol << 5 | length, 0 when no code that short matches.
    std::array<std::uint16_t, 1u << kLookupBits> lookup_{};
    // For each length: the first code (as read, most significant bit first), the number of
    // codes and where their symbols start in sorted_ (highest code first).
    std::array<std::uint32_t, kMaxCodeBits + 1> firstCode_{};
    std::array<std::uint32_t, kMaxCodeBits + 1> count_{};
    std::array<std::uint32_t, kMaxCodeBits + 1> offset_{};
    std::array<std::uint8_t, 256> sorted_{};
};

std::uint32_t ReverseBits(std::uint32_t value, int bits)
{
    std::uint32_t result = 0;
    for (int i = 0; i < bits; ++i) {
        result = (result << 1) | (value & 1);
        value >>= 1;
    }
    return result;
}

void TShannonFano::Read(TBitReader& in, int symbols)
{
    std::array<std::uint8_t, 256> lengths{};
    const std::uint32_t bytes = in.Read(8) + 1;
    int filled = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) {
        const std::uint32_t byte = in.Read(8);
        const int codes = static_cast<int>(byte >> 4) + 1;
        const int length = static_cast<int>(byte & 0x0F) + 1;
        if (codes > symbols - filled)
            ThrowZipDataError();
        for (int k = 0; k < codes; ++k)
            lengths[static_cast<std::size_t>(filled++)] = static_cast<std::uint8_t>(length);
    }
    if (filled != symbols)
        ThrowZipDataError();

    // Ascending length, ties in symbol order. The codes are handed out from the end of that
    // order: the last symbol gets all zeros, each next one the previous code plus the
    // previous code's share of the 16-bit code space.
    count_.fill(0);
    for (int s = 0; s < symbols; ++s)
        ++count_[lengths[static_cast<std::size_t>(s)]];
    std::uint32_t start = 0;
    for (int length = 1; length <= kMaxCodeBits; ++length) {
        offset_[static_cast<std::size_t>(length)] = start;
        start += count_[static_cast<std::size_t>(length)];
    }
    std::array<std::uint32_t, kMaxCodeBits + 1> next = offset_;
    for (int s = 0; s < symbols; ++s)
        sorted_[next[lengths[static_cast<std::size_t>(s)]]++] = static_cast<std::uint8_t>(s);

    // Walking the lengths from the longest, each run of codes starts where the previous,
    // longer run ended; it has to start on a boundary of its own length, and all runs have
    // to fit in the code space, or some code would be a prefix of another.
    std::uint32_t code = 0;  // in units of 2^-16 of the code space
    lookup_.fill(0);
    for (int length = kMaxCodeBits; length >= 1; --length) {
        const std::uint32_t n = count_[static_cast<std::size_t>(length)];
        if (n == 0)
            continue;
        const std::uint32_t share = 1u << (kMaxCodeBits - length);
        if (code % share != 0 || code + n * share > (1u << kMaxCodeBits))
            ThrowZipDataError();
        firstCode_[static_cast<std::size_t>(length)] = code / share;
        // Within the run, symbols later in the sorted order have lower codes.
        for (std::uint32_t i = 0; i < n && length <= kLookupBits; ++i) {
            const std::uint32_t symbol = sorted_[offset_[static_cast<std::size_t>(length)] + n - 1 - i];
            const std::uint32_t reversed = ReverseBits(code / share + i, length);
            const auto entry = static_cast<std::uint16_t>((symbol << 5) | static_cast<std::uint32_t>(length));
            for (std::uint32_t index = reversed; index < lookup_.size(); index += 1u << length)
                lookup_[index] = entry;
        }
        code += n * share;
    }
}

std::uint32_t TShannonFano::Decode(TBitReader& in) const
{
    const std::uint32_t bits = in.Peek(kMaxCodeBits);
    const std::uint16_t entry = lookup_[bits & ((1u << kLookupBits) - 1)];
    if (entry != 0) {
        in.Skip(entry & 0x1F);
        return entry >> 5;
    }
    // Longer codes, one bit at a time against each length's run.
    std::uint32_t code = 0;
    for (int length = 1; length <= kMaxCodeBits; ++length) {
        code = (code << 1) | ((bits >> (length - 1)) & 1);
        const auto l = static_cast<std::size_t>(length);
        if (code >= firstCode_[l] && code - firstCode_[l] < count_[l]) {
            in.Skip(length);
            return sorted_[offset_[l] + count_[l] - 1 - (code - firstCode_[l])];
        }
    }
    ThrowZipDataError();  // a bit pattern no code starts with (the tree was incomplete)
}

struct TExploder {
    TExploder(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t size)
        : in(source), out(sink, size)
    {
    }

    void Emit(std::uint8_t byte)
    {
        window[position++ % kWindowSize] = byte;
        out.Put(byte);
    }
    void Run(std::uint16_t flags);

    TBitReader in;
    TByteOutput out;
    TShannonFano literals;
    TShannonFano lengths;
    TShannonFano distances;
    // Zero-filled, so a copy reaching before the first byte reads zeros as PKZIP's did.
    std::array<std::uint8_t, kWindowSize> window{};
    std::size_t position = 0;
};

void TExploder::Run(std::uint16_t flags)
{
    const bool bigWindow = (flags & 0x02) != 0;
    const bool literalTree = (flags & 0x04) != 0;
    const int lowDistanceBits = bigWindow ? 7 : 6;
    const std::uint32_t minimumMatch = literalTree ? 3 : 2;

    if (literalTree)
        literals.Read(in, 256);
    lengths.Read(in, 64);
    distances.Read(in, 64);

    while (!out.Done()) {
        if (in.Read(1) == 1) {
            Emit(static_cast<std::uint8_t>(literalTree ? literals.Decode(in) : in.Read(8)));
            continue;
        }
        const std::uint32_t low = in.Read(lowDistanceBits);
        const std::uint32_t distance = ((distances.Decode(in) << lowDistanceBits) | low) + 1;
        std::uint32_t length = lengths.Decode(in);
        if (length == 63)
            length += in.Read(8);
        length += minimumMatch;
        // distance <= kWindowSize, so the source byte is read before this copy overwrites it.
        for (std::uint32_t i = 0; i < length && !out.Done(); ++i)
            Emit(window[(position - distance) % kWindowSize]);
    }
    out.Flush();
}

}  // namespace

void Explode(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize,
             std::uint16_t flags)
{
    if (uncompressedSize == 0)
        return;
    const auto decoder = std::make_unique<TExploder>(source, sink, uncompressedSize);
    decoder->Run(flags);
}
