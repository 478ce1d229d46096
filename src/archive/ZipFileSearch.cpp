#include "archive/ZipFileSearch.h"

#include "archive/DosTime.h"
#include "archive/Wildcard.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

// A mask's name part "*.*" stands for every file, with or without a dot.
QString NamePattern(QString pattern)
{
    if (pattern.isEmpty() || pattern == u"*.*")
        pattern = QStringLiteral("*");
    return pattern.toLower();
}

// The search for one mask: its name pattern applied in its folder and, with Recurse, below.
class MaskSearch {
public:
    MaskSearch(const QString& namePattern, const QFileInfo& archive, const TZipSearchSettings& settings)
        : pattern_(namePattern),
          archivePath_(QDir::cleanPath(archive.absoluteFilePath())),
          archiveCanonical_(archive.canonicalFilePath()),
          settings_(settings)
    {
    }

    void SearchFolder(const QString& folder, const QString& storedPrefix);

    std::vector<TFoundEntry> found;

private:
    bool Wanted(const QFileInfo& file) const;

    Wildcard pattern_;           // lower-case name pattern
    QString archivePath_;        // the archive, absolute and clean
    QString archiveCanonical_;   // the archive through its links, when it exists
    QSet<QString> visited_;      // folders searched: linked folders can form cycles
    const TZipSearchSettings& settings_;
};

void MaskSearch::SearchFolder(const QString& folder, const QString& storedPrefix)
{
    const QDir dir(folder);
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty() || visited_.contains(canonical))
        return;
    visited_.insert(canonical);

    // Special files (pipes, devices) are left out by the filter: reading them could block.
    QFileInfoList items =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    // Name order, independent of locale and file system, so the same folder gives the same archive.
    std::sort(items.begin(), items.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });

    for (const QFileInfo& item : items) {
        if (!item.isFile() || !pattern_.Matches(item.fileName().toLower()) || !Wanted(item))
            continue;
        found.push_back({item.filePath(), settings_.StorePaths ? storedPrefix + item.fileName() : item.fileName(), false});
    }
    if (!settings_.Recurse)
        return;
    for (const QFileInfo& item : items) {
        if (!item.isDir())
            continue;
        const QString prefix = storedPrefix + item.fileName() + u'/';
        if (settings_.StorePaths && settings_.AddDirEntriesOnRecurse)
            found.push_back({item.filePath(), prefix, true});
        SearchFolder(item.filePath(), prefix);
    }
}

bool MaskSearch::Wanted(const QFileInfo& file) const
{
    const std::uint32_t attributes = DosAttributesOf(file.filePath());
    if (((attributes & kDosSystem) && !settings_.IncludeSysFiles) ||
        ((attributes & kDosHidden) && !settings_.IncludeHiddenFiles) ||
        ((attributes & kDosReadOnly) && !settings_.IncludeReadOnlyFiles) ||
        ((attributes & kDosArchive) && !settings_.IncludeArchiveFiles))
        return false;
    // The archive never holds itself, whatever the letter case or the links used to name it.
    if (QDir::cleanPath(file.absoluteFilePath()).compare(archivePath_, Qt::CaseInsensitive) == 0)
        return false;
    if (!archiveCanonical_.isEmpty() && file.canonicalFilePath() == archiveCanonical_)
        return false;
    return !MatchesAnyMask(settings_.ExcludeList, file);
}

}  // namespace

std::vector<TFoundEntry> FindZipEntries(const QStringList& masks, const QString& zipName,
                                        const TZipSearchSettings& settings)
{
    std::vector<TFoundEntry> found;
    const QFileInfo archive(zipName);
    for (const QString& mask : masks) {
        const qsizetype slash = mask.lastIndexOf(u'/');
        MaskSearch search(NamePattern(mask.mid(slash + 1)), archive, settings);
        search.SearchFolder(slash < 0 ? QStringLiteral(".") : mask.left(slash + 1), QString());
        std::move(search.found.begin(), search.found.end(), std::back_inserter(found));
    }
    return found;
}

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
