#pragma once

#include <QIcon>
#include <QString>

// Pip's face, the program's icon: from the icon theme once installed, else from the prefix
// the program (in `programFolder`) sits in, else the copy built into the program, so that a
// program copied anywhere still has one.
QIcon ZuvoraIcon(const QString& programFolder);
