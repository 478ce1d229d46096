#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

void TempDirTest::SetUp()
{
    ASSERT_TRUE(temp_.isValid());
    oldAppData_ = qgetenv("APPDATA");
    qputenv("APPDATA", QFile::encodeName(temp_.path()));
}

void TempDirTest::TearDown()
{
    if (oldAppData_.isNull())
        qunsetenv("APPDATA");
    else
        qputenv("APPDATA", oldAppData_);
}

QString TempDirTest::Path(const QString& name) const { return QDir(temp_.path()).filePath(name); }

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString TestDataFolder()
{
    const QString folder = QStringLiteral(ZUVORA_TESTDATA);
    return QDir(folder).exists() ? folder : QString();
}
