#include "archive/TZipExtractor.h"

#include "archive/ByteReader.h"
#include "archive/Cp437.h"
#include "archive/DosTime.h"
#include "archive/LegacyDecoders.h"
#include "archive/Wildcard.h"
#include "archive/ZipError.h"
#include "archive/ZipFormat.h"
#include "common/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

using namespace zipformat;

namespace {

// Archive data are read, and output written, in blocks of this size at most, so memory
// never depends on the sizes an archive claims.
// Compressed data are read in blocks of this size, and the windows may take their messages
// before each; what comes out is written in larger pieces, to make fewer system calls.
constexpr std::size_t kBlockSize = 32 * 1024;
constexpr std::size_t kOutputBlock = 256 * 1024;

// Output that runs past the entry's declared size: the entry is passed over silently.
class EntryTooLargeError : public TZipError {
public:
    EntryTooLargeError() : TZipError(QStringLiteral("File is larger than uncompressed size!")) {}
};

[[noreturn]] void ThrowPrematureEnd() { throw TZipError(QStringLiteral("Premature end of file reached")); }
[[noreturn]] void ThrowDamaged() { throw TZipError(QStringLiteral("error")); }

std::uint64_t FileSize(const QFile& file) { return static_cast<std::uint64_t>(std::max<qint64>(file.size(), 0)); }

// Up to `count` bytes at `offset`, fewer where the file ends.
// Up to `count` bytes from `offset`, fewer at the end of the file. Positioned reads leave
// the file's own position alone and cost one system call instead of three (a directory of
// thousands of entries is read with a few small reads each).
QByteArray ReadAt(QFile& file, std::uint64_t offset, std::size_t count)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return {};
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(file.handle(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    bytes.truncate(static_cast<qsizetype>(done));
    return bytes;
}

std::uint32_t Le32(const char* p)
{
    ByteReader reader(p, 4);
    return reader.U32();
}

void OpenArchive(QFile& file)
{
    if (QFileInfo(file.fileName()).isDir())
        throw TZipError(QStringLiteral("Cannot open the archive %1: it is a folder").arg(file.fileName()));
    if (!file.open(QIODevice::ReadOnly))
        throw TZipError(QStringLiteral("Cannot open the archive %1: %2").arg(file.fileName(), file.errorString()));
}

// ---- directory -------------------------------------------------------------------------

enum class DirectoryState {
    Complete,
    Incomplete,  // no end record: a cut archive, one part of a split one, or no archive
};

struct Directory {
    DirectoryState state = DirectoryState::Complete;
    std::vector<TZipEntry> entries;
};

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

// The fields that local and central headers share, in the same order: from "version needed
// to extract" up to the uncompressed size.
void ReadSharedFields(ByteReader& header, TZipEntry& entry)
{
    header.Skip(2);  // version needed to extract
    entry.Flags = header.U16();
    entry.Method = header.U16();
    entry.DosTime = header.U16();
    entry.DosDate = header.U16();
    entry.Crc32 = header.U32();
    entry.CompressedSize = header.U32();
    entry.UncompressedSize = header.U32();
}

// Reads `count` central-directory headers from [start, start + size), which must lie
// before `end`. Every header has to sit wholly inside that range, so a forged count or
// size cannot make the loop run longer than the bytes that are really there.
std::optional<std::vector<TZipEntry>> ReadCentralHeaders(QFile& file, std::uint64_t start, std::uint64_t size,
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
        ReadSharedFields(header, entry);
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

bool HasLocalHeaderAt(QFile& file, std::uint64_t offset)
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
std::optional<std::uint64_t> FindSignature(QFile& file, std::uint64_t from, std::uint32_t signature,
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
std::optional<Descriptor> FindDescriptor(QFile& file, std::uint64_t dataStart, std::uint64_t& budget)
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
std::vector<TZipEntry> ScanLocalHeaders(QFile& file)
{
    const std::uint64_t size = FileSize(file);
    std::uint64_t scanBudget = std::numeric_limits<std::uint64_t>::max();
    // Searching for data descriptors may look at bytes again, but never at more than a few
    // times the file in all.
    std::uint64_t descriptorBudget = 4 * size + kBlockSize;
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
        ReadSharedFields(header, entry);
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

Directory ReadArchiveDirectory(QFile& file)
{
    Directory directory;
    const std::uint64_t size = FileSize(file);
    if (size == 0)
        return directory;  // an archive without entries
    if (size < kEndOfDirectorySize) {
        directory.state = DirectoryState::Incomplete;
        return directory;
    }

    // The end record is searched backwards; the occurrence nearest to the end wins.
    const std::uint64_t tailStart = size - std::min<std::uint64_t>(size, kEndOfDirectorySearchSpan);
    const QByteArray tail = ReadAt(file, tailStart, static_cast<std::size_t>(size - tailStart));
    if (static_cast<std::uint64_t>(tail.size()) != size - tailStart)
        throw TZipError(QStringLiteral("Cannot read the archive %1: %2").arg(file.fileName(), file.errorString()));
    qsizetype found = -1;
    for (qsizetype i = tail.size() - static_cast<qsizetype>(kEndOfDirectorySize); i >= 0; --i) {
        if (tail[i] == 'P' && Le32(tail.constData() + i) == kEndOfDirectorySignature) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        directory.state = DirectoryState::Incomplete;
        return directory;
    }
    const std::uint64_t endRecord = tailStart + static_cast<std::uint64_t>(found);

    ByteReader record(tail.constData() + found, kEndOfDirectorySize);
    record.Skip(4);                           // signature
    record.Skip(2);                           // number of this disk
    record.Skip(2);                           // disk where the central directory starts
    record.Skip(2);                           // entries on this disk
    std::uint64_t count = record.U16();       // entries in all
    std::uint64_t dirSize = record.U32();     // size of the central directory
    std::uint64_t dirOffset = record.U32();   // its offset from the start of the archive
    std::uint64_t dirEnd = endRecord;         // where the central directory must end

    // A Zip64 locator right before the end record points at the 64-bit end record.
    if (endRecord >= kZip64LocatorSize) {
        const std::uint64_t locatorAt = endRecord - kZip64LocatorSize;
        const QByteArray locatorBytes = ReadAt(file, locatorAt, kZip64LocatorSize);
        ByteReader locator(locatorBytes.constData(), static_cast<std::size_t>(locatorBytes.size()));
        if (locator.U32() == kZip64LocatorSignature) {
            locator.Skip(4);  // disk with the Zip64 end record
            const std::uint64_t recordAt = locator.U64();
            if (locator.Ok() && recordAt <= locatorAt && locatorAt - recordAt >= kZip64EndOfDirectorySize) {
                const QByteArray bytes = ReadAt(file, recordAt, kZip64EndOfDirectorySize);
                ByteReader zip64(bytes.constData(), static_cast<std::size_t>(bytes.size()));
                if (zip64.U32() == kZip64EndOfDirectorySignature) {
                    zip64.Skip(8);  // size of the rest of the record
                    zip64.Skip(4);  // versions made by and needed
                    zip64.Skip(8);  // number of this disk, disk where the directory starts
                    zip64.Skip(8);  // entries on this disk
                    const std::uint64_t count64 = zip64.U64();
                    const std::uint64_t size64 = zip64.U64();
                    const std::uint64_t offset64 = zip64.U64();
                    if (zip64.Ok()) {
                        count = count64;
                        dirSize = size64;
                        dirOffset = offset64;
                        dirEnd = recordAt;
                    }
                }
            }
        }
    }

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

// ---- output paths ----------------------------------------------------------------------

enum class PathKind { Missing, Folder, File, Other };  // Other: links, devices, pipes, errors

// What is at `path` itself, without following a symbolic link.
// What is at `path`, without following a link; `info` receives its status when given.
PathKind KindOf(const QString& path, struct stat* status = nullptr)
{
    struct stat own {};
    struct stat& info = status != nullptr ? *status : own;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    if (S_ISDIR(info.st_mode))
        return PathKind::Folder;
    if (S_ISREG(info.st_mode))
        return PathKind::File;
    return PathKind::Other;
}

QString JoinNative(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// The destination folder without trailing separators; the current folder when empty.
QString DestinationRoot(QString dest)
{
    while (dest.size() > 1 && (dest.endsWith(u'/') || dest.endsWith(u'\\')))
        dest.chop(1);
    return dest.isEmpty() ? QStringLiteral(".") : dest;
}

// The folders to create below the destination for a stored folder part, or nothing when
// the stored path could lead anywhere else. A leading "\" or drive means "from the
// destination", never from the file system's root.
std::optional<QStringList> FolderComponents(const TZipEntry& entry)
{
    QString folder = entry.FolderPart;
    if (folder.size() >= 2 && folder[1] == u':' && folder[0].isLetter() && folder[0].unicode() < 128)
        folder.remove(0, 2);
    QStringList parts;
    for (const QString& part : folder.split(u'\\', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part == u".")
            continue;
        parts.append(part);
    }
    return parts;
}

// A name that could not be written inside the destination as given: it climbs with "..",
// names the folder itself, or holds a NUL, which the file system would cut the path at.
bool IsUnsafeName(const TZipEntry& entry)
{
    if (entry.FolderPart.contains(QChar(0)) || entry.FileName.contains(QChar(0)))
        return true;
    if (entry.FileName == u"." || entry.FileName == u"..")
        return true;
    return entry.FolderPart.split(u'\\').contains(QStringLiteral(".."));
}

// Entries of a Unix host that are neither files nor folders: symbolic links, devices,
// pipes and sockets are never made from an archive.
bool IsSpecialUnixFile(const TZipEntry& entry)
{
    if ((entry.VersionMadeBy >> 8) != kHostUnix)
        return false;
    const std::uint32_t type = (entry.ExternalAttributes >> 16) & S_IFMT;
    return type != 0 && type != S_IFREG && type != S_IFDIR;
}

// The MS-DOS attributes an entry carries; a Unix host's write bit counts too.
std::uint32_t DosAttributesOfEntry(const TZipEntry& entry)
{
    std::uint32_t attributes = entry.ExternalAttributes & 0xFF;
    const std::uint32_t mode = entry.ExternalAttributes >> 16;
    if ((entry.VersionMadeBy >> 8) == kHostUnix && mode != 0 && !(mode & S_IWUSR))
        attributes |= kDosReadOnly;
    return attributes;
}

// Creates the output folder below `root` one level at a time, so that no existing symbolic
// link inside the destination is ever followed. Empty when a level cannot be made.
std::optional<QString> MakeOutputFolder(const QString& root, const QStringList& components)
{
    if (!QFileInfo(root).isDir() && !QDir().mkpath(root))
        return std::nullopt;
    QString path = root;
    for (const QString& part : components) {
        path = JoinNative(path, part);
        switch (KindOf(path)) {
        case PathKind::Folder:
            break;
        case PathKind::Missing:
            if (!QDir().mkdir(path) && KindOf(path) != PathKind::Folder)
                return std::nullopt;
            break;
        case PathKind::File:
        case PathKind::Other:
            return std::nullopt;
        }
    }
    return path;
}

bool IsKnownMethod(std::uint16_t method)
{
    return method == kMethodStored || (method >= kMethodShrunk && method <= kMethodImploded)
           || method == kMethodDeflated;
}

// ---- entry data ------------------------------------------------------------------------

// Where an entry's data begin: after its local header, whose name and extra field may
// differ in length from the central directory's copy.
std::uint64_t LocateData(QFile& file, const TZipEntry& entry)
{
    const QByteArray fixed = ReadAt(file, entry.LocalHeaderOffset, kLocalHeaderSize);
    if (static_cast<std::size_t>(fixed.size()) < kLocalHeaderSize)
        ThrowPrematureEnd();
    ByteReader header(fixed.constData(), kLocalHeaderSize);
    if (header.U32() != kLocalHeaderSignature)
        ThrowDamaged();
    header.Skip(22);
    const std::uint16_t nameLength = header.U16();
    const std::uint16_t extraLength = header.U16();
    const std::uint64_t dataStart = entry.LocalHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
    if (dataStart > FileSize(file))
        ThrowPrematureEnd();
    return dataStart;
}

// The entry's compressed bytes, handed out in blocks of at most kBlockSize.
class EntryInput {
public:
    EntryInput(QFile& file, std::uint64_t size, std::function<void()> beforeBlock)
        : file_(file), remaining_(size), beforeBlock_(std::move(beforeBlock))
    {
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t capacity)
    {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>({capacity, kBlockSize, remaining_}));
        if (count == 0)
            return 0;
        beforeBlock_();
        if (file_.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(count)) != static_cast<qint64>(count))
            ThrowPrematureEnd();
        remaining_ -= count;
        return count;
    }

private:
    QFile& file_;
    std::uint64_t remaining_;
    std::function<void()> beforeBlock_;
};

// The file an entry goes to. When nothing has the entry's name yet, that name itself,
// created exclusively (so nothing of another writer is touched and no link followed);
// otherwise a temporary name beside it that takes the old file's place only when complete,
// so a damaged member never costs the older file. Removed again unless committed.
class OutputFile {
public:
    OutputFile(const QString& folder, const QString& path, bool replacing) : target_(QFile::encodeName(path))
    {
        constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
        if (!replacing) {
            fd_ = ::open(target_.constData(), kFlags, 0600);
            if (fd_ >= 0) {
                name_ = target_;
                return;
            }
            if (errno != EEXIST)
                return;  // and if another writer made it meanwhile, it is replaced like any other
        }
        static std::atomic<unsigned> counter{0};
        const QByteArray prefix = QFile::encodeName(folder) + "/.zvk-" + QByteArray::number(::getpid()) + '-';
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            name_ = prefix + QByteArray::number(++counter);
            fd_ = ::open(name_.constData(), kFlags, 0600);
            if (fd_ < 0 && errno != EEXIST)
                break;
        }
    }
    ~OutputFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (opened_ && !committed_)
            ::unlink(name_.constData());
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open() { return opened_ = fd_ >= 0; }

    bool Write(const std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t written = ::write(fd_, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    // Mode and time go on the open file, then it takes its name; `stillWanted` is asked
    // right before a temporary file replaces the old one. An error's text, or nothing.
    std::optional<QString> Commit(mode_t mode, std::int64_t modified, const std::function<bool()>& stillWanted)
    {
        const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(modified), 0}};
        if (::fchmod(fd_, mode) != 0 || ::futimens(fd_, times) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        fd_ = -1;
        if (name_ != target_) {
            if (!stillWanted())
                return QString();
            // rename() replaces an existing file in one step.
            if (std::rename(name_.constData(), target_.constData()) != 0)
                return QString::fromLocal8Bit(std::strerror(errno));
        }
        committed_ = true;
        return std::nullopt;
    }

private:
    QByteArray target_;
    QByteArray name_;
    int fd_ = -1;
    bool opened_ = false;
    bool committed_ = false;
};

// Writes decompressed data, keeping their CRC-32 and refusing more than the declared size.
class EntryOutput {
public:
    // `budget` is what the whole extraction may still write of `total`; it shrinks as this
    // entry grows.
    EntryOutput(OutputFile& file, std::uint64_t limit, std::uint64_t& budget, std::uint64_t total)
        : file_(file), limit_(limit), budget_(budget), total_(total)
    {
    }

    void Write(const std::uint8_t* data, std::size_t size)
    {
        if (size > limit_ - written_)
            throw EntryTooLargeError();
        if (size > budget_)
            throw TZipError(QStringLiteral("The archive would write more than %1 MiB in all").arg(total_ >> 20));
        budget_ -= size;
        if (!file_.Write(data, size))
            throw TZipError(QStringLiteral("Cant write uncompressed file"));
        crc_ = crc32_z(crc_, data, size);
        written_ += size;
    }

    std::uint32_t Crc() const { return static_cast<std::uint32_t>(crc_); }

private:
    OutputFile& file_;
    std::uint64_t limit_;
    std::uint64_t& budget_;
    std::uint64_t total_;
    std::uint64_t written_ = 0;
    uLong crc_ = crc32_z(0, nullptr, 0);
};

void CopyStored(EntryInput& input, EntryOutput& output)
{
    std::vector<std::uint8_t> buffer(kBlockSize);
    while (const std::size_t count = input.Read(buffer.data(), buffer.size()))
        output.Write(buffer.data(), count);
}

void Inflate(EntryInput& input, EntryOutput& output)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        ThrowDamaged();
    struct Release {
        z_stream& s;
        ~Release() { inflateEnd(&s); }
    } release{stream};

    std::vector<std::uint8_t> in(kBlockSize);
    std::vector<std::uint8_t> out(kOutputBlock);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            const std::size_t count = input.Read(in.data(), in.size());
            if (count == 0)
                ThrowDamaged();  // the compressed data end before the stream does
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(count);
        }
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            ThrowDamaged();
        const std::size_t produced = out.size() - stream.avail_out;
        if (produced > 0)
            output.Write(out.data(), produced);
    }
}

}  // namespace

// ---- TZipExtractor ---------------------------------------------------------------------

void TZipExtractor::ReadDirectory()
{
    QFile archive(ZipName);
    OpenArchive(archive);
    LoadDirectory(archive);
}

void TZipExtractor::LoadDirectory(QFile& archive)
{
    // The directory read for the listing serves the extraction too, while the archive is
    // the same file, unchanged.
    struct stat status {};
    const bool known = ::fstat(archive.handle(), &status) == 0;
    const DirectoryKey key{ZipName, status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec,
                           status.st_mtim.tv_nsec};
    if (known && directoryKey_ == key)
        return;
    Directory directory = ReadArchiveDirectory(archive);
    entries_ = std::move(directory.entries);
    directoryComplete_ = directory.state == DirectoryState::Complete;
    directoryKey_ = known ? std::optional<DirectoryKey>(key) : std::nullopt;
}

int TZipExtractor::ExtractSelected()
{
    QFile archive(ZipName);
    OpenArchive(archive);
    LoadDirectory(archive);
    if (!directoryComplete_)
        throw TZipError(QStringLiteral("Incomplete Zip File"));

    const QString root = DestinationRoot(DestDir);
    if (!QFileInfo(root).isDir() && (!QDir().mkpath(root) || !QFileInfo(root).isDir()))
        throw TZipError(QStringLiteral("Cannot create the folder %1").arg(root));

    std::vector<Wildcard> wildcards;
    if (!DoAll) {
        for (const QString& pattern : FilesList)
            wildcards.emplace_back(pattern.toLower());
    }
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        PumpMessages();
        const TZipEntry& entry = entries_[i];
        if (entry.FileName.isEmpty() && !RecreateDirs)
            continue;
        const QString name = (entry.FolderPart + entry.FileName).toLower();
        if (DoAll || std::any_of(wildcards.begin(), wildcards.end(),
                                 [&name](const Wildcard& w) { return w.Matches(name); }))
            selected.push_back(i);
    }
    std::stable_sort(selected.begin(), selected.end(), [this](std::size_t a, std::size_t b) {
        return entries_[a].LocalHeaderOffset < entries_[b].LocalHeaderOffset;
    });

