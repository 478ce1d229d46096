#include "archive/ZipDirectory.h"

#include "common/ByteReader.h"
#include "archive/Cp437.h"
#include "archive/ZipError.h"
#include "archive/ZipFormat.h"

#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

using namespace zipformat;

namespace zipread {

std::uint64_t FileSize(const QIODevice& file) { return static_cast<std::uint64_t>(std::max<qint64>(file.size(), 0)); }

QByteArray ReadAt(QIODevice& device, std::uint64_t offset, std::size_t count)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return {};
    // A file is read with positioned reads: they leave its own position alone and cost one
    // system call instead of three. Any other device seeks.
    auto* file = qobject_cast<QFile*>(&device);
    if (file == nullptr || file->handle() < 0) {
        if (!device.seek(static_cast<qint64>(offset)))
            return {};
        return device.read(static_cast<qint64>(std::min<std::uint64_t>(count, FileSize(device) - std::min(offset, FileSize(device)))));
    }
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(file->handle(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    bytes.truncate(static_cast<qsizetype>(done));
    return bytes;
}

namespace {

// What a search for data descriptors may look at beyond a few times the archive.
constexpr std::uint64_t kScanSlack = 32 * 1024;

std::uint32_t Le32(const char* p)
{
    ByteReader reader(p, 4);
    return reader.U32();
}

// Splits a stored name into folder part and file name; "/" counts as "\".
void SetName(TZipEntry& entry, const QByteArray& rawName)
{
    QString name = (entry.Flags & kFlagUtf8) ? QString::fromUtf8(rawName) : Cp437ToUnicode(rawName);
    name.replace(u'/', u'\\');
    const qsizetype slash = name.lastIndexOf(u'\\');
    entry.FolderPart = name.left(slash + 1);
    entry.FileName = name.mid(slash + 1);
}

// Takes the 64-bit values of the Zip64 extra field for every field whose 32-bit form holds
// the marker, in the order the format fixes: uncompressed size, compressed size, offset.
void ApplyZip64Extra(TZipEntry& entry, const QByteArray& extra, bool hasOffset)
{
    ByteReader reader(extra.constData(), static_cast<std::size_t>(extra.size()));
    while (reader.Remaining() >= 4) {
        const std::uint16_t id = reader.U16();
        const std::uint16_t size = reader.U16();
        const std::uint8_t* data = reader.Bytes(size);
        if (!data)
            return;
        if (id != kZip64ExtraId)
            continue;
        ByteReader field(data, size);
        if (entry.UncompressedSize == kZip64Marker && field.Remaining() >= 8)
            entry.UncompressedSize = field.U64();
        if (entry.CompressedSize == kZip64Marker && field.Remaining() >= 8)
            entry.CompressedSize = field.U64();
        if (hasOffset && entry.LocalHeaderOffset == kZip64Marker && field.Remaining() >= 8)
            entry.LocalHeaderOffset = field.U64();
        return;
    }
}

// Reads `count` central-directory headers from [start, start + size), which must lie
// before `end`. Every header has to sit wholly inside that range, so a forged count or
// size cannot make the loop run longer than the bytes that are really there.
std::optional<std::vector<TZipEntry>> ReadCentralHeaders(QIODevice& file, std::uint64_t start, std::uint64_t size,
                                                         std::uint64_t count, std::uint64_t end)
{
    if (start > end || size > end - start)
        return std::nullopt;
    // The whole directory in one read: it lies within the file, so the file's size bounds it.
    const QByteArray directory = ReadAt(file, start, static_cast<std::size_t>(size));
    if (static_cast<std::uint64_t>(directory.size()) != size)
        return std::nullopt;
    const char* bytes = directory.constData();
    std::vector<TZipEntry> entries;  // grows with the headers read, never with the count
    std::uint64_t pos = 0;
    // An old-style count holds only 16 bits: with more entries it has wrapped, so records
    // are read on, beyond the count, while the directory's stated size has room for them.
    for (std::uint64_t i = 0;; ++i) {
        const bool required = i < count;
        ByteReader header(bytes + pos, static_cast<std::size_t>(std::min<std::uint64_t>(size - pos, kCentralHeaderSize)));
        if (size - pos < kCentralHeaderSize || header.U32() != kCentralHeaderSignature) {
            if (required)
                return std::nullopt;
            break;
        }
        TZipEntry entry;
        entry.VersionMadeBy = header.U16();
        entry.ReadSharedFields(header);
        const std::uint16_t nameLength = header.U16();
        const std::uint16_t extraLength = header.U16();
        const std::uint16_t commentLength = header.U16();
        header.Skip(2);  // disk number start
        header.Skip(2);  // internal attributes
        entry.ExternalAttributes = header.U32();
        entry.LocalHeaderOffset = header.U32();
        if (!header.Ok())
            return std::nullopt;
        const std::uint64_t variable = std::uint64_t{nameLength} + extraLength + commentLength;
        if (size - pos - kCentralHeaderSize < variable)
            return std::nullopt;
        const char* name = bytes + pos + kCentralHeaderSize;
        SetName(entry, QByteArray(name, nameLength));
        ApplyZip64Extra(entry, QByteArray::fromRawData(name + nameLength, extraLength), true);
        entries.push_back(std::move(entry));
        pos += kCentralHeaderSize + variable;
    }
    return entries;
}

bool HasLocalHeaderAt(QIODevice& file, std::uint64_t offset)
{
    const QByteArray bytes = ReadAt(file, offset, 4);
    return bytes.size() == 4 && Le32(bytes.constData()) == kLocalHeaderSignature;
}

struct Descriptor {
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t length = 0;
};

// Position of the next occurrence of `signature` at or after `from`, reading forward in
// blocks. `budget` caps the bytes looked at over all calls that share it.
std::optional<std::uint64_t> FindSignature(QIODevice& file, std::uint64_t from, std::uint32_t signature,
                                           std::uint64_t& budget)
{
    constexpr std::size_t kChunk = 64 * 1024;
    const std::uint64_t size = FileSize(file);
    while (from < size && size - from >= 4 && budget > 0) {
        const QByteArray chunk = ReadAt(file, from, kChunk);
        if (chunk.size() < 4)
            return std::nullopt;
        const qsizetype last = chunk.size() - 4;
        for (qsizetype i = 0; i <= last; ++i) {
            if (chunk[i] == 'P' && Le32(chunk.constData() + i) == signature)
                return from + static_cast<std::uint64_t>(i);
        }
        const auto advanced = static_cast<std::uint64_t>(last + 1);
        budget -= std::min(budget, advanced);
        from += advanced;
    }
    return std::nullopt;
}

// The data descriptor that ends an entry written without known sizes: the first one whose
// compressed size equals its distance from the data's start.
std::optional<Descriptor> FindDescriptor(QIODevice& file, std::uint64_t dataStart, std::uint64_t& budget)
{
    std::uint64_t from = dataStart;
    while (auto found = FindSignature(file, from, kDataDescriptorSignature, budget)) {
        const std::uint64_t distance = *found - dataStart;
        const QByteArray bytes = ReadAt(file, *found, 24);
        ByteReader reader(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        reader.Skip(4);
        Descriptor d;
        d.crc = reader.U32();
        const std::uint64_t afterCrc = reader.Position();
        const std::uint32_t size32 = reader.U32();
        const std::uint32_t usize32 = reader.U32();
        if (reader.Ok() && size32 == distance)
            return Descriptor{d.crc, size32, usize32, 16};
        ByteReader wide(bytes.constData() + afterCrc, static_cast<std::size_t>(bytes.size()) - afterCrc);
        const std::uint64_t size64 = wide.U64();
        const std::uint64_t usize64 = wide.U64();
        if (wide.Ok() && size64 == distance)
            return Descriptor{d.crc, size64, usize64, 24};
        from = *found + 4;
    }
    return std::nullopt;
}

// Rebuilds the entry list from the local headers when the central directory is unusable.
// Whatever the bytes claim, the scan stays linear in the archive's size: it resumes after
// each header's name (a header inside a name is no entry), takes at most one entry per 30
// bytes, and names no more bytes in all than the archive holds.
std::vector<TZipEntry> ScanLocalHeaders(QIODevice& file)
{
    const std::uint64_t size = FileSize(file);
    std::uint64_t scanBudget = std::numeric_limits<std::uint64_t>::max();
    // Searching for data descriptors may look at bytes again, but never at more than a few
    // times the file in all.
    std::uint64_t descriptorBudget = 4 * size + kScanSlack;
    const std::uint64_t maxEntries = size / kLocalHeaderSize + 1;
    std::uint64_t nameBytes = 0;
    std::vector<TZipEntry> entries;
    std::uint64_t pos = 0;
    while (auto found = FindSignature(file, pos, kLocalHeaderSignature, scanBudget)) {
        if (entries.size() >= maxEntries)
            break;
        const std::uint64_t at = *found;
        pos = at + 4;
        const QByteArray fixed = ReadAt(file, at, kLocalHeaderSize);
        ByteReader header(fixed.constData(), static_cast<std::size_t>(fixed.size()));
        header.Skip(4);  // signature
        TZipEntry entry;
        entry.ReadSharedFields(header);
        const std::uint16_t nameLength = header.U16();
        const std::uint16_t extraLength = header.U16();
        if (!header.Ok())
            break;
        const std::uint64_t dataStart = at + kLocalHeaderSize + nameLength + extraLength;
        if (dataStart > size)
            continue;  // a name running past the end: no header after all
        nameBytes += nameLength;
        if (nameBytes > size)
            break;
        pos = dataStart;
        const QByteArray nameAndExtra = ReadAt(file, at + kLocalHeaderSize, std::size_t{nameLength} + extraLength);
        if (nameAndExtra.size() != nameLength + extraLength)
            continue;
        SetName(entry, nameAndExtra.left(nameLength));
        ApplyZip64Extra(entry, nameAndExtra.mid(nameLength), false);
        entry.LocalHeaderOffset = at;
        if ((entry.Flags & kFlagDataDescriptor) && entry.CompressedSize == 0 && !entry.FileName.isEmpty()) {
            const auto descriptor = FindDescriptor(file, dataStart, descriptorBudget);
            if (!descriptor)
                continue;
            entry.Crc32 = descriptor->crc;
            entry.CompressedSize = descriptor->compressedSize;
            entry.UncompressedSize = descriptor->uncompressedSize;
            pos = dataStart + descriptor->compressedSize + descriptor->length;
        } else if (entry.CompressedSize <= size - dataStart) {
            pos = dataStart + entry.CompressedSize;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Where the central directory should be, as the end records give it.
struct DirectoryFigures {
    std::uint64_t count = 0;   // entries in all
    std::uint64_t size = 0;    // size of the central directory
    std::uint64_t offset = 0;  // its offset from the start of the archive
    std::uint64_t end = 0;     // where it must end: the (Zip64) end record
};

// The figures of the end record nearest to the archive's end, searched backwards, and of
// the Zip64 end record a locator right before it points at. Nothing without an end record.
std::optional<DirectoryFigures> ReadEndRecords(QIODevice& file, std::uint64_t size)
{
    const std::uint64_t tailStart = size - std::min<std::uint64_t>(size, kEndOfDirectorySearchSpan);
    const QByteArray tail = ReadAt(file, tailStart, static_cast<std::size_t>(size - tailStart));
    if (static_cast<std::uint64_t>(tail.size()) != size - tailStart)
        throw TZipError(QStringLiteral("Cannot read the archive: %1").arg(file.errorString()));
    qsizetype found = -1;
    for (qsizetype i = tail.size() - static_cast<qsizetype>(kEndOfDirectorySize); i >= 0; --i) {
        if (tail[i] == 'P' && Le32(tail.constData() + i) == kEndOfDirectorySignature) {
            found = i;
            break;
        }
    }
    if (found < 0)
        return std::nullopt;
    const std::uint64_t endRecord = tailStart + static_cast<std::uint64_t>(found);

    DirectoryFigures figures;
    ByteReader record(tail.constData() + found, kEndOfDirectorySize);
    record.Skip(4);                    // signature
    record.Skip(2);                    // number of this disk
    record.Skip(2);                    // disk where the central directory starts
    record.Skip(2);                    // entries on this disk
    figures.count = record.U16();      // entries in all
    figures.size = record.U32();       // size of the central directory
    figures.offset = record.U32();     // its offset from the start of the archive
    figures.end = endRecord;

    // A Zip64 locator right before the end record points at the 64-bit end record.
    if (endRecord < kZip64LocatorSize)
        return figures;
    const std::uint64_t locatorAt = endRecord - kZip64LocatorSize;
    const QByteArray locatorBytes = ReadAt(file, locatorAt, kZip64LocatorSize);
    ByteReader locator(locatorBytes.constData(), static_cast<std::size_t>(locatorBytes.size()));
    if (locator.U32() != kZip64LocatorSignature)
        return figures;
    locator.Skip(4);  // disk with the Zip64 end record
    const std::uint64_t recordAt = locator.U64();
    if (!locator.Ok() || recordAt > locatorAt || locatorAt - recordAt < kZip64EndOfDirectorySize)
        return figures;
    const QByteArray bytes = ReadAt(file, recordAt, kZip64EndOfDirectorySize);
    ByteReader zip64(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (zip64.U32() != kZip64EndOfDirectorySignature)
        return figures;
    zip64.Skip(8);  // size of the rest of the record
    zip64.Skip(4);  // versions made by and needed
    zip64.Skip(8);  // number of this disk, disk where the directory starts
    zip64.Skip(8);  // entries on this disk
    const std::uint64_t count64 = zip64.U64();
    const std::uint64_t size64 = zip64.U64();
    const std::uint64_t offset64 = zip64.U64();
    if (zip64.Ok())
        figures = {count64, size64, offset64, recordAt};
    return figures;
}

}  // namespace

Directory ReadArchiveDirectory(QIODevice& file)
{
    Directory directory;
    const std::uint64_t size = FileSize(file);
    if (size == 0)
        return directory;  // an archive without entries
    const std::optional<DirectoryFigures> figures =
        size < kEndOfDirectorySize ? std::nullopt : ReadEndRecords(file, size);
    if (!figures) {
        directory.state = DirectoryState::Incomplete;
        return directory;
    }
    const std::uint64_t count = figures->count;
    const std::uint64_t dirSize = figures->size;
    const std::uint64_t dirOffset = figures->offset;
    const std::uint64_t dirEnd = figures->end;

    if (count == 0)
        return directory;
    if (auto entries = ReadCentralHeaders(file, dirOffset, dirSize, count, dirEnd)) {
        directory.entries = std::move(*entries);
        return directory;
    }
    // The directory may still end right where its end record begins while its stored offset
    // is wrong: either the offset field alone is damaged, or data put before the archive (a
    // self-extractor's program) shift every stored offset by the same amount. The first
    // local header tells the two apart.
    if (dirSize <= dirEnd && dirEnd - dirSize != dirOffset) {
        const std::uint64_t start = dirEnd - dirSize;
        if (auto entries = ReadCentralHeaders(file, start, dirSize, count, dirEnd)) {
            const std::uint64_t shift = start - dirOffset;  // modulo 2^64, like the offsets
            const std::uint64_t first =
                std::min_element(entries->begin(), entries->end(), [](const TZipEntry& a, const TZipEntry& b) {
                    return a.LocalHeaderOffset < b.LocalHeaderOffset;
                })->LocalHeaderOffset;
            const bool shifted = !HasLocalHeaderAt(file, first) && HasLocalHeaderAt(file, first + shift);
            if (shifted) {
                for (TZipEntry& entry : *entries)
                    entry.LocalHeaderOffset += shift;
            }
            if (shifted || HasLocalHeaderAt(file, first)) {
                directory.entries = std::move(*entries);
                return directory;
            }
        }
    }
    directory.entries = ScanLocalHeaders(file);
    if (directory.entries.empty())
        throw TZipError(QStringLiteral("Not a valid zip file!"));
    return directory;
}

}  // namespace zipread
