#include "archive/TZipWriter.h"

#include "archive/DosTime.h"
#include "archive/Wildcard.h"
#include "archive/ZipError.h"
#include "archive/ZipFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace zipformat;

// A 16-bit count holding this value says "look in the Zip64 end record".
constexpr std::uint16_t kMarker16 = 0xFFFF;
// Size of the Zip64 end record after its signature and size field.
constexpr std::uint64_t kZip64EndRemainder = kZip64EndOfDirectorySize - 12;

// APPNOTE 4.5; high byte 0 says the host is MS-DOS, so external attributes are MS-DOS bits.
constexpr std::uint16_t kVersionMadeBy = 45;
constexpr std::uint16_t kVersionNeeded = 20;       // deflate
constexpr std::uint16_t kVersionNeededZip64 = 45;  // Zip64 records

constexpr qint64 kReadChunk = 65535;
constexpr qint64 kWriteChunk = 65536;

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

// The fields that local and central headers share, in the same order: from "version needed
// to extract" up to the uncompressed size. A size flagged big holds the Zip64 marker.
template <class Entry>
void PutSharedFields(Record& r, const Entry& entry, bool bigCompressed, bool bigOriginal)
{
    r.U16(entry.versionNeeded)
        .U16(entry.flags)
        .U16(entry.method)
        .U16(entry.dosTime)
        .U16(entry.dosDate)
        .U32(entry.crc)
        .U32(Low32(entry.compressedSize, bigCompressed))
        .U32(Low32(entry.uncompressedSize, bigOriginal));
}

