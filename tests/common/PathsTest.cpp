#include "common/Paths.h"
#include "common/VisibleText.h"

#include <gtest/gtest.h>

namespace {

std::string Combine(const char* folder, const char* stored)
{
    return CombinePath(QString::fromUtf8(folder), QString::fromUtf8(stored)).toStdString();
}

std::string Relative(const char* base, const char* file)
{
    return RelativePath(QString::fromUtf8(base), QString::fromUtf8(file)).toStdString();
}

}  // namespace

TEST(CombinePath, JoinsRelativeDriveAndRootedPaths)
{
    EXPECT_EQ(Combine("C:\\Pets\\", "cat.zvk"), "C:\\Pets\\cat.zvk");
    EXPECT_EQ(Combine("C:\\Pets", "cat.zvk"), "C:\\Pets\\cat.zvk");
    EXPECT_EQ(Combine("C:\\Pets\\", "D:\\Other\\dog.zvk"), "D:\\Other\\dog.zvk");
    // A single leading "\" means the root of the folder's drive.
    EXPECT_EQ(Combine("C:\\Pets\\Lib\\", "\\Zoo\\dog.zvk"), "C:\\Zoo\\dog.zvk");
    EXPECT_EQ(Combine("\\home\\me\\", "\\srv\\dog.zvk"), "\\srv\\dog.zvk");
    // Network paths are taken as they are.
    EXPECT_EQ(Combine("C:\\Pets\\", "\\\\server\\share\\a.zvk"), "\\\\server\\share\\a.zvk");
}

TEST(CombinePath, DropsDotsAndClimbsForDotDot)
{
    EXPECT_EQ(Combine("C:\\A\\B\\", "..\\C\\x.zvk"), "C:\\A\\C\\x.zvk");
    EXPECT_EQ(Combine("C:\\A\\B\\", ".\\x.zvk"), "C:\\A\\B\\x.zvk");
    EXPECT_EQ(Combine("C:\\A\\B\\", "..\\..\\..\\..\\x.zvk"), "C:\\x.zvk");
    EXPECT_EQ(Combine("C:\\A\\B\\", "D:\\X\\.\\Y\\..\\z.zvk"), "D:\\X\\z.zvk");
    EXPECT_EQ(Combine("\\home\\me\\lib\\", "..\\pets\\cat.zvk"), "\\home\\me\\pets\\cat.zvk");
}

TEST(CombinePath, AcceptsForwardSlashes)
{
    EXPECT_EQ(Combine("/home/me/lib/", "../pets/cat.zvk"), "\\home\\me\\pets\\cat.zvk");
    EXPECT_EQ(Combine("C:/Pets/", "cat.zvk"), "C:\\Pets\\cat.zvk");
}

TEST(CombinePath, ResultOverThePathLimitIsEmpty)
{
    const QString folder = QStringLiteral("\\") + QString(MaxPathLength() - 20, u'a') + u'\\';
    EXPECT_TRUE(CombinePath(folder, QString(18, u'b')).isEmpty());
    EXPECT_EQ(CombinePath(folder, QString(17, u'b')).size(), MaxPathLength() - 1);
    // Climbing out again before the limit is what counts, not the length of the input.
    EXPECT_EQ(CombinePath(folder, QStringLiteral("..\\") + QString(30, u'b')), QStringLiteral("\\") + QString(30, u'b'));
}

TEST(RelativePath, SameFolderGivesTheBareName)
{
    EXPECT_EQ(Relative("C:\\Zuvora\\Zuvora.Dat", "C:\\Zuvora\\cat.zvk"), "cat.zvk");
    EXPECT_EQ(Relative("\\opt\\zuvora\\Zuvora.Dat", "\\opt\\zuvora\\cat.zvk"), "cat.zvk");
}

TEST(RelativePath, ClimbsAndDescends)
{
    EXPECT_EQ(Relative("C:\\A\\Zuvora.Dat", "C:\\B\\cat.zvk"), "..\\B\\cat.zvk");
    EXPECT_EQ(Relative("C:\\A\\Zuvora.Dat", "C:\\A\\Pets\\Cats\\cat.zvk"), "Pets\\Cats\\cat.zvk");
    EXPECT_EQ(Relative("C:\\A\\B\\C\\Zuvora.Dat", "C:\\cat.zvk"), "..\\..\\..\\cat.zvk");
    EXPECT_EQ(Relative("/home/me/bin/Zuvora.Dat", "/home/me/pets/cat.zvk"), "..\\pets\\cat.zvk");
}

TEST(RelativePath, OtherDriveGivesThePathUnchanged)
{
    EXPECT_EQ(Relative("C:\\A\\Zuvora.Dat", "D:\\cat.zvk"), "D:\\cat.zvk");
    EXPECT_EQ(Relative("\\opt\\Zuvora.Dat", "D:\\cat.zvk"), "D:\\cat.zvk");
}

