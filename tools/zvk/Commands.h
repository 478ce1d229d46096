#pragma once

#include <QString>
#include <QStringList>

#include <QMap>

// One function per command; each gets the arguments after the command's name and returns
// the exit status. Wrong arguments throw UsageError, which prints the usage and exits 2.

struct UsageError {};

// A command's arguments: options ("--name value") may stand anywhere among the operands,
// and "--" makes everything after it an operand.
struct TArguments {
    QStringList Operands;
    QMultiMap<QString, QString> Options;  // an option given twice has both values
    QStringList Flags;  // options that take no value, as given

    // The operands, exactly `count` of them, or a UsageError.
    const QStringList& Expect(qsizetype count) const;
};

// Splits `args` by the options and flags a command knows; any other option is a UsageError.
TArguments ParseArguments(const QStringList& args, const QStringList& knownOptions, const QStringList& knownFlags = {});

int ListCommand(const TArguments& args);
int ExtractCommand(const TArguments& args);
int PackCommand(const TArguments& args);
int InfoCommand(const TArguments& args);
int TraceCommand(const TArguments& args);
int BuildCommand(const TArguments& args);
int ImportCommand(const TArguments& args);
int CacheCommand(const TArguments& args);

inline const QStringList kImportOptions{QStringLiteral("--action"), QStringLiteral("--grid"), QStringLiteral("--cell"),
                                       QStringLiteral("--role"),   QStringLiteral("--move"), QStringLiteral("--facing"),
                                       QStringLiteral("--interval")};

// A name from a package, safe on a terminal: control characters come out as \n, \t or \xHH,
// and a backslash as \\, so no name can forge a line or move the cursor.
QString Printable(const QString& text);

// Console output in the locale's encoding.
void PrintOut(const QString& line);
void PrintErr(const QString& line);
