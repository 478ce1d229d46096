#include "package/PackageCache.h"

#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "package/PackageLayout.h"
#include "package/PackageReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A marker is a few hundred bytes; a larger file in its place is not ours.
constexpr qint64 kMaxMarkerSize = 64 * 1024;

bool IsRealFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

// Puts a fresh extraction in place of the folder; a link in its place goes, never its target.
void ReplaceFolder(const QString& folder, const QString& fresh)
{
    if (QFileInfo(folder).exists() || QFileInfo(folder).isSymLink())
        RemoveCacheFolder(folder);
    if (!QDir().rename(fresh, folder))
        throw TError(QStringLiteral("the cache folder %1 cannot be replaced").arg(folder));
}

qint64 TreeBytes(const QString& folder)
{
    qint64 bytes = 0;
    // Without FollowSymlinks the walk never enters a linked folder.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file = it.nextFileInfo();
        if (!file.isSymLink())
            bytes += file.size();
    }
    return bytes;
}

}  // namespace

QString PathDigest(const QString& packagePath)
{
    return QString::fromLatin1(QCryptographicHash::hash(packagePath.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString CacheRoot() { return QDir(AppDataFolder()).filePath(kAppTitle); }

TPackageStamp FileStamp(const QString& path)
{
    TPackageStamp stamp;
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return stamp;
    stamp.Size = status.st_size;
    stamp.Modified = qint64{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1'000'000;
    return stamp;
}

std::optional<TCacheMarker> ReadCacheMarker(const QString& folder)
{
    // Opened first and then looked at: another process may put a FIFO or a link in the
    // marker's place at any time, and neither may hold the reader up nor lead it elsewhere.
    const int descriptor = ::open(QFile::encodeName(QDir(folder).filePath(kCacheMarker)).constData(),
                                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxMarkerSize)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxMarkerSize));
    const QJsonObject object = document.object();
    const QString package = object.value(QStringLiteral("package")).toString();
    if (package.isEmpty())
        return std::nullopt;
    TCacheMarker marker;
    marker.Package = package;
    marker.Stamp.Size = object.value(QStringLiteral("size")).toInteger(-1);
    marker.Stamp.Modified = object.value(QStringLiteral("modified")).toInteger();
    marker.Stamp.Directory = object.value(QStringLiteral("directory")).toString();
    const qint64 used = object.value(QStringLiteral("used")).toInteger(-1);
    if (used >= 0) {
        // A use is never later than the marker's own writing, nor than now: a time from a
        // clock gone wrong would otherwise keep the cache for ever.
        const QDateTime written =
            std::min(QDateTime::fromMSecsSinceEpoch(qint64{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1'000'000,
                                                    Qt::UTC),
                     QDateTime::currentDateTimeUtc());
        marker.Used = std::min(QDateTime::fromMSecsSinceEpoch(used, Qt::UTC), written);
    }
    return marker;
}

bool WriteCacheMarker(const QString& folder, const TCacheMarker& marker)
{
    QJsonObject object;
    object.insert(QStringLiteral("package"), marker.Package);
    object.insert(QStringLiteral("size"), marker.Stamp.Size);
    object.insert(QStringLiteral("modified"), marker.Stamp.Modified);
    object.insert(QStringLiteral("directory"), marker.Stamp.Directory);
    object.insert(QStringLiteral("used"), marker.Used.toMSecsSinceEpoch());
    QSaveFile file(QDir(folder).filePath(kCacheMarker));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) >= 0 && file.commit();
}

TCacheResult PrepareCache(const QString& packagePath, Prompts& prompts,
                          const std::function<void()>& processMessages, const QString& cacheRoot)
{
    // Only the last level: the extractor creates whatever else is missing.
    QDir().mkdir(cacheRoot);
    TCacheResult result;
    result.Folder = QDir(cacheRoot).filePath(PathDigest(packagePath));
    const std::optional<TCacheMarker> marker = ReadCacheMarker(result.Folder);
    // A fresh extraction goes here first, so that a failed one leaves the folder as it was.
    QString staging;
    try {
        TPackageReader reader(packagePath);
        reader.ProcessMessages = processMessages;
        reader.UserPrompts = &prompts;
        // Taken before reading: a file replaced meanwhile differs from it next time.
        result.Stamp = FileStamp(packagePath);
        reader.ReadDirectory();
        result.Stamp.Directory = reader.DirectoryDigest();
        // A replaced package may carry older members, or fewer: nothing of the old one may
        // stay. An unchanged one only gets back what has gone from the folder.
        const bool fresh = !marker || marker->Package != packagePath || marker->Stamp != result.Stamp;
        if (fresh) {
            staging = result.Folder + QStringLiteral(".new");
            RemoveCacheFolder(staging);  // left by an extraction that never ended
        }
        reader.ExtractInto(fresh ? staging : result.Folder);
        if (fresh)
            ReplaceFolder(result.Folder, std::exchange(staging, QString()));
        result.HoldsSheet = reader.HoldsMember(kSheetMember);
        result.Extracted = true;
    } catch (const TError& error) {
        prompts.ErrorWithDetail(QStringLiteral("UnComPress File Error!"), packagePath + u'\n' + error.Text());
    } catch (const std::bad_alloc&) {
        prompts.ErrorWithDetail(QStringLiteral("UnComPress File Error!"), packagePath + QStringLiteral("\nnot enough memory"));
    }
    if (!staging.isEmpty())
        RemoveCacheFolder(staging);
    if (IsRealFolder(result.Folder)) {
        // After a failure the folder holds what it held, under the stamp it had (none for a
        // folder of unknown origin, so the next extraction is a fresh one).
        const TPackageStamp stamp = result.Extracted ? result.Stamp : marker ? marker->Stamp : TPackageStamp{};
        WriteCacheMarker(result.Folder, {packagePath, stamp, QDateTime::currentDateTimeUtc()});
    }
    return result;
}

QList<TCacheFolder> CacheFolders(const QString& cacheRoot)
{
    static const QRegularExpression name(QStringLiteral("^[0-9a-f]{32}$"));
    QList<TCacheFolder> caches;
    const QFileInfoList entries = QDir(cacheRoot).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!name.match(entry.fileName()).hasMatch())
            continue;
        TCacheFolder cache;
        cache.Folder = entry.filePath();
        cache.Name = entry.fileName();
        if (!entry.isSymLink()) {
            cache.Marker = ReadCacheMarker(cache.Folder);
            cache.Bytes = TreeBytes(cache.Folder);
        }
        caches.append(cache);
    }
    return caches;
}

