#include "common/AppDirs.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

QString AppDataFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("APPDATA");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString ExecutableFolder()
{
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}
