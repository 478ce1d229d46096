#pragma once

#include <QString>

// The application title: the library window's caption, the caption of information boxes,
// the first word of the About texts and the name of the cache root folder.
inline const QString kAppTitle = QStringLiteral("Zuvora");

// The per-user data folder under which the cache and work folders live (native path):
// $APPDATA when set, else the platform's generic data folder (~/.local/share).
QString AppDataFolder();

// The folder of the running program (native path, no trailing separator).
QString ExecutableFolder();