bool MadeByZuvora(const TCacheFolder& cache)
{
    return cache.Marker && IsRealFolder(cache.Folder) && PathDigest(cache.Marker->Package) == cache.Name;
}

QList<TCacheFolder> UnusedCaches(const QStringList& keptPackages, const QDateTime& usedBefore, const QString& cacheRoot)
{
    QSet<QString> kept;
    for (const QString& package : keptPackages)
        kept.insert(PathDigest(package));
    QList<TCacheFolder> unused;
    for (const TCacheFolder& cache : CacheFolders(cacheRoot)) {
        // A marker without a time of use was never played from: it counts as unused.
        if (MadeByZuvora(cache) && !kept.contains(cache.Name) &&
            (!cache.Marker->Used.isValid() || cache.Marker->Used < usedBefore))
            unused.append(cache);
    }
    return unused;
}

bool RemoveCacheFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(folder);
    // A folder extracted without write permission could not be emptied otherwise.
    QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner);
    bool removed = true;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        removed = RemoveCacheFolder(entry.filePath()) && removed;
    return QDir().rmdir(folder) && removed;
}

bool ForgetPackageCache(const QString& packagePath, const QString& cacheRoot)
{
    TCacheFolder cache;
    cache.Name = PathDigest(packagePath);
    cache.Folder = QDir(cacheRoot).filePath(cache.Name);
    cache.Marker = ReadCacheMarker(cache.Folder);
    if (!MadeByZuvora(cache) || cache.Marker->Package != packagePath)
        return false;
    return RemoveCacheFolder(cache.Folder);
}
