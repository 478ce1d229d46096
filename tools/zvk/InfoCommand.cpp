#include "Commands.h"
#include "LoadPackage.h"

// What the player would play: the actions read from the package's cache folder.
int InfoCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(1);
    const TExtractedPackage package = LoadPackage(args[0]);
    PrintOut(QStringLiteral("package: %1").arg(package.Path));
    PrintOut(QStringLiteral("cache: %1").arg(package.Cache.Folder));
    PrintOut(QStringLiteral("actions: %1").arg(package.Zvk.Actions.size()));
    for (const TAction& action : package.Zvk.Actions) {
        // One pass over the pattern: a "%1" inside a name stays as it is.
        PrintOut(QStringLiteral("action %1 \"%2\": %3 frames, %4 audio")
                     .arg(QString::number(action.Index), Printable(action.Name),
                          QString::number(action.Frames.size()), QString::number(action.AudioFiles.size())));
        for (std::size_t f = 0; f < action.Frames.size(); ++f) {
            const TFrame& frame = action.Frames[f];
            PrintOut(QStringLiteral("  frame %1: left %2 top %3 width %4 height %5 (index %6)")
                         .arg(f)
                         .arg(frame.Left)
                         .arg(frame.Top)
                         .arg(frame.Width)
                         .arg(frame.Height)
                         .arg(frame.Index));
        }
        for (const QString& audio : action.AudioFiles)
            PrintOut(QStringLiteral("  audio: \"%1\"").arg(Printable(audio)));
        if (action.Motion.IsSet())
            PrintOut(QStringLiteral("  motion: ") + DescribeMotion(action.Motion));
    }
    // The player goes on with whatever the cache holds; a script wants to know.
    if (package.ManifestFailure) {
        PrintErr(QStringLiteral("%1: the manifest could be read only in part: %2").arg(package.Path, *package.ManifestFailure));
        return 1;
    }
    return package.Cache.Extracted ? 0 : 1;
}
