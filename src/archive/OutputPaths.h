#pragma once

#include "archive/ZipEntry.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>

// Where an entry may be written: never outside the destination, never into or through a
// link, device or folder; and the file it is written to.
namespace zipoutput {

enum class PathKind { Missing, Folder, File, Other };  // Other: links, devices, pipes, errors

// What is at `path`, without following a link; `status` receives its status when given.
PathKind KindOf(const QString& path, struct stat* status = nullptr);
QString JoinNative(const QString& folder, const QString& name);
// The destination folder, without trailing separators; "." for none.
QString DestinationRoot(QString dest);
// The folders to create below the destination for a stored folder part, or nothing when
// the stored path could lead anywhere else.
std::optional<QStringList> FolderComponents(const TZipEntry& entry);
bool IsUnsafeName(const TZipEntry& entry);
bool IsSpecialUnixFile(const TZipEntry& entry);
std::uint32_t DosAttributesOfEntry(const TZipEntry& entry);
// Creates the output folder below `root` (which must be a folder) one level at a time,
// following no link. Empty when a level cannot be made.
std::optional<QString> MakeOutputFolder(const QString& root, const QStringList& components);

// The file an entry goes to. When nothing has the entry's name yet, that name itself,
// created exclusively (so nothing of another writer is touched and no link followed);
// otherwise a temporary name beside it that takes the old file's place only when complete,
// so a damaged member never costs the older file. Removed again unless committed.
class OutputFile {
public:
    OutputFile(const QString& folder, const QString& path, bool replacing);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open() { return opened_ = fd_ >= 0; }
    bool Write(const std::uint8_t* data, std::size_t size);
    // Mode and time go on the open file, then it takes its name; `stillWanted` is asked
    // right before a temporary file replaces the old one. An error's text (empty when it
    // was no longer wanted), or nothing.
    std::optional<QString> Commit(mode_t mode, std::int64_t modified, const std::function<bool()>& stillWanted);

private:
    QByteArray target_;
    QByteArray name_;
    int fd_ = -1;
    bool opened_ = false;
    bool committed_ = false;
};

}  // namespace zipoutput
