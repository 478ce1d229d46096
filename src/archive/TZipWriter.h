#pragma once

#include "archive/TZipExtractor.h"
#include "archive/ZipFileSearch.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <vector>

class QFile;

// An archive is never updated in place: every write makes a new one, replacing ZipName.

// Writes a ZIP archive of the files that the masks of FilesList name. Created, given its
// properties, run once and released by its caller, like the extractor it derives from
// (ZipName, FilesList, DoProcessMessages and ProcessMessages are shared; RecreateDirs
// changes nothing here, and a Password is refused since entries are never encrypted).
//
// Entries are deflated (or stored with PackLevel 0 and for NoCompressList matches), carry
// MS-DOS time stamps and attributes, and use Zip64 only where a size, an offset or the
// entry count does not fit the classic fields. The archive is written to a temporary file
// beside ZipName and renamed into place at the end, so a failed write leaves nothing behind.
class TZipWriter : public TZipExtractor, public TZipSearchSettings {
public:
    // --- properties (ZipName, FilesList and the message pump come from the extractor; Recurse,
    // StorePaths, the Include settings, ExcludeList and AddDirEntriesOnRecurse from the search) ---
    int PackLevel = 6;                  // deflate level 1-9, 0 stores; others are clamped to 0-9
    QStringList NoCompressList;         // masks of files to store uncompressed

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
    struct Written;
    class Session;

    bool AddFile(Session& session, const TFoundEntry& file, Written& entry) const;
    void AddFolder(Session& session, const TFoundEntry& folder, Written& entry) const;
    bool WriteProvisionalHeader(Session& session, Written& entry, qint64 fileSize) const;
    static bool CopyData(Session& session, QFile& input, Written& entry, const QString& path);
    bool FitsLocalHeader(const Written& entry, bool zip64) const;
    void CompleteLocalHeader(Session& session, const Written& entry, bool zip64) const;
    void WriteCentralDirectory(Session& session, const std::vector<Written>& entries) const;
    QByteArray LocalHeader(const Written& entry, bool zip64) const;
    QByteArray CentralHeader(const Written& entry) const;
};
