#include "package/Manifest.h"
#include "package/PackageCache.h"
#include "package/PackageFiles.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <map>

namespace {

// A member time stamp that survives the 2-second resolution of ZIP headers.
QDateTime Stamp(int hour) { return QDateTime(QDate(2026, 5, 1), QTime(hour, 0, 0)); }

}  // namespace

class PackageCacheTest : public TempDirTest {
protected:
    // Writes a package; every member carries `stamp`.
    void MakePackage(const QString& package, const std::map<QString, QByteArray>& members, const QDateTime& stamp)
    {
        ::MakePackage(Path(QStringLiteral("work-%1").arg(++packages_)), package, members, stamp);
    }

    QString Cached(const TCacheResult& cache, const QString& name) const { return QDir(cache.Folder).filePath(name); }

    ScriptedPrompts prompts_;
    int packages_ = 0;
};

TEST_F(PackageCacheTest, DigestIsTheLowerCaseMd5OfThePathAsGiven)
{
    EXPECT_EQ(PathDigest(QStringLiteral("C:\\Pets\\cat.zvk")), QStringLiteral("f90d8f70fa96cb2dc321b6d84ea6a906"));
    EXPECT_EQ(PathDigest(QStringLiteral("c:\\pets\\cat.zvk")), QStringLiteral("5cb576b7d57352cffab3e1a93da8073b"));
    EXPECT_EQ(PathDigest(QStringLiteral("/home/me/pets/cat.zvk")), QStringLiteral("3ff75c4ebcb7bbe9c7d05b8a03addcb3"));
    EXPECT_EQ(PathDigest(QStringLiteral("/home/me/pets/chat \u00e9t\u00e9.zvk")),
              QStringLiteral("a7a1b6649dfb871fb106e0cd07b40b20"));
    EXPECT_EQ(PathDigest(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
}

TEST_F(PackageCacheTest, FirstShowExtractsEveryMemberWithADotIntoANewFolder)
{
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package,
                {{"zvk.xml", "<ZuvoProject><Action><Name>Idle</Name></Action></ZuvoProject>"},
                 {"zvk.png", "12345678"},
                 {"0.wav", "RIFF"},
                 {"README", "no dot"}},
                Stamp(10));
    ASSERT_FALSE(QFileInfo::exists(CacheRoot()));

    const TCacheResult cache = PrepareCache(package, prompts_);
    EXPECT_TRUE(cache.Extracted);
    EXPECT_EQ(cache.Folder, Path(QStringLiteral("Zuvora/") + PathDigest(package)));
    EXPECT_EQ(QDir(cache.Folder).entryList(QDir::Files, QDir::Name), (QStringList{"0.wav", "zvk.png", "zvk.xml"}));
    EXPECT_EQ(QFileInfo(Cached(cache, QStringLiteral("zvk.png"))).lastModified(), Stamp(10));
    EXPECT_TRUE(prompts_.messages.isEmpty());

    TZvk zvk;
    ReadManifest(Cached(cache, QStringLiteral("zvk.xml")), zvk);
    ASSERT_EQ(zvk.Actions.size(), 1u);
    EXPECT_EQ(zvk.Actions[0].Name, QStringLiteral("Idle"));
}

TEST_F(PackageCacheTest, AnUnchangedPackageGivesBackOnlyWhatLeftTheCache)
{
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package, {{"zvk.xml", "v1"}, {"zvk.png", "sheet v1"}, {"0.wav", "sound v1"}}, Stamp(10));
    const TCacheResult first = PrepareCache(package, prompts_);
    EXPECT_TRUE(first.HoldsSheet);

    // Nothing is rewritten: a local edit with the member's time survives.
    WriteAll(Cached(first, QStringLiteral("zvk.xml")), "edited");
    QFile edited(Cached(first, QStringLiteral("zvk.xml")));
    ASSERT_TRUE(edited.open(QIODevice::ReadWrite));
    ASSERT_TRUE(edited.setFileTime(Stamp(10), QFileDevice::FileModificationTime));
    edited.close();
    QFile::remove(Cached(first, QStringLiteral("0.wav")));
    EXPECT_TRUE(PrepareCache(package, prompts_).Extracted);
    EXPECT_EQ(ReadAll(Cached(first, QStringLiteral("zvk.xml"))), QByteArray("edited"));
    EXPECT_EQ(ReadAll(Cached(first, QStringLiteral("0.wav"))), QByteArray("sound v1"));
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(PackageCacheTest, AReplacedPackageIsExtractedWholeIntoAnEmptiedFolder)
{
    const struct {
        QDateTime stamp;
        std::map<QString, QByteArray> members;
    } versions[] = {
        {QDateTime(QDate(2001, 3, 4), QTime(5, 6, 8)), {{"zvk.xml", "old"}, {"zvk.png", "sheet from 2001"}}},
        {Stamp(11), {{"zvk.xml", "newer"}, {"zvk.png", "newer sheet"}}},
        {Stamp(12), {{"zvk.xml", "no sheet"}}},
    };
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package, {{"zvk.xml", "v1"}, {"zvk.png", "sheet v1"}, {"0.wav", "sound v1"}}, Stamp(10));
    PrepareCache(package, prompts_);
    for (const auto& version : versions) {
        MakePackage(package, version.members, version.stamp);
        const TCacheResult cache = PrepareCache(package, prompts_);
        EXPECT_TRUE(cache.Extracted);
        EXPECT_EQ(cache.HoldsSheet, version.members.count(QStringLiteral("zvk.png")) == 1);
        QStringList names;
        for (const auto& [name, bytes] : version.members) {
            names.append(name);
            EXPECT_EQ(ReadAll(Cached(cache, name)), bytes) << name.toStdString();
        }
        EXPECT_EQ(QDir(cache.Folder).entryList(QDir::Files, QDir::Name), names);
    }
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(PackageCacheTest, TwoSpellingsOfOnePathHaveTwoFolders)
{
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package, {{"zvk.xml", "x"}}, Stamp(10));
    const TCacheResult plain = PrepareCache(package, prompts_);
    const TCacheResult dotted = PrepareCache(Path(QStringLiteral("./cat.zvk")), prompts_);
    EXPECT_NE(plain.Folder, dotted.Folder);
    EXPECT_TRUE(QFileInfo::exists(Cached(plain, QStringLiteral("zvk.xml"))));
    EXPECT_TRUE(QFileInfo::exists(Cached(dotted, QStringLiteral("zvk.xml"))));
}

