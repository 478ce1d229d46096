#pragma once

#include "archive/LegacyDecoders.h"
#include "archive/ZipError.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Streaming helpers shared by the legacy decoders: a bit reader over a ZipByteSource and a
// fixed output buffer in front of a ZipByteSink. ZIP packs every code least significant
// bit first, so one reader serves all three methods.

[[noreturn]] inline void ThrowZipDataError() { throw TZipError(QStringLiteral("error")); }

class TBitReader {
public:
    // The widest single Peek or Read.
    static constexpr int kMaxBits = 32;

    explicit TBitReader(const ZipByteSource& source) : source_(source) {}
    TBitReader(const TBitReader&) = delete;
    TBitReader& operator=(const TBitReader&) = delete;

    // The next `count` bits without consuming them. Past the end of the data the missing
    // bits read as zero: a table lookup may look further ahead than the code it finds, and
    // Skip decides whether the code was really there.
    std::uint32_t Peek(int count)
    {
        if (available_ < count)
            Refill();
        return static_cast<std::uint32_t>(bits_ & Mask(count));
    }

    // Consumes `count` bits; running out of data is damage, never implicit zeros.
    void Skip(int count)
    {
        if (available_ < count) {
            Refill();
            if (available_ < count)
                ThrowZipDataError();
        }
        bits_ >>= count;
        available_ -= count;
    }

    std::uint32_t Read(int count)
    {
        const std::uint32_t value = Peek(count);
        Skip(count);
        return value;
    }

private:
    static constexpr std::uint64_t Mask(int count) { return (std::uint64_t{1} << count) - 1; }

    // Tops the bit buffer up to at least kMaxBits when the data allow.
    void Refill()
    {
        while (available_ <= 56) {
            if (position_ == size_) {
                if (ended_)
                    return;
                const std::size_t got = source_(buffer_.data(), buffer_.size());
                // A source claiming more than it was offered cannot be trusted with our buffer.
                if (got > buffer_.size())
                    ThrowZipDataError();
                position_ = 0;
                size_ = got;
                if (got == 0) {
                    ended_ = true;
                    return;
                }
            }
            bits_ |= std::uint64_t{buffer_[position_++]} << available_;
            available_ += 8;
        }
    }

    const ZipByteSource& source_;
    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t position_ = 0;
    std::size_t size_ = 0;
    bool ended_ = false;
    std::uint64_t bits_ = 0;  // unconsumed bits, next one in bit 0; zeros above `available_`
    int available_ = 0;
};

// Collects decoded bytes in a fixed buffer and hands them to the sink when it is full, and
// counts them against the entry's declared size.
class TByteOutput {
public:
    TByteOutput(const ZipByteSink& sink, std::uint64_t size) : sink_(sink), remaining_(size) {}
    TByteOutput(const TByteOutput&) = delete;
    TByteOutput& operator=(const TByteOutput&) = delete;

    bool Done() const { return remaining_ == 0; }
    std::uint64_t Remaining() const { return remaining_; }

    // Only while !Done().
    void Put(std::uint8_t byte)
    {
        buffer_[used_++] = byte;
        --remaining_;
        if (used_ == buffer_.size())
            Flush();
    }

    void Flush()
    {
        if (used_ != 0)
            sink_(buffer_.data(), used_);
        used_ = 0;
    }

private:
    const ZipByteSink& sink_;
    std::array<std::uint8_t, 32 * 1024> buffer_{};
    std::size_t used_ = 0;
    std::uint64_t remaining_;
};