    int count = 0;
    std::uint64_t dataEnd = 0;
    std::uint64_t budget = MaxTotalSize;
    for (const std::size_t index : selected) {
        if (ExtractEntry(archive, entries_[index], root, dataEnd, budget))
            ++count;
    }
    FilesList.clear();
    return count;
}

bool TZipExtractor::MayReplace(const TZipEntry& entry, const QString& path, std::int64_t modified) const
{
    const std::uint32_t entryStamp = NormaliseDosDateTime({entry.DosTime, entry.DosDate}).Packed();
    const std::uint32_t fileStamp = ToDosDateTime(modified).Packed();
    switch (OverwriteMode) {
    case TOverwriteMode::Always:
        return true;
    case TOverwriteMode::Never:
        return false;
    case TOverwriteMode::ifNewer:
        return entryStamp > fileStamp;
    case TOverwriteMode::ifOlder:
        return entryStamp < fileStamp;
    case TOverwriteMode::Prompt:
        return UserPrompts
               && UserPrompts->Confirm(QStringLiteral("Confirm"),
                                       QStringLiteral("Replace the existing file %1?").arg(path));
    }
    return false;
}

bool TZipExtractor::PassOver(const TZipEntry& entry, const QString& reason) const
{
    if (OnPassedOver)
        OnPassedOver(entry, reason);
    return false;
}

