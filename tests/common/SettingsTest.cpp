#include "common/Settings.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

class SettingsTest : public TempDirTest {};

TEST_F(SettingsTest, AFileOverTheBoundIsNeitherReadNorOverwritten)
{
    QString said;
    const QMetaObject::Connection connection =
        QObject::connect(&SettingsSignals(), &TSettingsSignals::SettingsNotKept, [&](const QString& text) { said = text; });
    const QString path = SettingsFilePath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    // Grown over many packages, as an endless list of groups would grow it.
    QByteArray text = "[Test]\nKey=in the file\n\n[Pets]\n";
    for (int i = 0; text.size() <= kMaxSettingsBytes; ++i)
        text += QStringLiteral("%1\\Place=@Rect(0 0 16 16)\n").arg(i, 32, 16, QChar(u'0')).toLatin1();
    WriteAll(path, text);

    EXPECT_EQ(ReadSetting(QStringLiteral("Test/Key"), QStringLiteral("none")).toString(), QStringLiteral("none"));
    WriteSetting(QStringLiteral("Test/Key"), QStringLiteral("chosen"));
    EXPECT_EQ(ReadSetting(QStringLiteral("Test/Key")).toString(), QStringLiteral("chosen"));
    EXPECT_EQ(ReadAll(path), text);
    QCoreApplication::processEvents();
    EXPECT_EQ(said, QStringLiteral("Settings cannot be kept: %1 is larger than 1 MiB and is left as it is. "
                                   "Choices hold until Zuvora ends.")
                        .arg(path));
    QObject::disconnect(connection);

    // Once it is gone, choices are written again.
    ASSERT_TRUE(QFile::remove(path));
    WriteSetting(QStringLiteral("Test/Key"), QStringLiteral("again"));
    EXPECT_EQ(ReadAll(path), "[Test]\nKey=again\n");
}

TEST_F(SettingsTest, WritesInABatchReachTheFileWhenTheLastBatchEnds)
{
    const QString path = SettingsFilePath();
    WriteSetting(QStringLiteral("Test/A"), 1);
    EXPECT_TRUE(ReadAll(path).contains("A=1"));
    {
        const TSettingsBatch outer;
        WriteSetting(QStringLiteral("Test/B"), 2);
        {
            const TSettingsBatch inner;
            WriteSetting(QStringLiteral("Test/C"), 3);
        }
        EXPECT_EQ(ReadSetting(QStringLiteral("Test/C")).toInt(), 3);
        EXPECT_FALSE(ReadAll(path).contains("B=2"));
        EXPECT_FALSE(ReadAll(path).contains("C=3"));
    }
    EXPECT_TRUE(ReadAll(path).contains("A=1\nB=2\nC=3\n"));
}
