#include "Commands.h"
#include "ConsolePrompts.h"

#include "common/Error.h"
#include "package/PackageReader.h"

// Extracts as the player fills its cache: every entry with a dot in its name, folders
// recreated, existing files replaced only by newer entries. Each entry passed over is named
// with its reason, and makes the status 1.
int ExtractCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    ConsolePrompts prompts;
    TPackageReader package(args[0]);
    package.UserPrompts = &prompts;
    int passedOver = 0;
    package.OnPassedOver = [&](const QString& member, const QString& reason) {
        PrintErr(QStringLiteral("%1: %2: passed over: %3").arg(args[0], member, reason));
        ++passedOver;
    };
    try {
        package.ReadDirectory();
        const int count = package.ExtractInto(args[1]);
        PrintOut(QStringLiteral("%1 entries extracted").arg(count));
    } catch (const TError& error) {
        PrintErr(QStringLiteral("%1: %2").arg(args[0], error.Text()));
        return 1;
    }
    return passedOver > 0 ? 1 : 0;
}
