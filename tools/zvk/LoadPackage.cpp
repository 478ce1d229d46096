#include "LoadPackage.h"

#include "ConsolePrompts.h"
#include "package/PackageLayout.h"
#include "package/Manifest.h"

#include <QDir>
#include <QFileInfo>

TExtractedPackage LoadPackage(const QString& argument)
{
    TExtractedPackage loaded;
    loaded.Path = QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
    ConsolePrompts prompts;
    loaded.Cache = PrepareCache(loaded.Path, prompts);
    loaded.ManifestFailure = ReadManifest(QDir(loaded.Cache.Folder).filePath(kManifestMember), loaded.Zvk);
    return loaded;
}
