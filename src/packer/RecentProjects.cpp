#include "packer/RecentProjects.h"

#include "common/Settings.h"

namespace {

const QString kRecentKey = QStringLiteral("Packer/RecentProjects");

void Keep(QStringList paths)
{
    paths.removeAll(QString());
    paths.removeDuplicates();
    WriteSetting(kRecentKey, paths.mid(0, kMaxRecentProjects));
}

}  // namespace

QStringList RecentProjects()
{
    // A settings file edited by hand may hold anything: no more than the menu shows.
    QStringList paths = ReadSetting(kRecentKey).toStringList().mid(0, kMaxRecentProjects);
    paths.removeAll(QString());
    return paths;
}

void AddRecentProject(const QString& path)
{
    QStringList paths = RecentProjects();
    paths.removeAll(path);
    paths.prepend(path);
    Keep(paths);
}

void RemoveRecentProject(const QString& path)
{
    QStringList paths = RecentProjects();
    paths.removeAll(path);
    Keep(paths);
}

void ClearRecentProjects() { WriteSetting(kRecentKey, QStringList()); }
