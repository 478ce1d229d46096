#pragma once

#include "packer/ActionModel.h"

#include <QList>
#include <QString>

#include <optional>

// The project file (".zvp"): XML naming every action and its frame images, stored relative
// to the file's own folder so that a project folder can move together with its images.

inline const QString kProjectFilter = QStringLiteral("Zuvo Project(*.zvp)|*.zvp");

// The name a chosen file is saved under: unchanged when its extension is ".zvp" in any
// letter case, else with ".zvp" appended (pet.txt gives pet.txt.zvp).
QString WithProjectExtension(const QString& name);

// Replaces the file (native path) atomically with the actions' names and frame paths; audio
// is not stored. Raises TError with the reason, leaving the old file as it was; a path that
// is a link is refused, so the file it leads to is never replaced.
void SaveProject(const QString& path, const QList<TProjectAction>& actions);

// The project file that `path` names: for a link to an existing file, that file, so that
// the frames stored relative to it are found beside it and a save replaces it, not the
// link; any other path unchanged.
QString ResolvedProjectPath(const QString& path);

// Whether a frame's full path comes back from a saved project as it went in: the list's
// separator ";" is not escaped, "\" is the stored folder separator, a stored path that
// begins with a letter and ":" reads as one on a drive, blanks at either end of a stored
// path are trimmed, and XML carries no control characters.
bool IsStorablePath(const QString& nativePath);
// What a path IsStorablePath refuses holds, for messages.
inline const QString kUnstorablePath = QStringLiteral(
    "contains \";\", \"\\\", a control character, a blank at the start or end of a name, or a name that begins "
    "with a letter and \":\", which a project file cannot store");

// `name` made into a folder name that every path through it keeps: "\", ";", ":" and
// control characters become "_", and blanks at either end go.
QString StorableName(const QString& name);

// Appends the actions stored in the file (native path) to `actions`. Never raises: reading
// stops at the first damage and keeps what was read before it. Returns the reason when the
// file exists but could not be read whole.
std::optional<QString> LoadProject(const QString& path, TActionModel& actions);