bool TZipExtractor::ExtractEntry(QFile& archive, const TZipEntry& entry, const QString& root, std::uint64_t& dataEnd,
                                 std::uint64_t& budget)
{
    if (IsUnsafeName(entry))
        return PassOver(entry, QStringLiteral("its name is not safe to write"));
    if (IsSpecialUnixFile(entry))
        return PassOver(entry, QStringLiteral("it is a link or a device"));
    const std::optional<QStringList> components = FolderComponents(entry);
    if (!components)
        return PassOver(entry, QStringLiteral("its folder leads outside the destination"));
    const std::optional<QString> folder = MakeOutputFolder(root, RecreateDirs ? *components : QStringList());
    if (!folder)
        return PassOver(entry, QStringLiteral("its folder cannot be created"));

    if (entry.FileName.isEmpty()) {
        // A read-only folder would refuse its own files here, so folders stay writable.
        if (RetainAttributes)
            ApplyDosAttributes(*folder, DosAttributesOfEntry(entry) & ~kDosReadOnly);
        return true;
    }
    if (entry.Flags & kFlagEncrypted)
        return PassOver(entry, QStringLiteral("it is encrypted"));

    const QString path = JoinNative(*folder, entry.FileName);
    struct stat existing {};
    const PathKind kind = KindOf(path, &existing);
    switch (kind) {
    case PathKind::Missing:
        break;
    case PathKind::File:
        if (!MayReplace(entry, path, existing.st_mtim.tv_sec))
            return false;
        if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            if (!ReplaceReadOnly || !ApplyDosAttributes(path, 0))
                return PassOver(entry, QStringLiteral("the file it would replace is read-only"));
        }
        break;
    case PathKind::Folder:
    case PathKind::Other:
        // never write into or through a link, device or folder
        return PassOver(entry, QStringLiteral("a folder, link or device stands in its place"));
    }

    // Cache files can be extracted again, so unlike the user's own files they are not synced
    // to disk one by one.
    OutputFile output(*folder, path, kind == PathKind::File);
    if (!output.Open())
        return PassOver(entry, QStringLiteral("its folder cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (!IsKnownMethod(entry.Method)) {
        if (UserPrompts)
            UserPrompts->Message(QStringLiteral("Zip Error"), QStringLiteral("Unknown Compression Method"));
        return PassOver(entry, QStringLiteral("unknown compression method %1").arg(entry.Method));
    }
    // Entries whose data overlap an earlier entry's are a trick to multiply a small archive
    // into huge output; honest archives never share bytes between entries.
    if (entry.LocalHeaderOffset < dataEnd)
        return PassOver(entry, QStringLiteral("its data overlap another entry's"));
    const std::uint64_t dataStart = LocateData(archive, entry);
    dataEnd = dataStart + std::min(entry.CompressedSize, std::numeric_limits<std::uint64_t>::max() - dataStart);
    if (!archive.seek(static_cast<qint64>(dataStart)))
        ThrowPrematureEnd();

    std::uint32_t crc = 0;
    try {
        EntryInput input(archive, entry.CompressedSize, [this] { PumpMessages(); });
        EntryOutput sink(output, entry.UncompressedSize, budget, MaxTotalSize);
        const ZipByteSource source = [&input](std::uint8_t* buffer, std::size_t capacity) {
            return input.Read(buffer, capacity);
        };
        const ZipByteSink write = [&sink](const std::uint8_t* data, std::size_t size) { sink.Write(data, size); };
        switch (entry.Method) {
        case kMethodStored:
            CopyStored(input, sink);
            break;
        case kMethodShrunk:
            Unshrink(source, write, entry.UncompressedSize);
            break;
        case kMethodImploded:
            Explode(source, write, entry.UncompressedSize, entry.Flags);
            break;
        case kMethodDeflated:
            Inflate(input, sink);
            break;
        default:
            Unreduce(source, write, entry.UncompressedSize, entry.Method - 1);
            break;
        }
        crc = sink.Crc();
    } catch (const EntryTooLargeError&) {
        return PassOver(entry, QStringLiteral("it holds more than its stated size"));
    }

    if (entry.Crc32 != 0 && crc != entry.Crc32)
        return PassOver(entry, QStringLiteral("its CRC-32 does not match"));

    // Time and mode are settled on the open file before it takes its name, so the file at
    // `path` always has bytes, time and mode of one member, whatever else writes there.
    mode_t mode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
    if (RetainAttributes && (DosAttributesOfEntry(entry) & kDosReadOnly))
        mode &= ~static_cast<mode_t>(S_IWUSR);
    // Another extraction may have put a newer member here since the check above; it stays.
    const auto stillWanted = [&] {
        struct stat now {};
        return OverwriteMode != TOverwriteMode::ifNewer || KindOf(path, &now) != PathKind::File ||
               MayReplace(entry, path, now.st_mtim.tv_sec);
    };
    if (const std::optional<QString> failure =
            output.Commit(mode, SecondsSinceEpoch({entry.DosTime, entry.DosDate}), stillWanted)) {
        return failure->isEmpty() ? false : PassOver(entry, QStringLiteral("it cannot be put in place: ") + *failure);
    }
    return true;
}
