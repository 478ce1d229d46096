#pragma once

#include "archive/ZipEntry.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class Prompts;
class QFile;
class QIODevice;
struct stat;
namespace zipoutput {
class OutputFile;
enum class PathKind;
}  // namespace zipoutput

// What to do when an entry's output file exists already.
enum class TOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };

// Reads a ZIP archive's directory and extracts the selected entries. Created, given its
// properties, run once and released by its caller. Raised errors are TZipError with the
// extractor's own texts; entries that cannot be written are passed over, each reported to
// OnPassedOver with its reason.
class TZipExtractor {
public:
    TZipExtractor() = default;
    TZipExtractor(const TZipExtractor&) = delete;
    TZipExtractor& operator=(const TZipExtractor&) = delete;

    // --- properties ---
    QString ZipName;      // the archive (native path)
    QIODevice* Source = nullptr;  // when set, the archive is read from here instead: open,
                                  // seekable, not owned
    QStringList FilesList;  // wildcards selecting the entries to extract
    bool DoAll = false;
    QString DestDir;      // native path
    TOverwriteMode OverwriteMode = TOverwriteMode::Prompt;
    bool RecreateDirs = false;
    bool RetainAttributes = true;
    QString Password;
    bool ReplaceReadOnly = false;
    bool DoProcessMessages = true;

    // Called to let the windows process pending messages during long work; may be empty.
    std::function<void()> ProcessMessages;
    // Where questions and the "Zip Error" box go; may be null, which answers "No" and
    // shows nothing.
    Prompts* UserPrompts = nullptr;
    // Told of every selected entry that is not written for a fault of its own or of the
    // destination (not of the overwrite rule); may be empty.
    std::function<void(const TZipEntry& entry, const QString& reason)> OnPassedOver;
    // What one extraction may write in all; past it, extraction stops with an error.
    std::uint64_t MaxTotalSize = std::uint64_t{2} << 30;

    // --- operations ---
    void ReadDirectory();
    int ExtractSelected();

    const std::vector<TZipEntry>& Entries() const { return entries_; }

private:
    void PumpMessages() const
    {
        if (DoProcessMessages && ProcessMessages)
            ProcessMessages();
    }

    QIODevice& OpenSource(QFile& file) const;
    bool ExtractEntry(QIODevice& archive, std::uint64_t archiveSize, const TZipEntry& entry, const QString& root,
                      std::uint64_t& dataEnd, std::uint64_t& budget);
    // The steps of ExtractEntry; each says why when it passes the entry over.
    std::optional<QString> EntryFolder(const TZipEntry& entry, const QString& root);
    bool MayWriteAt(const TZipEntry& entry, const QString& path, zipoutput::PathKind kind, const struct stat& existing) const;
    bool WriteData(QIODevice& archive, std::uint64_t archiveSize, const TZipEntry& entry, zipoutput::OutputFile& output,
                   std::uint64_t& dataEnd, std::uint64_t& budget);
    bool Commit(const TZipEntry& entry, const QString& path, zipoutput::OutputFile& output) const;
    bool PassOver(const TZipEntry& entry, const QString& reason) const;
    void LoadDirectory(QIODevice& archive);

    // Which file, in which state, the entries were read from.
    struct DirectoryKey {
        QString name;
        std::uint64_t device, inode;
        std::int64_t size, seconds, nanoseconds;
        bool operator==(const DirectoryKey&) const = default;
    };
    std::vector<TZipEntry> entries_;
    std::optional<DirectoryKey> directoryKey_;
    // The output folder of the entry before, and its stored components.
    std::optional<QString> lastFolder_;
    QStringList lastComponents_;
    bool directoryComplete_ = true;
    bool MayReplace(const TZipEntry& entry, const QString& path, std::int64_t modified) const;
};
