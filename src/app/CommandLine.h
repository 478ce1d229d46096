#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What Zuvora is asked to do from its command line: its own options and the packages and
// projects to open. Qt's own options (-style...) are Qt's, taken before this reads the rest.
struct TCommandLine {
    bool Restore = false;  // --restore: the pets of the last run come back
    QStringList Files;     // as given
    // Set when the program is to end at once: --help, --version, or an argument it does not
    // take. Then Output goes to standard output (help, version) or standard error (errors).
    std::optional<int> ExitCode;
    QString Output;
};

// `arguments` as QCoreApplication::arguments() gives them, the program first. With
// `unknownAllowed` (before Qt has taken its own options) only --help and --version are acted
// on.
TCommandLine ReadCommandLine(const QStringList& arguments, bool unknownAllowed = false);
