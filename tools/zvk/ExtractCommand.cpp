#include "Commands.h"
#include "ConsolePrompts.h"

#include "archive/TZipExtractor.h"

// Extracts as the player fills its cache: every entry with a dot in its name, folders
// recreated, existing files replaced only by newer entries.
int ExtractCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    ConsolePrompts prompts;
    TZipExtractor zip;
    zip.ZipName = args[0];
    zip.UserPrompts = &prompts;
    zip.ReadDirectory();
    zip.FilesList = QStringList{QStringLiteral("*.*")};
    zip.DoAll = false;
    zip.DestDir = args[1];
    zip.OverwriteMode = TOverwriteMode::ifNewer;
    zip.RecreateDirs = true;
    zip.RetainAttributes = true;
    const int count = zip.ExtractSelected();
    PrintOut(QStringLiteral("%1 entries extracted").arg(count));
    return 0;
}
