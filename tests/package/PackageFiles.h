#pragma once

#include "package/PackageWriter.h"
#include "support/TestEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <map>

// Writes `package` with the package writer from `members`, each stamped `stamp`, staged in
// the folder `work`, which must not exist yet.
inline void MakePackage(const QString& work, const QString& package, const std::map<QString, QByteArray>& members,
                        const QDateTime& stamp)
{
    ASSERT_TRUE(QDir().mkpath(work));
    for (const auto& [name, bytes] : members) {
        const QString path = QDir(work).filePath(name);
        WriteAll(path, bytes);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    QFile::remove(package);
    ASSERT_EQ(TPackageWriter().Write(work, package), static_cast<int>(members.size()));
}
