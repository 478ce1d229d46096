#include "package/PackageWriter.h"

#include "archive/ZipWriter.h"

#include <QDir>

int TPackageWriter::Write(const QString& folder, const QString& packagePath) const
{
    TZipWriter zip;
    zip.ZipName = packagePath;
    zip.FilesList = {QDir::cleanPath(folder) + QStringLiteral("/*.*")};
    zip.Recurse = true;
    zip.StorePaths = false;
    zip.IncludeHiddenFiles = true;
    zip.IncludeReadOnlyFiles = true;
    zip.ProcessMessages = ProcessMessages;
    return zip.WriteArchive();
}