// Names compare without regard to ASCII letter case, as on the file systems the format
// grew up on; other characters compare exactly.
QString AsciiLower(QString text)
{
    for (QChar& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return text;
}

bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A mask's name part "*.*" stands for every file, with or without a dot.
QString NamePattern(QString pattern)
{
    if (pattern.isEmpty() || pattern == u"*.*")
        pattern = QStringLiteral("*");
    return pattern.toLower();
}

// Masks with a folder part are matched against the file's absolute path, others against
// its name.
bool MatchesAnyMask(const QStringList& masks, const QFileInfo& file)
{
    for (const QString& mask : masks) {
        const qsizetype slash = mask.lastIndexOf(u'/');
        if (slash < 0) {
            if (MatchesWildcard(NamePattern(mask), file.fileName().toLower()))
                return true;
        } else {
            const QString pattern = mask.left(slash + 1).toLower() + NamePattern(mask.mid(slash + 1));
            if (MatchesWildcard(pattern, file.absoluteFilePath().toLower()))
                return true;
        }
    }
    return false;
}

class Deflater {
public:
    explicit Deflater(int level)
    {
        // Raw deflate (negative window bits): ZIP carries no zlib wrapper.
        if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw TZipError(QStringLiteral("Cannot start the deflate compressor"));
    }
    ~Deflater() { deflateEnd(&stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    z_stream stream{};
};

}  // namespace

// The archive being written, with the compressor and buffers shared by all entries.
class TZipWriter::Session {
public:
    Session(const QString& zipName, int level) : zipName_(zipName), file_(zipName)
    {
        if (level > 0)
            deflater = std::make_unique<Deflater>(level);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw TZipError(QStringLiteral("Cannot create the archive %1: %2").arg(zipName_, file_.errorString()));
    }

    void Write(const char* data, qint64 size)
    {
        errno = 0;
        if (size > 0 && file_.write(data, size) != size)
            Fail();
        pos_ += static_cast<std::uint64_t>(size);
        end_ = std::max(end_, pos_);
    }
    void Write(const QByteArray& bytes) { Write(bytes.constData(), bytes.size()); }

    std::uint64_t Pos() const { return pos_; }

    void Seek(std::uint64_t pos)
    {
        errno = 0;
        if (!file_.seek(static_cast<qint64>(pos)))
            Fail();
        pos_ = pos;
    }

    // Cuts off what a passed-over entry left beyond the end and renames the file into place.
    void Commit()
    {
        errno = 0;
        if (end_ > pos_ && !file_.resize(static_cast<qint64>(pos_)))
            Fail();
        if (!file_.commit())
            Fail();
    }

    std::unique_ptr<Deflater> deflater;
    std::vector<char> input = std::vector<char>(kReadChunk);
    std::vector<char> output = std::vector<char>(kWriteChunk);

private:
    [[noreturn]] void Fail()
    {
        // Qt's text for a failed write is often "Unknown error"; the system's says why. The
        // temporary file goes with the QSaveFile when the error unwinds.
        const int error = errno;
        throw TZipError(QStringLiteral("Cannot write the archive %1: %2")
                            .arg(zipName_, error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file_.errorString()));
    }

    QString zipName_;
    QSaveFile file_;
    std::uint64_t pos_ = 0;
    std::uint64_t end_ = 0;
};

struct TZipWriter::Search {
    explicit Search(const QString& namePattern) : pattern(namePattern) {}

    Wildcard pattern;         // lower-case name pattern
    QString archivePath;      // ZipName, absolute and clean
    QString archiveCanonical; // ZipName through its links, when it exists
    QSet<QString> visited;    // folders searched: linked folders can form cycles
    std::vector<Found> found;
};

int TZipWriter::WriteArchive()
{
    if (!Password.isEmpty())
        throw TZipError(QStringLiteral("Encrypted archives are not supported"));

    // The search runs to its end before the archive is opened, so the temporary file can
    // never be found.
    const std::vector<Found> found = ExpandMasks();

    Session session(ZipName, std::clamp(PackLevel, 0, 9));
    std::vector<Written> entries;
    QSet<QString> names;
    int added = 0;
    for (const Found& item : found) {
        PumpMessages();
        const QString key = AsciiLower(item.entryName);
        if (names.contains(key))
            continue;
        Written entry;
        if (IsAscii(item.entryName)) {
            entry.name = item.entryName.toLatin1();
        } else {
            entry.name = item.entryName.toUtf8();
            entry.flags |= kFlagUtf8;
        }
        if (entry.name.size() > 0xFFFF)
            continue;
        if (item.folder) {
            AddFolder(session, item, entry);
        } else {
            if (!AddFile(session, item, entry))
                continue;
            ++added;
        }
        names.insert(key);
        entries.push_back(std::move(entry));
    }
    PumpMessages();
    WriteCentralDirectory(session, entries);
    session.Commit();
    return added;
}

std::vector<TZipWriter::Found> TZipWriter::ExpandMasks() const
{
    std::vector<Found> found;
    const QFileInfo archive(ZipName);
    for (const QString& mask : FilesList) {
        const qsizetype slash = mask.lastIndexOf(u'/');
        Search search(NamePattern(mask.mid(slash + 1)));
        search.archivePath = QDir::cleanPath(archive.absoluteFilePath());
        search.archiveCanonical = archive.canonicalFilePath();
        SearchFolder(search, slash < 0 ? QStringLiteral(".") : mask.left(slash + 1), QString());
        std::move(search.found.begin(), search.found.end(), std::back_inserter(found));
    }
    return found;
}

void TZipWriter::SearchFolder(Search& search, const QString& folder, const QString& storedPrefix) const
{
    const QDir dir(folder);
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty() || search.visited.contains(canonical))
        return;
    search.visited.insert(canonical);

    // Special files (pipes, devices) are left out by the filter: reading them could block.
    QFileInfoList items =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    // Name order, independent of locale and file system, so the same folder gives the same archive.
    std::sort(items.begin(), items.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });

    for (const QFileInfo& item : items) {
        if (!item.isFile() || !search.pattern.Matches(item.fileName().toLower()) || !Wanted(search, item))
            continue;
        search.found.push_back({item.filePath(), StorePaths ? storedPrefix + item.fileName() : item.fileName(), false});
    }
    if (!Recurse)
        return;
    for (const QFileInfo& item : items) {
        if (!item.isDir())
            continue;
        const QString prefix = storedPrefix + item.fileName() + u'/';
        if (StorePaths && AddDirEntriesOnRecurse)
            search.found.push_back({item.filePath(), prefix, true});
        SearchFolder(search, item.filePath(), prefix);
    }
}

