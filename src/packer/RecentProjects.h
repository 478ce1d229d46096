#pragma once

#include <QStringList>

// The projects opened or saved last, newest first, kept in Zuvora's settings.
inline constexpr int kMaxRecentProjects = 10;

QStringList RecentProjects();
// Puts the project first, once; the eleventh goes.
void AddRecentProject(const QString& path);
void RemoveRecentProject(const QString& path);
void ClearRecentProjects();
