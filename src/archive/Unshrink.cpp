// Method 1, shrunk: LZW with codes of 9 to 13 bits, least significant bit first. Code 256
// escapes a control code: 1 widens the codes by one bit, 2 frees every leaf of the string
// table ("partial clearing"). Freed codes are reused lowest first.

#include "archive/BitReader.h"
#include "archive/LegacyDecoders.h"

#include <array>
#include <bit>
#include <cstdint>
#include <memory>

namespace {

constexpr int kMinCodeBits = 9;
constexpr int kMaxCodeBits = 13;
constexpr std::uint32_t kControlCode = 256;
constexpr std::uint32_t kFirstFreeCode = 257;
constexpr std::uint32_t kTableSize = 1u << kMaxCodeBits;
constexpr std::uint32_t kWords = kTableSize / 64;
constexpr std::uint16_t kUnused = 0xFFFF;  // a prefix value no real code has

struct TUnshrinker {
    TUnshrinker(const ZipByteSource& source, const ZipByteSink& sink, std::uint64_t size)
        : in(source), out(sink, size)
    {
        prefix.fill(kUnused);
    }

    void Run();
    void AddEntry(std::uint32_t previous, std::uint8_t byte);
    void PartialClear();
    void FindFreeCode(std::uint32_t from);
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
    // Entries extending each code, and bit sets of the codes in use and of those with
    // children: a clear then costs a pass over 128 words plus the entries it frees, however
    // often damaged data ask for one.
    std::array<std::uint16_t, kTableSize> children{};
    std::array<std::uint64_t, kWords> used{};
    std::array<std::uint64_t, kWords> hasChildren{};
    std::array<std::uint8_t, kTableSize> stack{};
    std::uint32_t freeCode = kFirstFreeCode;  // lowest unused code, kTableSize when full
};

void Set(std::array<std::uint64_t, kWords>& bits, std::uint32_t code)
{
    bits[code / 64] |= std::uint64_t{1} << (code % 64);
}

void Reset(std::array<std::uint64_t, kWords>& bits, std::uint32_t code)
{
    bits[code / 64] &= ~(std::uint64_t{1} << (code % 64));
}

void TUnshrinker::FindFreeCode(std::uint32_t from)
{
    for (std::uint32_t word = from / 64; word < kWords; ++word) {
        // Codes below `from` (and 0 to 256, never in the table) count as taken.
        std::uint64_t taken = used[word];
        if (word == from / 64)
            taken |= (std::uint64_t{1} << (from % 64)) - 1;
        if (taken != ~std::uint64_t{0}) {
            freeCode = word * 64 + static_cast<std::uint32_t>(std::countr_one(taken));
            return;
        }
    }
    freeCode = kTableSize;
}

void TUnshrinker::AddEntry(std::uint32_t previous, std::uint8_t byte)
{
    const std::uint32_t code = freeCode;
    prefix[code] = static_cast<std::uint16_t>(previous);
    suffix[code] = byte;
    Set(used, code);
    if (previous >= kFirstFreeCode && children[previous]++ == 0)
        Set(hasChildren, previous);
    FindFreeCode(code + 1);
}

void TUnshrinker::PartialClear()
{
    // Leaves are the entries without children before this clear; those it leaves childless
    // wait for the next one.
    std::array<std::uint64_t, kWords> leaves{};
    for (std::uint32_t word = 0; word < kWords; ++word)
        leaves[word] = used[word] & ~hasChildren[word];
    for (std::uint32_t word = 0; word < kWords; ++word) {
        for (std::uint64_t bits = leaves[word]; bits != 0; bits &= bits - 1) {
            const std::uint32_t code = word * 64 + static_cast<std::uint32_t>(std::countr_zero(bits));
            const std::uint32_t parent = prefix[code];
            if (parent >= kFirstFreeCode && --children[parent] == 0)
                Reset(hasChildren, parent);
            prefix[code] = kUnused;
            Reset(used, code);
        }
    }
    FindFreeCode(kFirstFreeCode);
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
            if (freeCode < kTableSize)
                AddEntry(previous, stack[start]);
        } else if (code == freeCode) {
            // The compressor used the entry it had just made: the previous string plus its
            // own first byte.
            AddEntry(previous, stack[Expand(previous)]);
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