bool TZipWriter::Wanted(const Search& search, const QFileInfo& file) const
{
    const std::uint32_t attributes = DosAttributesOf(file.filePath());
    if (((attributes & kDosSystem) && !IncludeSysFiles) || ((attributes & kDosHidden) && !IncludeHiddenFiles) ||
        ((attributes & kDosReadOnly) && !IncludeReadOnlyFiles) || ((attributes & kDosArchive) && !IncludeArchiveFiles))
        return false;
    // The archive never holds itself, whatever the letter case or the links used to name it.
    if (QDir::cleanPath(file.absoluteFilePath()).compare(search.archivePath, Qt::CaseInsensitive) == 0)
        return false;
    if (!search.archiveCanonical.isEmpty() && file.canonicalFilePath() == search.archiveCanonical)
        return false;
    return !MatchesAnyMask(ExcludeList, file);
}

bool TZipWriter::AddFile(Session& session, const Found& file, Written& entry) const
{
    const QFileInfo info(file.path);
    const TDosDateTime stamp = ToDosDateTime(info.lastModified());
    entry.dosTime = stamp.Time;
    entry.dosDate = stamp.Date;
    entry.externalAttributes = DosAttributesOf(file.path);

    QFile input(file.path);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;

    Deflater* deflater = session.deflater.get();
    if (deflater && MatchesAnyMask(NoCompressList, info))
        deflater = nullptr;
    entry.method = deflater ? kMethodDeflated : kMethodStored;
    entry.offset = session.Pos();

    // The local header cannot grow once the data follow it, so the Zip64 field is reserved
    // whenever the data might not fit in 32 bits, judged by the size the file has now.
    const auto sizeNow = static_cast<std::uint64_t>(std::max<qint64>(input.size(), 0));
    std::uint64_t bound = sizeNow;
    if (deflater) {
        if (deflateReset(&deflater->stream) != Z_OK)
            throw TZipError(QStringLiteral("Cannot reset the deflate compressor"));
        bound = deflateBound(&deflater->stream, static_cast<uLong>(sizeNow));
    }
    const bool zip64 = sizeNow >= zip64SizeLimit_ || bound >= zip64SizeLimit_;
    entry.versionNeeded = zip64 || entry.offset >= zip64SizeLimit_ ? kVersionNeededZip64 : kVersionNeeded;
    const QByteArray provisional = LocalHeader(entry, zip64);
    session.Write(provisional);

    auto* in = reinterpret_cast<Bytef*>(session.input.data());
    auto* out = reinterpret_cast<Bytef*>(session.output.data());
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        const qint64 got = input.read(session.input.data(), kReadChunk);
        if (got < 0) {
            // A file that cannot be read to its end is passed over like one that cannot be opened.
            session.Seek(entry.offset);
            return false;
        }
        crc = crc32(crc, in, static_cast<uInt>(got));
        entry.uncompressedSize += static_cast<std::uint64_t>(got);
        if (!deflater) {
            session.Write(session.input.data(), got);
            entry.compressedSize += static_cast<std::uint64_t>(got);
            if (got == 0)
                break;
            continue;
        }
        z_stream& z = deflater->stream;
        z.next_in = in;
        z.avail_in = static_cast<uInt>(got);
        const int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            z.next_out = out;
            z.avail_out = static_cast<uInt>(kWriteChunk);
            result = deflate(&z, flush);
            if (result == Z_STREAM_ERROR)
                throw TZipError(QStringLiteral("Deflate failed on %1").arg(file.path));
            const qint64 produced = kWriteChunk - z.avail_out;
            session.Write(session.output.data(), produced);
            entry.compressedSize += static_cast<std::uint64_t>(produced);
        } while (z.avail_out == 0);
        if (result == Z_STREAM_END)
            break;
    }
    entry.crc = static_cast<std::uint32_t>(crc);

    // A file that grew past 32 bits while being read has no room for its sizes.
    if (!zip64 && (entry.compressedSize >= zip64SizeLimit_ || entry.uncompressedSize >= zip64SizeLimit_)) {
        session.Seek(entry.offset);
        return false;
    }
    const std::uint64_t end = session.Pos();
    session.Seek(entry.offset);
    session.Write(LocalHeader(entry, zip64));
    session.Seek(end);
    return true;
}

