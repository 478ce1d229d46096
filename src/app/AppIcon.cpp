#include "app/AppIcon.h"

#include <QDir>
#include <QFileInfo>

QIcon ZuvoraIcon(const QString& programFolder)
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("org.zuvora.zuvora"));
    if (!icon.isNull())
        return icon;
    const QDir installed(QDir(programFolder).filePath(QStringLiteral("../share/icons/hicolor")));
    for (const QString& size : installed.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString file = installed.filePath(size + QStringLiteral("/apps/org.zuvora.zuvora.png"));
        if (QFileInfo(file).isFile())
            icon.addFile(file);
    }
    if (!icon.isNull())
        return icon;
    const QDir built(QStringLiteral(":/icons"));
    for (const QString& file : built.entryList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(built.filePath(file));
    return icon;
}
