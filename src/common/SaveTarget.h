#pragma once

#include <QString>

// Files the person names for a save (a package, a project) are written to a new file that
// is renamed over the old one. QSaveFile renames over what a link leads to, so a link named
// as the target would have that other file replaced: such a name is refused instead.
// Raises TError naming `path` when it is a symbolic link, dangling or not.
void RefuseLinkAsSaveTarget(const QString& path);
