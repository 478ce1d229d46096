#pragma once

#include <QString>

#include <optional>

// Starting with the desktop session, as the freedesktop autostart specification has it: a
// desktop entry in $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset) that starts
// Zuvora with the pets of its last run.

// The entry's native path.
QString AutostartFilePath();
// Whether the entry is there.
bool StartsWithDesktop();
// The entry's text for the program at `program` (an absolute path); empty for a path that no
// entry can name (a line break or other control character, "=").
QByteArray AutostartEntry(const QString& program);
// Writes the entry for `program`, or removes it; the reason when that fails or `program`
// cannot be named.
std::optional<QString> SetStartWithDesktop(bool on, const QString& program);
