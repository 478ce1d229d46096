#include "Commands.h"

#include "package/PackageWriter.h"

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
    const int count = TPackageWriter().Write(folder, args[1]);
    PrintOut(QStringLiteral("%1 files added").arg(count));
    return 0;
}
