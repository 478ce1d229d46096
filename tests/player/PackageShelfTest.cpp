#include "package/PackageCache.h"
#include "package/PackageFiles.h"
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

class PackageShelfTest : public TempDirTest {
protected:
    // A package of one 8 by 8 frame on the sheet `png`.
    QString MakePet(const QString& name, const QByteArray& png)
    {
        MakePackage(Path(QStringLiteral("work-") + name), Path(name),
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

    ScriptedPrompts prompts_;
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
