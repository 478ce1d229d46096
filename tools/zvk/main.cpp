// zvk: checks and makes packages from the command line, over the same core as the program.

#include "Commands.h"

#include "common/Error.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <initializer_list>
#include <iterator>

namespace {

struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    int (*run)(const TArguments& args);
    std::initializer_list<const char*> options = {};  // the options that take a value
    std::initializer_list<const char*> flags = {};    // the options that take none
};

// A new command is one row here and one function in its own file.
constexpr Command kCommands[] = {
    {"list", "ARCHIVE",
     "One tab-separated line per entry: stored name, method, compressed size, size,\n"
     "CRC-32 (hex), time stamp (YYYY-MM-DD HH:MM:SS).",
     ListCommand},
    {"extract", "ARCHIVE DIR",
     "Extract as the player does: names with a dot, folders recreated, only newer entries\n"
     "replace existing files. Prints the number of entries extracted; each entry passed\n"
     "over is named with its reason on standard error and makes the status 1.",
     ExtractCommand},
    {"pack", "DIR ARCHIVE",
     "Pack DIR as the packer does: every file at any depth, hidden and read-only ones too,\n"
     "under its bare name (of equal names only the first found), deflated; ARCHIVE is\n"
     "replaced. Prints the number of files added.",
     PackCommand},
    {"info", "PACKAGE",
     "Load PACKAGE as the player does (same cache folder under $APPDATA/Zuvora, same\n"
     "extraction) and print its actions: number, name, frames with their rectangles, audio.",
     InfoCommand},
    {"trace",
     "[--mode repeat|single|random] [--frames N] [--instant] PACKAGE\n"
     "      --roam [--seed N] [--screen WxH[+X+Y]]... [--at X,Y] [--instant] [--frames N] PACKAGE",
     "Play PACKAGE with the real playback engine at real speed, as right after the program\n"
     "starts (default: repeat, 100 frames), and print one line per frame request:\n"
     "milliseconds since start, action number, the 40-character request text. With\n"
     "--instant the clock is simulated: no waiting, every time as it would be.\n"
     "With --roam the pet roams the given screens (default one 1920x1080 at 0,0) from its\n"
     "foot at X,Y (default: centred on the first screen's floor), drawn by a generator\n"
     "seeded with N (default: the clock); each line adds the window's left and top, 1 when\n"
     "drawn mirrored (else 0), and the state.",
     TraceCommand, {"--mode", "--frames", "--seed", "--screen", "--at"}, {"--instant", "--roam"}},
    {"build", "PROJECT PACKAGE",
     "Build PROJECT (a .zvp file) into PACKAGE as the packer does: the build's log on\n"
     "standard output, an error on standard error. \".zvk\" is added to PACKAGE unless it\n"
     "ends so; the work folder is $APPDATA/Zuvo Packer/<name>.",
     BuildCommand},
    {"import",
     "FILE PROJECT [--action NAME] [--grid COLSxROWS | --cell WxH] [--role ROLE] [--move DX,DY]\n"
     "      [--facing left|right] [--interval MS]",
     "Append to PROJECT (a .zvp file, made when it does not exist) one action holding the\n"
     "frames of FILE, as the packer's Add does: an animation (GIF, APNG, WebP) becomes PNG\n"
     "frames in a new folder beside PROJECT, each repeated for its delay at the action's\n"
     "frame time: --interval, else one chosen from the delays (their greatest common divisor,\n"
     "or the commonest delay), which the action keeps.\n"
     "With --grid or --cell, FILE is a sprite sheet cut into cells in reading order, wholly\n"
     "see-through cells left out. The action is named after FILE unless --action names it.\n"
     "How it moves a roaming pet: --role idle|walk|sit|fall|land|drag|climb, --move (pixels\n"
     "a frame, -64 to 64 each), --facing (the way the art faces), --interval (20 to 1000 ms\n"
     "a frame).",
     ImportCommand, {"--action", "--grid", "--cell", "--role", "--move", "--facing", "--interval"}},
    {"cache", "[--prune]",
     "List the player's cache folders under $APPDATA/Zuvora, one tab-separated line each:\n"
     "folder name, bytes held, last played (YYYY-MM-DD HH:MM:SS, - when not known), state,\n"
     "package path (- when not known). State: listed (the package is in the library),\n"
     "recent (played within a week), unused (neither: --prune removes it), or unknown (no\n"
     "mark of Zuvora's: always kept). With --prune, removes the unused ones, shown as\n"
     "removed, and ends with \"N removed, B bytes freed\".",
     CacheCommand, {}, {"--prune"}},
};

QString CommandHelp(const Command& command)
{
    QString text = QStringLiteral("  zvk %1 %2\n").arg(QLatin1String(command.name), QLatin1String(command.arguments));
    for (const QString& line : QString::fromUtf8(command.summary).split(u'\n'))
        text += QStringLiteral("      ") + line + u'\n';
    return text;
}

const QString kExitStatus = QStringLiteral(
    "\nExit status: 0 done, 1 the operation failed (the reason is on standard error),\n"
    "2 unknown command or wrong arguments.");

QString Usage()
{
    QString text = QStringLiteral("Usage: zvk COMMAND ARGUMENTS...\n       zvk COMMAND --help\n       zvk --help | "
                                  "--version\n\nChecks and makes Zuvo packages (.zvk) from the command line, over the "
                                  "same code as Zuvora.\n\nCommands:\n");
    for (const Command& command : kCommands)
        text += CommandHelp(command);
    return text + kExitStatus;
}

bool AsksForHelp(const QStringList& args) { return args.size() == 1 && (args[0] == u"--help" || args[0] == u"-h"); }

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (AsksForHelp(args)) {
        PrintOut(Usage());
        return 0;
    }
    if (args.size() == 1 && (args[0] == u"--version" || args[0] == u"-v")) {
        PrintOut(QStringLiteral("zvk 1.0"));
        return 0;
    }
    if (args.isEmpty()) {
        PrintErr(Usage());
        return 2;
    }
    const QString name = args.takeFirst();
    for (const Command& command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        if (AsksForHelp(args)) {
            PrintOut(QStringLiteral("Usage:\n") + CommandHelp(command) + kExitStatus);
            return 0;
        }
        try {
            QStringList options;
            for (const char* option : command.options)
                options.append(QLatin1String(option));
            QStringList flags;
            for (const char* flag : command.flags)
                flags.append(QLatin1String(flag));
            return command.run(ParseArguments(args, options, flags));
        } catch (const UsageError&) {
            PrintErr(Usage());
            return 2;
        } catch (const TError& error) {
            PrintErr(error.Text());
            return 1;
        } catch (const std::exception& error) {
            PrintErr(QString::fromLocal8Bit(error.what()));
            return 1;
        }
    }
    PrintErr(QStringLiteral("zvk: unknown command \"%1\"\n").arg(name) + Usage());
    return 2;
}