TEST(RelativePath, DriveLetterPathsIgnoreCaseNativePathsDoNot)
{
    EXPECT_EQ(Relative("c:\\pets\\Zuvora.Dat", "C:\\PETS\\cat.zvk"), "cat.zvk");
    EXPECT_EQ(Relative("C:\\Pets\\Zuvora.Dat", "c:\\Other\\Cat.zvk"), "..\\Other\\Cat.zvk");
    // On this system "Pets" and "pets" are two folders; the stored path must lead back to
    // the file that was added, not to its namesake.
    EXPECT_EQ(Relative("\\home\\me\\pets\\Zuvora.Dat", "\\home\\me\\Pets\\cat.zvk"), "..\\Pets\\cat.zvk");
}

TEST(RelativePath, RoundTripsThroughCombinePath)
{
    const char* cases[][2] = {
        {"C:\\A\\B\\Zuvora.Dat", "C:\\A\\C\\D\\x.zvk"},
        {"C:\\A\\Zuvora.Dat", "C:\\x.zvk"},
        {"\\home\\u\\Zuvora.Dat", "\\home\\u\\x y\\\xc3\xa9t\xc3\xa9.zvk"},
        {"C:\\A\\Zuvora.Dat", "E:\\Z\\x.zvk"},
    };
    for (const auto& c : cases) {
        const QString base = QString::fromUtf8(c[0]);
        const QString file = QString::fromUtf8(c[1]);
        EXPECT_EQ(CombinePath(ExtractFilePath(base), RelativePath(base, file)), file) << c[1];
    }
}

TEST(FileNameParts, SplitAtTheLastSeparatorOrDriveColon)
{
    EXPECT_EQ(ExtractFileName(QStringLiteral("C:\\Pets\\cat.zvk")), QStringLiteral("cat.zvk"));
    EXPECT_EQ(ExtractFilePath(QStringLiteral("C:\\Pets\\cat.zvk")), QStringLiteral("C:\\Pets\\"));
    EXPECT_EQ(ExtractFileName(QStringLiteral("C:cat.zvk")), QStringLiteral("cat.zvk"));
    EXPECT_EQ(ExtractFilePath(QStringLiteral("C:cat.zvk")), QStringLiteral("C:"));
    EXPECT_EQ(ExtractFileName(QStringLiteral("/home/me/cat.zvk")), QStringLiteral("cat.zvk"));
    EXPECT_EQ(ExtractFileName(QStringLiteral("cat.zvk")), QStringLiteral("cat.zvk"));
    EXPECT_EQ(ExtractFilePath(QStringLiteral("cat.zvk")), QString());
    // A colon inside a name on this system is part of the name.
    EXPECT_EQ(ExtractFileName(QStringLiteral("/pets/10:30.zvk")), QStringLiteral("10:30.zvk"));
}

TEST(FileNameParts, ExtensionIsFromTheLastDotOfTheName)
{
    EXPECT_EQ(ExtractFileExt(QStringLiteral("C:\\a.b\\cat.ZVK")), QStringLiteral(".ZVK"));
    EXPECT_EQ(ExtractFileExt(QStringLiteral("a.zvk.zvk")), QStringLiteral(".zvk"));
    EXPECT_EQ(ExtractFileExt(QStringLiteral("C:\\a.b\\cat")), QString());
    EXPECT_EQ(ExtractFileExt(QStringLiteral("dir\\.hidden")), QStringLiteral(".hidden"));
}

TEST(NativePaths, ConvertBothWays)
{
    EXPECT_EQ(NativeToStored(QStringLiteral("/home/me/cat.zvk")), QStringLiteral("\\home\\me\\cat.zvk"));
    EXPECT_EQ(StoredToNative(QStringLiteral("\\home\\me\\cat.zvk")), QStringLiteral("/home/me/cat.zvk"));
    EXPECT_EQ(StoredToNative(QStringLiteral("C:\\Pets\\cat.zvk")), QStringLiteral("/Pets/cat.zvk"));
    EXPECT_EQ(StoredToNative(QStringLiteral("..\\Pets/cat.zvk")), QStringLiteral("../Pets/cat.zvk"));
}

TEST(VisibleText, CharactersThatHideOrReorderTextAreWrittenOut)
{
    const struct {
        QString given;
        QString shown;
    } cases[] = {
        {QStringLiteral("/home/ä/Pip \u732b.zvk\nnext line"), QStringLiteral("/home/ä/Pip \u732b.zvk\nnext line")},
        {QStringLiteral("/p/\u202Egpj.zvk"), QStringLiteral("/p/\\u{202e}gpj.zvk")},
        {QStringLiteral("a\u2066b\u2069\u200Fc\u061C"), QStringLiteral("a\\u{2066}b\\u{2069}\\u{200f}c\\u{061c}")},
        {QStringLiteral("tab\there\r\x1b[2J\x7f"), QStringLiteral("tab\\u{0009}here\\u{000d}\\u{001b}[2J\\u{007f}")},
        {QString(QChar(0x85)) + QChar(0x2028), QStringLiteral("\\u{0085}\\u{2028}")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VisibleText(c.given), c.shown) << c.given.toStdString();
}
