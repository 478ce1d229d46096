#include "package/Manifest.h"
#include "package/PackageCache.h"
#include "package/PackageFiles.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Another process of the user's swaps the marker for a FIFO and back, as fast as it can: a
// reader that looked before it opened would wait on the FIFO for a writer that never comes.
TEST_F(PackageCacheTest, AMarkerSwappedForAFifoIsNoMarkerAndHoldsNoReaderUp)
{
    const QString folder = Path(QStringLiteral("cache"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteCacheMarker(folder, {Path(QStringLiteral("cat.zvk")), {}, QDateTime::currentDateTimeUtc()}));
    const QByteArray marker = QFile::encodeName(QDir(folder).filePath(kCacheMarker));
    const QByteArray file = QFile::encodeName(Path(QStringLiteral("file"))), fifo = QFile::encodeName(Path(QStringLiteral("fifo")));
    ASSERT_EQ(::rename(marker.constData(), file.constData()), 0);
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

    std::atomic<bool> done = false;
    std::atomic<int> misses = 0;
    std::thread reader([&] {
        for (int i = 0; i < 20000; ++i)
            if (!ReadCacheMarker(folder))
                ++misses;
        done = true;
    });
    for (int i = 0; !done && i < 200000; ++i) {
        const QByteArray& in = i % 2 == 0 ? file : fifo;
        ::rename(in.constData(), marker.constData());
        ::rename(marker.constData(), in.constData());
    }
    for (int i = 0; !done && i < 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool heldUp = !done;
    // Lets a reader that waits on the FIFO go, so that the test ends either way.
    while (!done) {
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_FALSE(heldUp);
    // The swaps did happen while it read.
    EXPECT_GT(misses.load(), 0);
}

// A marker's time of use from a clock gone wrong counts from when the marker was written;
// one without a time counts as never played.
TEST_F(PackageCacheTest, PruningTakesMarkersFromTheFutureOnceOldAndMarkersWithoutATime)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime future = QDateTime(QDate(3170843, 1, 1), QTime(0, 0), Qt::UTC);
    struct Case {
        const char* package;
        QByteArray used;  // the marker's "used" value, as written by hand
        QDateTime written;
        bool unused;
    };
    const Case cases[] = {
        {"future-written-long-ago.zvk", QByteArray::number(future.toMSecsSinceEpoch()), now.addDays(-8), true},
        {"future-written-now.zvk", QByteArray::number(future.toMSecsSinceEpoch()), now, false},
        {"no-time.zvk", {}, now, true},
        {"recent.zvk", QByteArray::number(now.addDays(-1).toMSecsSinceEpoch()), now, false},
    };
    const QDateTime usedBefore = now.addDays(-kUnusedCacheDays);
    for (const Case& c : cases) {
        const QString package = Path(QLatin1String(c.package));
        const QString folder = QDir(CacheRoot()).filePath(PathDigest(package));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile marker(QDir(folder).filePath(kCacheMarker));
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        marker.write("{\"package\": \"" + package.toUtf8() + "\"" + (c.used.isEmpty() ? "" : ", \"used\": " + c.used) + "}");
        ASSERT_TRUE(marker.flush());
        ASSERT_TRUE(marker.setFileTime(c.written, QFileDevice::FileModificationTime));
        marker.close();
        const std::optional<TCacheMarker> read = ReadCacheMarker(folder);
        ASSERT_TRUE(read.has_value()) << c.package;
        EXPECT_LE(read->Used, now.addSecs(1)) << c.package;
    }
    QStringList unused;
    for (const TCacheFolder& cache : UnusedCaches({}, usedBefore))
        unused.append(cache.Marker->Package);
    for (const Case& c : cases)
        EXPECT_EQ(unused.contains(Path(QLatin1String(c.package))), c.unused) << c.package;
}
