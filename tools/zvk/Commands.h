#pragma once

#include <QString>
#include <QStringList>

// One function per command; each gets the arguments after the command's name and returns
// the exit status. Wrong arguments throw UsageError, which prints the usage and exits 2.

struct UsageError {};

int ListCommand(const QStringList& args);
int ExtractCommand(const QStringList& args);
int PackCommand(const QStringList& args);
int InfoCommand(const QStringList& args);
int TraceCommand(const QStringList& args);

// Console output in the locale's encoding.
void PrintOut(const QString& line);
void PrintErr(const QString& line);
