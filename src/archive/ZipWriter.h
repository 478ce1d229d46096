#pragma once

#include "archive/ZipFileSearch.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <vector>

class QFile;
namespace zipwrite {
struct WrittenEntry;
}  // namespace zipwrite

// An archive is never updated in place: every write makes a new one, replacing ZipName.

// Writes a ZIP archive of the files that the masks of FilesList name. Created, given its
// properties, run once and released by its caller. The extractor's sibling: both work on
// the entry record of ZipRecord.h; the writer has no destination folder and no password,
// since it never encrypts.
//
// Entries are deflated (or stored with PackLevel 0 and for NoCompressList matches), carry
// MS-DOS time stamps and attributes, and use Zip64 only where a size, an offset or the
// entry count does not fit the classic fields. The archive is written to a temporary file
// beside ZipName and renamed into place at the end, so a failed write leaves nothing behind.
class TZipWriter : public TZipSearchSettings {
public:
    TZipWriter() = default;
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    // --- properties (Recurse, StorePaths, the Include settings, ExcludeList and
    // AddDirEntriesOnRecurse come from the search) ---
    QString ZipName;                    // the archive to write (native path)
    QStringList FilesList;              // masks of the files to add
    int PackLevel = 6;                  // deflate level 1-9, 0 stores; others are clamped to 0-9
    QStringList NoCompressList;         // masks of files to store uncompressed
    bool DoProcessMessages = true;
    // Called to let the windows process pending messages between entries; may be empty.
    std::function<void()> ProcessMessages;

    // Writes the archive and returns the number of files added. Raises TZipError when the
    // archive cannot be written, and TError when ZipName is a link, which is never written
    // through; nothing is left at ZipName then (an archive that was there before stays as it
    // was).
    int WriteArchive();

protected:
    // Sizes and offsets from this value up, and entry counts from zip64CountLimit_ up, go
    // into Zip64 records. Tests lower them to reach that path without writing gigabytes.
    std::uint64_t zip64SizeLimit_ = 0xFFFFFFFF;
    std::uint64_t zip64CountLimit_ = 0xFFFF;

private:
    using Written = zipwrite::WrittenEntry;
    class Session;

    void PumpMessages() const
    {
        if (DoProcessMessages && ProcessMessages)
            ProcessMessages();
    }
    bool AddFile(Session& session, const TFoundEntry& file, Written& entry) const;
    void AddFolder(Session& session, const TFoundEntry& folder, Written& entry) const;
    bool WriteProvisionalHeader(Session& session, Written& entry, qint64 fileSize) const;
    static bool CopyData(Session& session, QFile& input, Written& entry, const QString& path);
    bool FitsLocalHeader(const Written& entry, bool zip64) const;
    void CompleteLocalHeader(Session& session, const Written& entry, bool zip64) const;
    void WriteCentralDirectory(Session& session, const std::vector<Written>& entries) const;
};
