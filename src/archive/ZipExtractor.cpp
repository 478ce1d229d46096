#include "archive/ZipExtractor.h"

#include "archive/DosTime.h"
#include "archive/EntryStreams.h"
#include "archive/OutputPaths.h"
#include "archive/Wildcard.h"
#include "archive/ZipDirectory.h"
#include "archive/ZipError.h"
#include "archive/ZipFormat.h"
#include "common/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

using namespace zipformat;
using namespace zipoutput;
using namespace zipread;
using namespace zipstream;

namespace {

void OpenArchive(QFile& file)
{
    if (QFileInfo(file.fileName()).isDir())
        throw TZipError(QStringLiteral("Cannot open the archive %1: it is a folder").arg(file.fileName()));
    if (!file.open(QIODevice::ReadOnly))
        throw TZipError(QStringLiteral("Cannot open the archive %1: %2").arg(file.fileName(), file.errorString()));
}

}  // namespace

// ---- TZipExtractor ---------------------------------------------------------------------

QIODevice& TZipExtractor::OpenSource(QFile& file) const
{
    if (Source != nullptr)
        return *Source;
    file.setFileName(ZipName);
    OpenArchive(file);
    return file;
}

void TZipExtractor::ReadDirectory()
{
    QFile file;
    LoadDirectory(OpenSource(file));
}

void TZipExtractor::LoadDirectory(QIODevice& archive)
{
    // The directory read for the listing serves the extraction too, while the archive is
    // the same file, unchanged.
    struct stat status {};
    const auto* file = qobject_cast<const QFile*>(&archive);
    const bool known = file != nullptr && file->handle() >= 0 && ::fstat(file->handle(), &status) == 0;
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
    QFile file;
    QIODevice& archive = OpenSource(file);
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
    lastFolder_.reset();
    const std::uint64_t archiveSize = FileSize(archive);
    for (const std::size_t index : selected) {
        if (ExtractEntry(archive, archiveSize, entries_[index], root, dataEnd, budget))
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

std::optional<QString> TZipExtractor::EntryFolder(const TZipEntry& entry, const QString& root)
{
    if (IsUnsafeName(entry)) {
        PassOver(entry, QStringLiteral("its name is not safe to write"));
        return std::nullopt;
    }
    if (IsSpecialUnixFile(entry)) {
        PassOver(entry, QStringLiteral("it is a link or a device"));
        return std::nullopt;
    }
    const std::optional<QStringList> components = FolderComponents(entry);
    if (!components) {
        PassOver(entry, QStringLiteral("its folder leads outside the destination"));
        return std::nullopt;
    }
    // Entries come folder by folder: the folder made or checked for the one before serves
    // the next without looking at the disk again.
    const QStringList& wanted = RecreateDirs ? *components : QStringList();
    if (!lastFolder_ || lastComponents_ != wanted) {
        lastFolder_ = MakeOutputFolder(root, wanted);
        lastComponents_ = wanted;
    }
    if (!lastFolder_)
        PassOver(entry, QStringLiteral("its folder cannot be created"));
    return lastFolder_;
}

bool TZipExtractor::MayWriteAt(const TZipEntry& entry, const QString& path, PathKind kind, const struct stat& existing) const
{
    switch (kind) {
    case PathKind::Missing:
        return true;
    case PathKind::File:
        if (!MayReplace(entry, path, existing.st_mtim.tv_sec))
            return false;
        if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            if (!ReplaceReadOnly || !ApplyDosAttributes(path, 0))
                return PassOver(entry, QStringLiteral("the file it would replace is read-only"));
        }
        return true;
    case PathKind::Folder:
    case PathKind::Other:
        break;
    }
    // never write into or through a link, device or folder
    return PassOver(entry, QStringLiteral("a folder, link or device stands in its place"));
}

bool TZipExtractor::WriteData(QIODevice& archive, std::uint64_t archiveSize, const TZipEntry& entry, OutputFile& output,
                              std::uint64_t& dataEnd, std::uint64_t& budget)
{
    if (!IsKnownMethod(entry.Method)) {
        if (UserPrompts)
            UserPrompts->Message(QStringLiteral("Zip Error"), QStringLiteral("Unknown Compression Method"));
        return PassOver(entry, QStringLiteral("unknown compression method %1").arg(entry.Method));
    }
    // Entries whose data overlap an earlier entry's are a trick to multiply a small archive
    // into huge output; honest archives never share bytes between entries.
    if (entry.LocalHeaderOffset < dataEnd)
        return PassOver(entry, QStringLiteral("its data overlap another entry's"));
    const std::uint64_t dataStart = LocateData(archive, entry, archiveSize);
    dataEnd = dataStart + std::min(entry.CompressedSize, std::numeric_limits<std::uint64_t>::max() - dataStart);
    if (!archive.seek(static_cast<qint64>(dataStart)))
        ThrowPrematureEnd();

    std::uint32_t crc = 0;
    try {
        EntryInput input(archive, entry.CompressedSize, [this] { PumpMessages(); });
        EntryOutput sink(output, entry.UncompressedSize, budget, MaxTotalSize);
        Decompress(entry, input, sink);
        crc = sink.Crc();
    } catch (const EntryTooLargeError&) {
        return PassOver(entry, QStringLiteral("it holds more than its stated size"));
    }
    if (entry.Crc32 != 0 && crc != entry.Crc32)
        return PassOver(entry, QStringLiteral("its CRC-32 does not match"));
    return true;
}

bool TZipExtractor::Commit(const TZipEntry& entry, const QString& path, OutputFile& output) const
{
    // Time and mode are settled on the open file before it takes its name, so the file at
    // `path` always has bytes, time and mode of one member, whatever else writes there.
    mode_t mode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
    if (RetainAttributes && (DosAttributesOfEntry(entry) & kDosReadOnly))
        mode &= ~static_cast<mode_t>(S_IWUSR);
    // Another extraction may have put a newer member here since the check before; it stays.
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

bool TZipExtractor::ExtractEntry(QIODevice& archive, std::uint64_t archiveSize, const TZipEntry& entry,
                                 const QString& root, std::uint64_t& dataEnd, std::uint64_t& budget)
{
    const std::optional<QString> folder = EntryFolder(entry, root);
    if (!folder)
        return false;
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
    if (!MayWriteAt(entry, path, kind, existing))
        return false;
    // Cache files can be extracted again, so unlike the user's own files they are not synced
    // to disk one by one.
    OutputFile output(*folder, path, kind == PathKind::File);
    if (!output.Open())
        return PassOver(entry, QStringLiteral("its folder cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)));
    return WriteData(archive, archiveSize, entry, output, dataEnd, budget) && Commit(entry, path, output);
}
