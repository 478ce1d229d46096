#include "Commands.h"

#include "archive/TZipWriter.h"

#include <QDir>
#include <QFileInfo>

// Packs a folder as the packer packs its work folder: every file at any depth, hidden and
// read-only ones included, under its bare name.
int PackCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    const QString folder = args[0];
    if (!QFileInfo(folder).isDir()) {
        PrintErr(folder + QStringLiteral(" does not exist!"));
        return 1;
    }
    TZipWriter zip;
    zip.ZipName = args[1];
    zip.FilesList = QStringList{QDir::toNativeSeparators(QDir::cleanPath(folder) + QStringLiteral("/*.*"))};
    zip.Recurse = true;
    zip.StorePaths = false;
    zip.IncludeHiddenFiles = true;
    zip.IncludeReadOnlyFiles = true;
    const int count = zip.WriteArchive();
    PrintOut(QStringLiteral("%1 files added").arg(count));
    return 0;
}