TEST_F(PackageCacheTest, ABrokenPackageShowsTheErrorOnceAndKeepsTheEarlierExtraction)
{
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package, {{"zvk.xml", "good"}}, Stamp(10));
    const TCacheResult good = PrepareCache(package, prompts_);

    WriteAll(package, "This is a text file, not an archive.\n");
    const TCacheResult broken = PrepareCache(package, prompts_);
    EXPECT_FALSE(broken.Extracted);
    EXPECT_EQ(broken.Folder, good.Folder);
    // The designed text, then the package and the reason.
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].kind, QStringLiteral("Error"));
    EXPECT_TRUE(prompts_.messages[0].text.startsWith(QStringLiteral("UnComPress File Error!\n") + package + u'\n'))
        << prompts_.messages[0].text.toStdString();
    EXPECT_EQ(ReadAll(Cached(good, QStringLiteral("zvk.xml"))), QByteArray("good"));

    // A missing file is reported the same way, and a fresh folder stays empty.
    prompts_.messages.clear();
    const TCacheResult missing = PrepareCache(Path(QStringLiteral("gone.zvk")), prompts_);
    EXPECT_FALSE(missing.Extracted);
    EXPECT_EQ(prompts_.messages.size(), 1);
    EXPECT_TRUE(QDir(missing.Folder).entryList(QDir::Files).isEmpty());
}

TEST_F(PackageCacheTest, AnEmptyPackageFileExtractsNothingWithoutAMessage)
{
    const QString package = Path(QStringLiteral("empty.zvk"));
    WriteAll(package, {});
    const TCacheResult cache = PrepareCache(package, prompts_);
    EXPECT_TRUE(cache.Extracted);
    EXPECT_TRUE(prompts_.messages.isEmpty());
    EXPECT_TRUE(QDir(cache.Folder).entryList(QDir::Files).isEmpty());
}

TEST_F(PackageCacheTest, ACacheFolderThatCannotBeMadeIsAnExtractionError)
{
    const QString package = Path(QStringLiteral("cat.zvk"));
    MakePackage(package, {{"zvk.xml", "good"}}, Stamp(10));
    const QString file = Path(QStringLiteral("appdata-is-a-file"));
    WriteAll(file, "x");
    qputenv("APPDATA", QFile::encodeName(file));
    EXPECT_FALSE(PrepareCache(package, prompts_).Extracted);
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_TRUE(prompts_.messages[0].text.startsWith(QStringLiteral("UnComPress File Error!\n")));
}
