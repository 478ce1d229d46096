#include "archive/ZipBuilder.h"
#include "package/PackageReader.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace ziptest;

class PackageReaderTest : public TempDirTest {};

// An archive made by another tool, with folders and members the player does not take.
TEST_F(PackageReaderTest, AForeignArchiveIsListedAndExtractedAsThePlayerTakesIt)
{
    ZipMember odd;
    odd.name = "odd.bin";
    odd.data = "x";
    odd.method = 12;
    odd.compressed = QByteArray("x");
    const QByteArray archive = ZipBuilder()
                                   .Add("pets/", {})
                                   .Add("pets/zvk.png", QByteArray(300, 'p'), 8)
                                   .Add("README", "no dot")
                                   .Add(odd)
                                   .Build();
    const QString package = Path(QStringLiteral("foreign.zvk"));
    WriteAll(package, archive);

    TPackageReader reader(package);
    ScriptedPrompts prompts;
    reader.UserPrompts = &prompts;
    QStringList passedOver;
    reader.OnPassedOver = [&](const QString& member, const QString& reason) { passedOver.append(member + u':' + reason); };
    reader.ReadDirectory();

    const QList<TPackageMember> members = reader.Members();
    ASSERT_EQ(members.size(), 4);
    EXPECT_EQ(members[1].Name, QStringLiteral("pets/zvk.png"));
    EXPECT_EQ(members[1].Method, 8);
    EXPECT_EQ(members[1].Size, 300u);
    EXPECT_LT(members[1].CompressedSize, 300u);
    EXPECT_EQ(members[1].Crc32, Crc32(QByteArray(300, 'p')));
    EXPECT_EQ(members[1].Modified, QDateTime(QDate(2020, 6, 15), QTime(12, 0, 0)));
    // Only a member at the root is the package's own.
    EXPECT_FALSE(reader.HoldsMember(QStringLiteral("zvk.png")));
    EXPECT_TRUE(reader.HoldsMember(QStringLiteral("odd.bin")));

    const QString dest = Path(QStringLiteral("cache"));
    EXPECT_EQ(reader.ExtractInto(dest), 1);
    EXPECT_EQ(ReadAll(dest + QStringLiteral("/pets/zvk.png")), QByteArray(300, 'p'));
    EXPECT_FALSE(QFileInfo::exists(dest + QStringLiteral("/README")));
    EXPECT_EQ(passedOver, QStringList{QStringLiteral("odd.bin:unknown compression method 12")});
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].kind + u'/' + prompts.messages[0].text, QStringLiteral("Zip Error/Unknown Compression Method"));

    // The directory's digest tells content, not place: a copy has the same, a retimed member another.
    const QString copy = Path(QStringLiteral("copy.zvk"));
    ASSERT_TRUE(QFile::copy(package, copy));
    ZipMember retimed;
    retimed.name = "README";
    retimed.data = "no dot";
    retimed.time = DosTime(12, 0, 2);
    const QString other = Path(QStringLiteral("other.zvk"));
    WriteAll(other, ZipBuilder().Add("pets/", {}).Add("pets/zvk.png", QByteArray(300, 'p'), 8).Add(retimed).Add(odd).Build());
    const auto digest = [](const QString& path) {
        TPackageReader read(path);
        read.ReadDirectory();
        return read.DirectoryDigest();
    };
    EXPECT_EQ(digest(copy), reader.DirectoryDigest());
    EXPECT_NE(digest(other), reader.DirectoryDigest());
}
