// Method 1, shrunk: LZW with codes of 9 to 13 bits, least significant bit first. Code 256
// escapes a control code: 1 widens the codes by one bit, 2 frees every leaf of the string
// table ("partial clearing"). Freed codes are reused lowest first.

#include "archive/BitReader.h"
#include "archive/LegacyDecoders.h"

#include <array>
#include <cstdint>
#include <memory>

namespace {

constexpr int kMinCodeBits = 9;
constexpr int kMaxCodeBits = 13;
constexpr std::uint32_t kControlCode = 256;
constexpr std::uint32_t kFirstFreeCode = 257;
constexpr std::uint32_t kTableSize = 1u << kMaxCodeBits;
constexpr std::uint16_t kUnused = 0xFFFF;  // a prefix value no real code has

struct TUnshrinker {
    TUnshrinker(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t size)
        : in(source), out(sink, size)
    {
        prefix.fill(kUnused);
    }

    void Run();
    void PartialClear();
    void AdvanceFreeCode(std::uint32_t from);
    // Spells `code` into the end of `stack`; returns where the string starts.
    std::size_t Expand(std::uint32_t code);

    TBitReader in;
    TByteOutput out;
    // A code of 257 and above stands for the string of `prefix` plus `suffix`; kUnused marks
    // a free slot. An entry made right after a partial clear may extend a code that the
    // clear freed; it takes the meaning of whatever string reuses that code, as in the
    // compressor's table, which cannot emit it before then.
    std::array<std::uint16_t, kTableSize> prefix{};
    std::array<std::uint8_t, kTableSize> suffix{};
    std::array<std::uint8_t, kTableSize> stack{};
    std::array<bool, kTableSize> leaf{};
    std::uint32_t freeCode = kFirstFreeCode;  // lowest unused code, kTableSize when full
};

void TUnshrinker::AdvanceFreeCode(std::uint32_t from)
{
    freeCode = from;
    while (freeCode < kTableSize && prefix[freeCode] != kUnused)
        ++freeCode;
}

void TUnshrinker::PartialClear()
{
    for (std::uint32_t code = kFirstFreeCode; code < kTableSize; ++code)
        leaf[code] = prefix[code] != kUnused;
    for (std::uint32_t code = kFirstFreeCode; code < kTableSize; ++code) {
        if (prefix[code] != kUnused && prefix[code] >= kFirstFreeCode)
            leaf[prefix[code]] = false;
    }
    for (std::uint32_t code = kFirstFreeCode; code < kTableSize; ++code) {
        if (leaf[code])
            prefix[code] = kUnused;
    }
    AdvanceFreeCode(kFirstFreeCode);
}

std::size_t TUnshrinker::Expand(std::uint32_t code)
{
    std::size_t start = stack.size();
    while (code >= kFirstFreeCode) {
        // Every entry adds one byte to a shorter string, so a longer chain is a loop that only
        // damaged data can build; so is a chain through a free code.
        if (start == 1 || prefix[code] == kUnused)
            ThrowZipDataError();
        stack[--start] = suffix[code];
        code = prefix[code];
    }
    stack[--start] = static_cast<std::uint8_t>(code);
    return start;
}

void TUnshrinker::Run()
{
    int codeBits = kMinCodeBits;
    std::uint32_t previous = kTableSize;  // none yet
    while (!out.Done()) {
        const std::uint32_t code = in.Read(codeBits);
        if (code == kControlCode) {
            const std::uint32_t control = in.Read(codeBits);
            if (control == 1 && codeBits < kMaxCodeBits)
                ++codeBits;
            else if (control == 2)
                PartialClear();
            else
                ThrowZipDataError();
            continue;
        }

        std::size_t start;
        if (previous == kTableSize) {
            // The first code has no string to extend and must be a plain byte.
            if (code > 255)
                ThrowZipDataError();
            start = Expand(code);
        } else if (code < kFirstFreeCode || prefix[code] != kUnused) {
            start = Expand(code);
            if (freeCode < kTableSize) {
                prefix[freeCode] = static_cast<std::uint16_t>(previous);
                suffix[freeCode] = stack[start];
                AdvanceFreeCode(freeCode + 1);
            }
        } else if (code == freeCode) {
            // The compressor used the entry it had just made: the previous string plus its
            // own first byte.
            const std::size_t first = Expand(previous);
            prefix[freeCode] = static_cast<std::uint16_t>(previous);
            suffix[freeCode] = stack[first];
            AdvanceFreeCode(freeCode + 1);
            start = Expand(code);
        } else {
            ThrowZipDataError();  // a code that is neither in the table nor the next one
        }

        for (std::size_t i = start; i < stack.size() && !out.Done(); ++i)
            out.Put(stack[i]);
        previous = code;
    }
    out.Flush();
}

}  // namespace

void Unshrink(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t uncompressedSize)
{
    if (uncompressedSize == 0)
        return;
    const auto decoder = std::make_unique<TUnshrinker>(source, sink, uncompressedSize);
    decoder->Run();
}
