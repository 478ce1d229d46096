#include "archive/ZipWriter.h"

#include "archive/DosTime.h"
#include "archive/ZipFileSearch.h"
#include "archive/ZipError.h"
#include "archive/ZipFormat.h"
#include "archive/ZipHeaders.h"
#include "common/SaveTarget.h"

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
using namespace zipwrite;

constexpr qint64 kReadChunk = 65535;
constexpr qint64 kWriteChunk = 65536;

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

// The name's bytes as both headers carry them: ASCII as it is, anything else as UTF-8 with
// the flag that says so.
QByteArray EncodeName(const QString& name, std::uint16_t& flags)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return name.toLatin1();
    flags |= kFlagUtf8;
    return name.toUtf8();
}

// Files and folders alike carry the time they were last written and their attributes.
void TakeStampAndAttributes(TZipRecord& entry, const QString& path)
{
    const TDosDateTime stamp = ToDosDateTime(QFileInfo(path).lastModified());
    entry.DosTime = stamp.Time;
    entry.DosDate = stamp.Date;
    entry.ExternalAttributes = DosAttributesOf(path);
}

class Deflater {
public:
    explicit Deflater(int level)
    {
        // Raw deflate (negative window bits): ZIP carries no zlib wrapper.
        if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw TZipError(QStringLiteral("Cannot start the deflate compressor"));
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Makes ready for a new entry; returns the most that `size` bytes can deflate to.
    std::uint64_t Restart(std::uint64_t size)
    {
        if (deflateReset(&stream_) != Z_OK)
            throw TZipError(QStringLiteral("Cannot reset the deflate compressor"));
        return deflateBound(&stream_, static_cast<uLong>(size));
    }

    // Deflates `size` bytes from `in`, or with none ends the data, handing every piece of
    // output to `sink`. Returns true once the stream is complete.
    template <class Sink>
    bool Deflate(Bytef* in, qint64 size, const Sink& sink, const QString& path)
    {
        stream_.next_in = in;
        stream_.avail_in = static_cast<uInt>(size);
        const int flush = size == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            stream_.next_out = reinterpret_cast<Bytef*>(output_.data());
            stream_.avail_out = static_cast<uInt>(kWriteChunk);
            result = deflate(&stream_, flush);
            if (result == Z_STREAM_ERROR)
                throw TZipError(QStringLiteral("Deflate failed on %1").arg(path));
            sink(output_.data(), kWriteChunk - stream_.avail_out);
        } while (stream_.avail_out == 0);
        return result == Z_STREAM_END;
    }

private:
    z_stream stream_{};
    std::vector<char> output_ = std::vector<char>(kWriteChunk);
};

}  // namespace

// The archive being written, with the compressor and read buffer shared by all entries.
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

    std::unique_ptr<Deflater> deflater;  // none when every entry is stored
    std::vector<char> input = std::vector<char>(kReadChunk);

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

