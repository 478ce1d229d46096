#include "app/CommandLine.h"

#include <QCommandLineParser>

TCommandLine ReadCommandLine(const QStringList& arguments, bool unknownAllowed)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Desktop pets: plays Zuvo packages (.zvk) on the desktop, keeps a "
                                                    "library of them, and builds them in its packer."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
    const QCommandLineOption restore(QStringLiteral("restore"),
                                     QStringLiteral("Brings back the pets of the last run (as the desktop session's "
                                                    "start does)."));
    const QCommandLineOption platform(QStringLiteral("platform"),
                                      QStringLiteral("Where pets are drawn: x11 (windows of their own) or layer-shell "
                                                     "(Wayland layer surfaces)."),
                                      QStringLiteral("x11|layer-shell"));
    parser.addOptions({help, version, restore, platform});
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Packages (.zvk) to add and play, or projects "
                                                                         "(.zvp) to open in the packer."),
                                 QStringLiteral("[files...]"));
    TCommandLine read;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        read.ExitCode = 0;
        read.Output = parser.helpText();
    } else if (parser.isSet(version)) {
        read.ExitCode = 0;
        read.Output = QStringLiteral("zuvora 1.0\n");
    } else if (!parsed && !unknownAllowed) {
        read.ExitCode = 2;
        read.Output = QStringLiteral("zuvora: %1\nTry 'zuvora --help'.\n").arg(parser.errorText());
    }
    if (read.ExitCode || !parsed)
        return read;
    read.Restore = parser.isSet(restore);
    for (const QString& file : parser.positionalArguments()) {
        if (!file.isEmpty())
            read.Files.append(file);
    }
    return read;
}
