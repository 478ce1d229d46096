#pragma once

#include "package/Zvk.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class Prompts;

// A package is played from a cache folder of its own: application-data folder, "Zuvora",
// then the MD5 digest of the package path. The folder persists between runs, so a package
// is extracted in full once and afterwards only for members newer than the cached files;
// a package file that has changed since is extracted whole again, into an emptied folder.

// 32 lower-case hexadecimal digits: MD5 of the path's UTF-8 bytes exactly as given.
QString PathDigest(const QString& packagePath);

// The folder that holds every cache folder (native path).
QString CacheRoot();

// The package file as a cache folder was filled from it. Any difference means the file
// was replaced: its size, its time, or the records of its directory (names, sizes, CRCs,
// times and offsets of its members), which also tells two packages with the same content.
struct TPackageStamp {
    qint64 Size = -1;
    qint64 Modified = 0;  // milliseconds since the epoch
    QString Directory;    // MD5 of the directory's records, hex; empty: unknown
    bool operator==(const TPackageStamp&) const = default;
};

// The file's size and time as the file system keeps them, without the directory; size -1
// when there is no file. No time zone is involved, so any thread may ask.
TPackageStamp FileStamp(const QString& path);

// Zuvora's mark in every cache folder it fills: the package, its stamp, and when it was last
// played. Only a folder so marked, under the name its package gives, is ever removed.
inline const QString kCacheMarker = QStringLiteral(".zuvora-cache");
struct TCacheMarker {
    QString Package;
    TPackageStamp Stamp;
    QDateTime Used;  // as read, never later than the marker's writing; invalid when it says none
};
// None when the folder has no readable marker (a link, a FIFO or anything else is not one).
std::optional<TCacheMarker> ReadCacheMarker(const QString& folder);
// Replaces the marker atomically; false when it cannot be written.
bool WriteCacheMarker(const QString& folder, const TCacheMarker& marker);

struct TCacheResult {
    QString Folder;          // always formed, whatever the extraction did
    bool Extracted = false;  // the package was read and extracted; an error was shown if not
    bool HoldsSheet = false; // its directory lists the sprite sheet
    TPackageStamp Stamp;     // of the package as extracted
};

// Extracts the package into its cache folder: whole into an emptied folder when the package
// is new to the folder or has changed since; otherwise only members newer than their cached
// files. Any archive error is shown as "UnComPress File Error!" and the folder keeps what
// it had.
TCacheResult PrepareCache(const QString& packagePath, Prompts& prompts,
                          const std::function<void()>& processMessages = {}, const QString& cacheRoot = CacheRoot());

// One folder under the cache root named as a cache folder is.
struct TCacheFolder {
    QString Folder;  // native path
    QString Name;    // 32 hexadecimal digits
    std::optional<TCacheMarker> Marker;  // none: not known to be Zuvora's; never removed
    qint64 Bytes = 0;                    // files inside, links not followed
};
QList<TCacheFolder> CacheFolders(const QString& cacheRoot = CacheRoot());

// Whether the folder is one Zuvora filled: a real folder, not a link, whose marker names a
// package whose digest is the folder's name.
bool MadeByZuvora(const TCacheFolder& cache);

// Caches that pruning removes: made by Zuvora, of a package none of `keptPackages` (paths
// as the library holds them), last played before `usedBefore` or never.
QList<TCacheFolder> UnusedCaches(const QStringList& keptPackages, const QDateTime& usedBefore,
                                 const QString& cacheRoot = CacheRoot());

// Removes a cache folder and what it holds, never following a link: a link inside goes,
// whatever it points to stays. False when anything remained.
bool RemoveCacheFolder(const QString& folder);

// Removes the cache folder of the package, when Zuvora made it. False when there was none
// to remove, or it could not be removed whole.
bool ForgetPackageCache(const QString& packagePath, const QString& cacheRoot = CacheRoot());

// How long a cache of a package in no library is kept after it was last played.
inline constexpr int kUnusedCacheDays = 7;
