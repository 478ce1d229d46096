#include "archive/TZipWriter.h"
#include "package/Manifest.h"
#include "player/PackageCache.h"
#include "player/PackageShelf.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <map>

namespace {

// A member time stamp that survives the 2-second resolution of ZIP headers.
QDateTime Stamp(int hour) { return QDateTime(QDate(2026, 5, 1), QTime(hour, 0, 0)); }

}  // namespace

class PackageCacheTest : public TempDirTest {
protected:
    // Writes a package with our archive writer; every member carries `stamp`.
    void MakePackage(const QString& package, const std::map<QString, QByteArray>& members, const QDateTime& stamp)
    {
        QDir work(Path(QStringLiteral("work-%1").arg(++packages_)));
        ASSERT_TRUE(work.mkpath(QStringLiteral(".")));
        for (const auto& [name, bytes] : members) {
            WriteAll(work.filePath(name), bytes);
            QFile file(work.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        QFile::remove(package);
        TZipWriter writer;
        writer.ZipName = package;
        writer.FilesList = {work.filePath(QStringLiteral("*.*"))};
        ASSERT_EQ(writer.WriteArchive(), static_cast<int>(members.size()));
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

class PackageShelfTest : public PackageCacheTest {
protected:
    // A package of one 8 by 8 frame on the sheet `png`.
    QString MakePet(const QString& name, const QByteArray& png)
    {
        MakePackage(Path(name),
                    {{"zvk.xml", "<ZuvoProject><Action><Name>A</Name><ActionFragment><Fragment><Index>0</Index><Top>0</Top>"
                                 "<Left>0</Left><Width>8</Width><Height>8</Height></Fragment></ActionFragment></Action>"
                                 "</ZuvoProject>"},
                     {"zvk.png", png}},
                    Stamp(10));
        return Path(name);
    }

    static QByteArray Png(int width, int height, QRgb colour = qRgb(10, 20, 30))
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    static std::shared_ptr<const TLoadedPackage> Load(TPackageShelf& shelf, const QString& path)
    {
        std::shared_ptr<const TLoadedPackage> loaded;
        const TPackageShelf::Ticket ticket = shelf.Take(path, [&loaded](const auto& package) { loaded = package; });
        EXPECT_TRUE(QTest::qWaitFor([&loaded] { return loaded != nullptr; }, 5000)) << path.toStdString();
        return loaded;
    }

    static QString CacheOf(const QString& path) { return QDir(CacheRoot()).filePath(PathDigest(path)); }
};

TEST_F(PackageShelfTest, APackageLoadsOnTheShelfsThreadOnceForAllThePetsWaitingForIt)
{
    TPackageShelf shelf;
    const QString pet = MakePet(QStringLiteral("a.zvk"), Png(64, 48));
    std::shared_ptr<const TLoadedPackage> got[3];
    const TPackageShelf::Ticket first = shelf.Take(pet, [&got](const auto& package) { got[0] = package; });
    const TPackageShelf::Ticket second = shelf.Take(pet, [&got](const auto& package) { got[1] = package; });
    TPackageShelf::Ticket gone = shelf.Take(pet, [&got](const auto& package) { got[2] = package; });
    gone.reset();
    // Done while this thread takes no events: the work is not this thread's.
    shelf.WaitForLoader();
    EXPECT_TRUE(ReadCacheMarker(CacheOf(pet)).has_value());
    EXPECT_EQ(got[0], nullptr);  // handed over through this thread's event loop
    ASSERT_TRUE(QTest::qWaitFor([&got] { return got[0] && got[1]; }, 5000));
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(got[2], nullptr);
    EXPECT_EQ(shelf.Loads(), 1);
    ASSERT_NE(got[0]->Sheet, nullptr);
    EXPECT_EQ(got[0]->Sheet->Image.size(), QSize(64, 48));
    EXPECT_TRUE(got[0]->Messages.isEmpty());
}

TEST_F(PackageShelfTest, SheetsShareOneBudgetAndIdenticalPackagesOneSheet)
{
    TPackageShelf shelf(4 << 20);
    const QString a = MakePet(QStringLiteral("a.zvk"), Png(512, 512));
    const QString copy = Path(QStringLiteral("copy of a.zvk"));
    ASSERT_TRUE(QFile::copy(a, copy));
    const QString other = MakePet(QStringLiteral("other.zvk"), Png(512, 512, qRgb(200, 0, 0)));
    // Its header claims 2048 by 2048 pixels; there are none to decode.
    const QString big = MakePet(QStringLiteral("big.zvk"), HeaderOnlyPng(2048, 2048));

    std::shared_ptr<const TLoadedPackage> pets[] = {Load(shelf, a), Load(shelf, copy)};
    ASSERT_NE(pets[0]->Sheet, nullptr);
    EXPECT_EQ(pets[0]->Sheet, pets[1]->Sheet);
    const std::int64_t sheet = 512 * 512 * 4 + 512 / 32 * 4 * 512;
    EXPECT_EQ(shelf.SheetBytes(), sheet);
    EXPECT_NE(Load(shelf, other)->Sheet, pets[0]->Sheet);

    const std::shared_ptr<const TLoadedPackage> refused = Load(shelf, big);
    EXPECT_EQ(refused->Sheet, nullptr);
    ShowLoadMessages(*refused, prompts_);
    ShowLoadMessages(*refused, prompts_);
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].text, QStringLiteral("There is not enough memory for this pet.\n") + big +
                                             QStringLiteral("\nIts sprite sheet takes 16.5 MB; the sprite sheets of all "
                                                            "pets may take 4.0 MB, of which 3.0 MB are free."));
    for (auto& pet : pets)
        pet.reset();
    EXPECT_EQ(shelf.SheetBytes(), 0);
}

TEST_F(PackageShelfTest, PruningTakesOnlyUnusedCachesThatZuvoraMadeAndNoPetPlays)
{
    enum { kListed, kRecent, kOld, kPlayed };
    QStringList pets;
    for (const char* name : {"listed.zvk", "recent.zvk", "old.zvk", "played.zvk"}) {
        pets.append(MakePet(QLatin1String(name), Png(8, 8)));
        PrepareCache(pets.last(), prompts_);
    }
    TPackageShelf shelf;
    const std::shared_ptr<const TLoadedPackage> playing = Load(shelf, pets[kPlayed]);
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-kUnusedCacheDays - 1);
    for (const int pet : {kListed, kOld, kPlayed}) {
        TCacheMarker marker = *ReadCacheMarker(CacheOf(pets[pet]));
        marker.Used = old;
        ASSERT_TRUE(WriteCacheMarker(CacheOf(pets[pet]), marker));
    }
    // Inside the old cache, a link to a file of the user's.
    const QString users = Path(QStringLiteral("user's file.txt"));
    WriteAll(users, "mine");
    ASSERT_TRUE(QFile::link(users, QDir(CacheOf(pets[kOld])).filePath(QStringLiteral("link.txt"))));
    // Named like caches, but not known to be Zuvora's: no marker; a marker naming another
    // package; a link to a folder with a marker of its own.
    const QString unmarked = CacheOf(Path(QStringLiteral("unmarked.zvk")));
    const QString foreign = CacheOf(Path(QStringLiteral("foreign.zvk")));
    const QString linked = CacheOf(Path(QStringLiteral("linked.zvk")));
    const QString outside = Path(QStringLiteral("outside"));
    for (const QString& folder : {unmarked, foreign, outside})
        ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteCacheMarker(foreign, {pets[kOld], {}, old}));
    ASSERT_TRUE(WriteCacheMarker(outside, {Path(QStringLiteral("linked.zvk")), {}, old}));
    ASSERT_TRUE(QFile::link(outside, linked));

    shelf.PruneCaches({pets[kListed]});
    shelf.WaitForLoader();
    for (const QString& kept : {CacheOf(pets[kListed]), CacheOf(pets[kRecent]), CacheOf(pets[kPlayed]), unmarked, foreign,
                                linked, outside + QStringLiteral("/") + kCacheMarker, users})
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    EXPECT_FALSE(QFileInfo::exists(CacheOf(pets[kOld])));

    // A package that leaves the library takes its cache along, unless a pet plays it.
    shelf.ForgetCache(pets[kRecent]);
    shelf.ForgetCache(pets[kPlayed]);
    shelf.WaitForLoader();
    EXPECT_FALSE(QFileInfo::exists(CacheOf(pets[kRecent])));
    EXPECT_TRUE(QFileInfo::exists(CacheOf(pets[kPlayed])));
}
