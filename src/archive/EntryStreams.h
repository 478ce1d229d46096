#pragma once

#include "archive/OutputPaths.h"
#include "archive/ZipEntry.h"
#include "archive/ZipError.h"

#include <QIODevice>

#include <zlib.h>

#include <cstdint>
#include <functional>

// An entry's data: found after its local header, read in blocks, decompressed and written
// with its CRC-32 taken on the way and its size held to what it declares.
namespace zipstream {

// The windows may take their messages once per kBlockSize of compressed data; data are read
// and written in larger pieces, to make fewer system calls.
inline constexpr std::size_t kBlockSize = 32 * 1024;
inline constexpr std::size_t kReadBlock = 256 * 1024;
inline constexpr std::size_t kOutputBlock = 256 * 1024;

// Output that runs past the entry's declared size: the entry is passed over.
class EntryTooLargeError : public TZipError {
public:
    EntryTooLargeError() : TZipError(QStringLiteral("File is larger than uncompressed size!")) {}
};

[[noreturn]] void ThrowPrematureEnd();
[[noreturn]] void ThrowDamaged();

bool IsKnownMethod(std::uint16_t method);

// Where an entry's data begin: after its local header, whose name and extra field may
// differ in length from the central directory's copy. `archiveSize` is the device's size.
std::uint64_t LocateData(QIODevice& device, const TZipEntry& entry, std::uint64_t archiveSize);

// The entry's compressed bytes, handed out in blocks of at most kReadBlock.
class EntryInput {
public:
    EntryInput(QIODevice& device, std::uint64_t size, std::function<void()> beforeBlock)
        : device_(device), remaining_(size), beforeBlock_(std::move(beforeBlock))
    {
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity);

private:
    QIODevice& device_;
    std::uint64_t remaining_;
    std::function<void()> beforeBlock_;
};

// Writes decompressed data, keeping their CRC-32 and refusing more than the declared size.
class EntryOutput {
public:
    // `budget` is what the whole extraction may still write of `total`; it shrinks as this
    // entry grows.
    EntryOutput(zipoutput::OutputFile& file, std::uint64_t limit, std::uint64_t& budget, std::uint64_t total)
        : file_(file), limit_(limit), budget_(budget), total_(total)
    {
    }
    void Write(const std::uint8_t* data, std::size_t size);
    std::uint32_t Crc() const { return static_cast<std::uint32_t>(crc_); }

private:
    zipoutput::OutputFile& file_;
    std::uint64_t limit_;
    std::uint64_t& budget_;
    std::uint64_t total_;
    std::uint64_t written_ = 0;
    uLong crc_ = crc32_z(0, nullptr, 0);
};

void CopyStored(EntryInput& input, EntryOutput& output);
void Inflate(EntryInput& input, EntryOutput& output);
// The entry's data through the decoder of its method, which must be a known one.
void Decompress(const TZipEntry& entry, EntryInput& input, EntryOutput& output);

}  // namespace zipstream
