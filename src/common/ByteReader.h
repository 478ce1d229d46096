#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian reads over untrusted bytes. A read past the end yields zero and leaves the
// reader failed, so a parser takes a whole record and checks Ok() once at the end instead
// of guarding every field. Bounds are compared as subtractions so they cannot overflow.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    ByteReader(const char* data, std::size_t size)
        : ByteReader(reinterpret_cast<const std::uint8_t*>(data), size)
    {
    }

    std::uint8_t U8() { return Take(1) ? data_[pos_++] : 0; }

    std::uint16_t U16()
    {
        if (!Take(2))
            return 0;
        const auto value = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }

    std::uint32_t U32()
    {
        if (!Take(4))
            return 0;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | data_[pos_ + static_cast<std::size_t>(i)];
        pos_ += 4;
        return value;
    }

    std::uint64_t U64()
    {
        const std::uint64_t low = U32();
        const std::uint64_t high = U32();
        return (high << 32) | low;
    }

    // The next `count` bytes, or nullptr (and failed) when fewer remain.
    const std::uint8_t* Bytes(std::size_t count)
    {
        if (!Take(count))
            return nullptr;
        const std::uint8_t* start = data_ + pos_;
        pos_ += count;
        return start;
    }

    void Skip(std::size_t count)
    {
        if (Take(count))
            pos_ += count;
    }

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return size_ - pos_; }
    bool Ok() const { return ok_; }

private:
    bool Take(std::size_t count)
    {
        if (ok_ && size_ - pos_ >= count)
            return true;
        ok_ = false;
        pos_ = size_;
        return false;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};