void TZipWriter::AddFolder(Session& session, const Found& folder, Written& entry) const
{
    const TDosDateTime stamp = ToDosDateTime(QFileInfo(folder.path).lastModified());
    entry.dosTime = stamp.Time;
    entry.dosDate = stamp.Date;
    entry.externalAttributes = DosAttributesOf(folder.path);
    entry.method = kMethodStored;
    entry.offset = session.Pos();
    entry.versionNeeded = entry.offset >= zip64SizeLimit_ ? kVersionNeededZip64 : kVersionNeeded;
    session.Write(LocalHeader(entry, false));
}

QByteArray TZipWriter::LocalHeader(const Written& entry, bool zip64) const
{
    Record r;
    r.U32(kLocalHeaderSignature);
    PutSharedFields(r, entry, zip64, zip64);
    r.U16(static_cast<std::uint16_t>(entry.name.size()))
        .U16(zip64 ? 20 : 0)
        .Bytes(entry.name);
    // In the local header the Zip64 field always holds both sizes, uncompressed first.
    if (zip64)
        r.U16(kZip64ExtraId).U16(16).U64(entry.uncompressedSize).U64(entry.compressedSize);
    return r.data;
}

QByteArray TZipWriter::CentralHeader(const Written& entry) const
{
    const bool bigOriginal = entry.uncompressedSize >= zip64SizeLimit_;
    const bool bigCompressed = entry.compressedSize >= zip64SizeLimit_;
    const bool bigOffset = entry.offset >= zip64SizeLimit_;
    // Only the values whose classic field holds the marker are in the Zip64 field, in this order.
    Record extra;
    if (bigOriginal || bigCompressed || bigOffset) {
        extra.U16(kZip64ExtraId).U16(static_cast<std::uint16_t>(8 * (int{bigOriginal} + bigCompressed + bigOffset)));
        if (bigOriginal)
            extra.U64(entry.uncompressedSize);
        if (bigCompressed)
            extra.U64(entry.compressedSize);
        if (bigOffset)
            extra.U64(entry.offset);
    }
    Record r;
    r.U32(kCentralHeaderSignature).U16(kVersionMadeBy);
    PutSharedFields(r, entry, bigCompressed, bigOriginal);
    r.U16(static_cast<std::uint16_t>(entry.name.size()))
        .U16(static_cast<std::uint16_t>(extra.data.size()))
        .U16(0)  // comment length
        .U16(0)  // disk number start
        .U16(0)  // internal attributes
        .U32(entry.externalAttributes)
        .U32(Low32(entry.offset, bigOffset))
        .Bytes(entry.name)
        .Bytes(extra.data);
    return r.data;
}

void TZipWriter::WriteCentralDirectory(Session& session, const std::vector<Written>& entries) const
{
    const std::uint64_t directoryOffset = session.Pos();
    QByteArray pending;
    for (const Written& entry : entries) {
        pending.append(CentralHeader(entry));
        if (pending.size() >= kWriteChunk) {
            session.Write(pending);
            pending.clear();
        }
    }
    session.Write(pending);
    const std::uint64_t directorySize = session.Pos() - directoryOffset;
    const std::uint64_t count = entries.size();

    const bool manyEntries = count >= zip64CountLimit_;
    const bool bigSize = directorySize >= zip64SizeLimit_;
    const bool bigOffset = directoryOffset >= zip64SizeLimit_;
    Record r;
    if (manyEntries || bigSize || bigOffset) {
        const std::uint64_t zip64End = session.Pos();
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
            .U64(zip64End)
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
    session.Write(r.data);
}
