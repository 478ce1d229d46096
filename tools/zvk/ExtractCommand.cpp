#include "Commands.h"
#include "ConsolePrompts.h"

#include "archive/TZipExtractor.h"
#include "archive/ZipError.h"

// Extracts as the player fills its cache: every entry with a dot in its name, folders
// recreated, existing files replaced only by newer entries. Each entry passed over is named
// with its reason, and makes the status 1.
int ExtractCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    ConsolePrompts prompts;
    TZipExtractor zip;
    zip.ZipName = args[0];
    zip.UserPrompts = &prompts;
    int passedOver = 0;
    zip.OnPassedOver = [&](const TZipEntry& entry, const QString& reason) {
        PrintErr(QStringLiteral("%1: %2: passed over: %3").arg(args[0], entry.FolderPart + entry.FileName, reason));
        ++passedOver;
    };
    try {
        zip.ReadDirectory();
        zip.FilesList = QStringList{QStringLiteral("*.*")};
        zip.DoAll = false;
        zip.DestDir = args[1];
        zip.OverwriteMode = TOverwriteMode::ifNewer;
        zip.RecreateDirs = true;
        zip.RetainAttributes = true;
        const int count = zip.ExtractSelected();
        PrintOut(QStringLiteral("%1 entries extracted").arg(count));
    } catch (const TZipError& error) {
        PrintErr(QStringLiteral("%1: %2").arg(args[0], error.Text()));
        return 1;
    }
    return passedOver > 0 ? 1 : 0;
}
