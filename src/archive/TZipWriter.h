#pragma once

#include "archive/TZipExtractor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class QFileInfo;

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
class TZipWriter : public TZipExtractor {
public:
    // --- properties (ZipName, FilesList and the message pump come from the extractor) ---
    bool Recurse = false;               // search the mask's folder at any depth
    bool StorePaths = false;            // false: entries are named by the bare file name
    bool IncludeHiddenFiles = false;    // the Include settings judge files; every folder is searched
    bool IncludeReadOnlyFiles = true;
    bool IncludeSysFiles = false;
    bool IncludeArchiveFiles = true;
    int PackLevel = 6;                  // deflate level 1-9, 0 stores; others are clamped to 0-9
    QStringList ExcludeList;            // masks of files to leave out (a mask with a folder
                                        // part is matched against the absolute path)
    QStringList NoCompressList;         // masks of files to store uncompressed
    bool AddDirEntriesOnRecurse = false;  // folder entries; only with StorePaths, else no effect

    // Writes the archive and returns the number of files added. Raises TZipError when the
    // archive cannot be written; nothing is left at ZipName then (an archive that was there
    // before stays as it was).
    int WriteArchive();

protected:
    // Sizes and offsets from this value up, and entry counts from zip64CountLimit_ up, go
    // into Zip64 records. Tests lower them to reach that path without writing gigabytes.
    std::uint64_t zip64SizeLimit_ = 0xFFFFFFFF;
    std::uint64_t zip64CountLimit_ = 0xFFFF;

private:
    struct Found {
        QString path;            // native path of the file or folder
        QString entryName;       // as stored, "/" between folders
        bool folder = false;
    };
    struct Written {
        QByteArray name;  // stored bytes
        std::uint16_t versionNeeded = 20;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint16_t dosTime = 0;
        std::uint16_t dosDate = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint32_t externalAttributes = 0;
        std::uint64_t offset = 0;
    };
    struct Search;
    class Session;

    std::vector<Found> ExpandMasks() const;
    void SearchFolder(Search& search, const QString& folder, const QString& storedPrefix) const;
    bool Wanted(const Search& search, const QFileInfo& file) const;
    bool AddFile(Session& session, const Found& file, Written& entry) const;
    void AddFolder(Session& session, const Found& folder, Written& entry) const;
    void WriteCentralDirectory(Session& session, const std::vector<Written>& entries) const;
    QByteArray LocalHeader(const Written& entry, bool zip64) const;
    QByteArray CentralHeader(const Written& entry) const;
};
