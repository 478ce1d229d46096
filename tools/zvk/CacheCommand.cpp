#include "Commands.h"

#include "app/LibraryFile.h"
#include "common/AppDirs.h"
#include "common/Error.h"
#include "package/PackageCache.h"

#include <QDir>
#include <QSet>

namespace {

// The packages of every library this user's Zuvora may read: the one beside the program
// or with the user's data, whichever it uses, and the one with the user's data. A library
// read only in part could list any package after the damage: nothing may be removed then.
QStringList LibraryPackages()
{
    QStringList files{LibraryFilePath(ExecutableFolder(), AppDataFolder()),
                      QDir(QDir(AppDataFolder()).filePath(kAppTitle)).filePath(kLibraryFileName)};
    files.removeDuplicates();
    QStringList packages;
    for (const QString& file : files) {
        QList<TLibraryRow> rows;
        if (const std::optional<QString> failure = ReadLibrary(file, rows))
            throw TError(QStringLiteral("The library %1 could not be read whole: %2").arg(file, *failure));
        for (const TLibraryRow& row : rows)
            packages.append(row.Path);
    }
    return packages;
}

}  // namespace

// The player's cache folders, each with what it holds, its package and whether pruning
// takes it; with --prune, the unused ones removed.
int CacheCommand(const TArguments& arguments)
{
    arguments.Expect(0);
    const bool prune = arguments.Flags.contains(QStringLiteral("--prune"));
    const QStringList packages = LibraryPackages();
    QSet<QString> listed;
    for (const QString& package : packages)
        listed.insert(PathDigest(package));
    QSet<QString> unused;
    for (const TCacheFolder& cache :
         UnusedCaches(packages, QDateTime::currentDateTimeUtc().addDays(-kUnusedCacheDays)))
        unused.insert(cache.Name);

    int status = 0;
    int removed = 0;
    qint64 freed = 0;
    for (const TCacheFolder& cache : CacheFolders()) {
        QString state = !MadeByZuvora(cache)           ? QStringLiteral("unknown")
                        : listed.contains(cache.Name)  ? QStringLiteral("listed")
                        : unused.contains(cache.Name)  ? QStringLiteral("unused")
                                                       : QStringLiteral("recent");
        if (prune && state == u"unused") {
            if (RemoveCacheFolder(cache.Folder)) {
                state = QStringLiteral("removed");
                ++removed;
                freed += cache.Bytes;
            } else {
                PrintErr(QStringLiteral("%1: could not be removed whole").arg(cache.Folder));
                status = 1;
            }
        }
        const bool known = cache.Marker && cache.Marker->Used.isValid();
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5")
                     .arg(cache.Name)
                     .arg(cache.Bytes)
                     .arg(known ? cache.Marker->Used.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                : QStringLiteral("-"),
                          state, cache.Marker ? Printable(cache.Marker->Package) : QStringLiteral("-")));
    }
    if (prune)
        PrintOut(QStringLiteral("%1 removed, %2 bytes freed").arg(removed).arg(freed));
    return status;
}