int TZipWriter::WriteArchive()
{
    RefuseLinkAsSaveTarget(ZipName);

    // The search runs to its end before the archive is opened, so the temporary file can
    // never be found.
    const std::vector<TFoundEntry> found = FindZipEntries(FilesList, ZipName, *this);

    Session session(ZipName, std::clamp(PackLevel, 0, 9));
    std::vector<Written> entries;
    QSet<QString> names;
    int added = 0;
    for (const TFoundEntry& item : found) {
        PumpMessages();
        const QString key = AsciiLower(item.entryName);
        if (names.contains(key))
            continue;
        Written entry;
        entry.storedName = EncodeName(item.entryName, entry.Flags);
        if (entry.storedName.size() > 0xFFFF)
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

bool TZipWriter::AddFile(Session& session, const TFoundEntry& file, Written& entry) const
{
    TakeStampAndAttributes(entry, file.path);
    QFile input(file.path);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const bool compress = session.deflater && !MatchesAnyMask(NoCompressList, QFileInfo(file.path));
    entry.Method = compress ? kMethodDeflated : kMethodStored;

    const bool zip64 = WriteProvisionalHeader(session, entry, input.size());
    // A file that cannot be read to its end is passed over like one that cannot be opened,
    // and so is one that outgrew its header; the next entry is written over what it left.
    if (!CopyData(session, input, entry, file.path) || !FitsLocalHeader(entry, zip64)) {
        session.Seek(entry.LocalHeaderOffset);
        return false;
    }
    CompleteLocalHeader(session, entry, zip64);
    return true;
}

// The local header goes ahead of the data, before their sizes and CRC are known, and cannot
// grow once the data follow it: the Zip64 field is reserved whenever the data might not fit
// in 32 bits, judged by the size the file has now. Returns whether it was.
bool TZipWriter::WriteProvisionalHeader(Session& session, Written& entry, qint64 fileSize) const
{
    entry.LocalHeaderOffset = session.Pos();
    const auto sizeNow = static_cast<std::uint64_t>(std::max<qint64>(fileSize, 0));
    const std::uint64_t bound = entry.Method == kMethodDeflated ? session.deflater->Restart(sizeNow) : sizeNow;
    const bool zip64 = sizeNow >= zip64SizeLimit_ || bound >= zip64SizeLimit_;
    entry.versionNeeded =
        zip64 || entry.LocalHeaderOffset >= zip64SizeLimit_ ? kVersionNeededZip64 : kVersionNeeded;
    session.Write(LocalHeader(entry, zip64));
    return zip64;
}

// Copies the file's data into the archive, stored or deflated as entry.Method says, and
// counts their sizes and CRC. False when the file cannot be read to its end.
bool TZipWriter::CopyData(Session& session, QFile& input, Written& entry, const QString& path)
{
    auto* in = reinterpret_cast<Bytef*>(session.input.data());
    const auto sink = [&](const char* data, qint64 size) {
        session.Write(data, size);
        entry.CompressedSize += static_cast<std::uint64_t>(size);
    };
    uLong crc = crc32(0, nullptr, 0);
    for (bool complete = false; !complete;) {
        const qint64 got = input.read(session.input.data(), kReadChunk);
        if (got < 0)
            return false;
        crc = crc32(crc, in, static_cast<uInt>(got));
        entry.UncompressedSize += static_cast<std::uint64_t>(got);
        if (entry.Method == kMethodDeflated) {
            complete = session.deflater->Deflate(in, got, sink, path);
        } else {
            sink(session.input.data(), got);
            complete = got == 0;
        }
    }
    entry.Crc32 = static_cast<std::uint32_t>(crc);
    return true;
}

// A file that grew past 32 bits while being read has no room for its sizes in a header
// written without the Zip64 field.
bool TZipWriter::FitsLocalHeader(const Written& entry, bool zip64) const
{
    return zip64 || (entry.CompressedSize < zip64SizeLimit_ && entry.UncompressedSize < zip64SizeLimit_);
}

// Writes the sizes and CRC, now known, over the provisional header.
void TZipWriter::CompleteLocalHeader(Session& session, const Written& entry, bool zip64) const
{
    const std::uint64_t end = session.Pos();
    session.Seek(entry.LocalHeaderOffset);
    session.Write(LocalHeader(entry, zip64));
    session.Seek(end);
}

void TZipWriter::AddFolder(Session& session, const TFoundEntry& folder, Written& entry) const
{
    TakeStampAndAttributes(entry, folder.path);
    entry.Method = kMethodStored;
    entry.LocalHeaderOffset = session.Pos();
    entry.versionNeeded = entry.LocalHeaderOffset >= zip64SizeLimit_ ? kVersionNeededZip64 : kVersionNeeded;
    session.Write(LocalHeader(entry, false));
}

void TZipWriter::WriteCentralDirectory(Session& session, const std::vector<Written>& entries) const
{
    const Zip64Limits limits{zip64SizeLimit_, zip64CountLimit_};
    const std::uint64_t directoryOffset = session.Pos();
    QByteArray pending;
    for (const Written& entry : entries) {
        pending.append(CentralHeader(entry, limits));
        if (pending.size() >= kWriteChunk) {
            session.Write(pending);
            pending.clear();
        }
    }
    session.Write(pending);
    const std::uint64_t directorySize = session.Pos() - directoryOffset;
    session.Write(EndRecords(entries.size(), directorySize, directoryOffset, session.Pos(), limits));
}
