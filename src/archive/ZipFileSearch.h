#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QFileInfo;

// Which files a set of masks takes into an archive. TZipWriter carries these as properties
// of its own.
struct TZipSearchSettings {
    bool Recurse = false;               // search the mask's folder at any depth
    bool StorePaths = false;            // false: entries are named by the bare file name
    bool IncludeHiddenFiles = false;    // the Include settings judge files; every folder is searched
    bool IncludeReadOnlyFiles = true;
    bool IncludeSysFiles = false;
    bool IncludeArchiveFiles = true;
    QStringList ExcludeList;            // masks of files to leave out (a mask with a folder
                                        // part is matched against the absolute path)
    bool AddDirEntriesOnRecurse = false;  // folder entries; only with StorePaths, else no effect
};

// A file or folder to add, with the name its entry is to get.
struct TFoundEntry {
    QString path;       // native path of the file or folder
    QString entryName;  // as stored, "/" between folders
    bool folder = false;
};

// The files (and with AddDirEntriesOnRecurse the folders) that the masks name, mask after
// mask; within a folder its files in name order, then its subfolders. Special files, and
// the archive `zipName` under any name or link, are never among them. The same entry name
// can come more than once; which one wins is the writer's choice.
std::vector<TFoundEntry> FindZipEntries(const QStringList& masks, const QString& zipName,
                                        const TZipSearchSettings& settings);

// Whether any of the masks names the file, regardless of letter case. Masks with a folder
// part are matched against its absolute path, others against its name; "*.*" names every
// file, with or without a dot.
bool MatchesAnyMask(const QStringList& masks, const QFileInfo& file);
