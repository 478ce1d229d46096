#include "player/PackageCache.h"

#include "archive/TZipExtractor.h"
#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/Prompts.h"

#include <QCryptographicHash>
#include <QDir>

QString PathDigest(const QString& packagePath)
{
    return QString::fromLatin1(QCryptographicHash::hash(packagePath.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString CacheRoot() { return QDir(AppDataFolder()).filePath(kAppTitle); }

bool ExtractPackage(const QString& packagePath, const QString& destination, Prompts& prompts,
                    const std::function<void()>& processMessages)
{
    try {
        TZipExtractor extractor;
        extractor.ProcessMessages = processMessages;
        extractor.UserPrompts = &prompts;
        extractor.ZipName = packagePath;
        extractor.ReadDirectory();
        extractor.FilesList = {QStringLiteral("*.*")};
        extractor.DoAll = false;
        extractor.DestDir = destination;
        extractor.OverwriteMode = TOverwriteMode::ifNewer;
        extractor.RecreateDirs = true;
        extractor.RetainAttributes = true;
        extractor.ExtractSelected();
        return true;
    } catch (const TError& error) {
        prompts.ErrorWithDetail(QStringLiteral("UnComPress File Error!"), packagePath + u'\n' + error.Text());
    } catch (const std::bad_alloc&) {
        prompts.ErrorWithDetail(QStringLiteral("UnComPress File Error!"), packagePath + QStringLiteral("\nnot enough memory"));
    }
    return false;
}

TCacheResult PrepareCache(const QString& packagePath, Prompts& prompts,
                          const std::function<void()>& processMessages)
{
    // Only the last level: the extractor creates whatever else is missing.
    QDir().mkdir(CacheRoot());
    TCacheResult result;
    result.Folder = QDir(CacheRoot()).filePath(PathDigest(packagePath));
    result.Extracted = ExtractPackage(packagePath, result.Folder, prompts, processMessages);
    return result;
}
