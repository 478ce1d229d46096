#pragma once

#include <QString>
#include <QStringList>

// A path list as the packer keeps it in one text: every path followed by ";" (so two files
// are "a;b;"). The separator is not escaped, so a path holding it cannot be listed.

// The pieces of `text` between separators, each with the characters of code 32 and below
// trimmed from both ends. Empty pieces are skipped, but a piece of blanks only (empty once
// trimmed) is kept as an empty entry: the emptiness test comes before the trimming. With
// `maxPieces` of 0 or more, at most that many pieces are made.
QStringList Split(const QString& text, QChar separator, qsizetype maxPieces = -1);

// Every path followed by ";"; empty for no paths.
QString JoinPaths(const QStringList& paths);
