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
// is not stored. Raises TError with the reason, leaving the old file as it was.
void SaveProject(const QString& path, const QList<TProjectAction>& actions);

// Appends the actions stored in the file (native path) to `actions`. Never raises: reading
// stops at the first damage and keeps what was read before it. Returns the reason when the
// file exists but could not be read whole.
std::optional<QString> LoadProject(const QString& path, TActionModel& actions);
