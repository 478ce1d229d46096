#include "archive/ZipHeaders.h"

#include "archive/ZipFormat.h"

namespace zipwrite {

namespace {

using namespace zipformat;

// A 16-bit count holding this value says "look in the Zip64 end record".
constexpr std::uint16_t kMarker16 = 0xFFFF;
// Size of the Zip64 end record after its signature and size field.
constexpr std::uint64_t kZip64EndRemainder = kZip64EndOfDirectorySize - 12;

// Little-endian record builder.
class Record {
public:
    Record& U16(std::uint16_t v) { return Put(v, 2); }
    Record& U32(std::uint32_t v) { return Put(v, 4); }
    Record& U64(std::uint64_t v) { return Put(v, 8); }
    Record& Bytes(const QByteArray& bytes)
    {
        data.append(bytes);
        return *this;
    }

    QByteArray data;

private:
    Record& Put(std::uint64_t v, int size)
    {
        for (int i = 0; i < size; ++i)
            data.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }
};

std::uint32_t Low32(std::uint64_t value, bool zip64) { return zip64 ? kZip64Marker : static_cast<std::uint32_t>(value); }

}  // namespace

QByteArray LocalHeader(const WrittenEntry& entry, bool zip64)
{
    Record r;
    r.U32(kLocalHeaderSignature)
        .Bytes(entry.SharedFields(entry.versionNeeded, zip64, zip64))
        .U16(static_cast<std::uint16_t>(entry.storedName.size()))
        .U16(zip64 ? 20 : 0)
        .Bytes(entry.storedName);
    // In the local header the Zip64 field always holds both sizes, uncompressed first.
    if (zip64)
        r.U16(kZip64ExtraId).U16(16).U64(entry.UncompressedSize).U64(entry.CompressedSize);
    return r.data;
}

QByteArray CentralHeader(const WrittenEntry& entry, const Zip64Limits& limits)
{
    const bool bigOriginal = entry.UncompressedSize >= limits.sizeLimit;
    const bool bigCompressed = entry.CompressedSize >= limits.sizeLimit;
    const bool bigOffset = entry.LocalHeaderOffset >= limits.sizeLimit;
    // Only the values whose classic field holds the marker are in the Zip64 field, in this order.
    Record extra;
    if (bigOriginal || bigCompressed || bigOffset) {
        extra.U16(kZip64ExtraId).U16(static_cast<std::uint16_t>(8 * (int{bigOriginal} + bigCompressed + bigOffset)));
        if (bigOriginal)
            extra.U64(entry.UncompressedSize);
        if (bigCompressed)
            extra.U64(entry.CompressedSize);
        if (bigOffset)
            extra.U64(entry.LocalHeaderOffset);
    }
    Record r;
    r.U32(kCentralHeaderSignature)
        .U16(kVersionMadeBy)
        .Bytes(entry.SharedFields(entry.versionNeeded, bigCompressed, bigOriginal))
        .U16(static_cast<std::uint16_t>(entry.storedName.size()))
        .U16(static_cast<std::uint16_t>(extra.data.size()))
        .U16(0)  // comment length
        .U16(0)  // disk number start
        .U16(0)  // internal attributes
        .U32(entry.ExternalAttributes)
        .U32(Low32(entry.LocalHeaderOffset, bigOffset))
        .Bytes(entry.storedName)
        .Bytes(extra.data);
    return r.data;
}

QByteArray EndRecords(std::uint64_t count, std::uint64_t directorySize, std::uint64_t directoryOffset,
                      std::uint64_t position, const Zip64Limits& limits)
{
    const bool manyEntries = count >= limits.countLimit;
    const bool bigSize = directorySize >= limits.sizeLimit;
    const bool bigOffset = directoryOffset >= limits.sizeLimit;
    Record r;
    if (manyEntries || bigSize || bigOffset) {
        r.U32(kZip64EndOfDirectorySignature)
            .U64(kZip64EndRemainder)
            .U16(kVersionMadeBy)
            .U16(kVersionNeededZip64)
            .U32(0)  // this disk
            .U32(0)  // disk with the central directory
            .U64(count)
            .U64(count)
            .U64(directorySize)
            .U64(directoryOffset);
        r.U32(kZip64LocatorSignature)
            .U32(0)  // disk with the Zip64 end record
            .U64(position)
            .U32(1);  // total disks
    }
    const std::uint16_t count16 = manyEntries ? kMarker16 : static_cast<std::uint16_t>(count);
    r.U32(kEndOfDirectorySignature)
        .U16(0)  // this disk
        .U16(0)  // disk with the central directory
        .U16(count16)
        .U16(count16)
        .U32(Low32(directorySize, bigSize))
        .U32(Low32(directoryOffset, bigOffset))
        .U16(0);  // comment length
    return r.data;
}

}  // namespace zipwrite
