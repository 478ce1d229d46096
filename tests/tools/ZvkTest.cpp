#include "app/LibraryFile.h"
#include "archive/ZipBuilder.h"
#include "common/AppDirs.h"
#include "package/PackageLayout.h"
#include "package/PackageCache.h"
#include "support/TestEnv.h"

#include <QMap>
#include <QSet>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <signal.h>

#include <algorithm>
#include <memory>
#include <vector>
#include <tuple>

namespace {

// A GIF of `frames` frames, each one pixel of a `side` square screen shown for `delayCs`
// hundredths of a second.
QByteArray Gif(int side, int frames, int delayCs)
{
    QByteArray gif("GIF89a");
    const auto u16 = [&gif](int value) {
        gif.append(static_cast<char>(value & 0xFF));
        gif.append(static_cast<char>(value >> 8));
    };
    u16(side);
    u16(side);
    gif.append("\x80\0\0" "\0\0\0" "\xFF\xFF\xFF", 9);  // a global table of black and white
    for (int i = 0; i < frames; ++i) {
        gif.append("\x21\xF9\x04\0", 4);
        u16(delayCs);
        gif.append("\0\0", 2);
        gif.append(',');
        for (const int field : {0, 0, 1, 1})
            u16(field);
        gif.append("\0\x02\x02\x4C\x01\0", 6);  // no local table; clear, white, end in 3-bit codes
    }
    return gif + ';';
}

// Size of the raw deflate stream the writer makes (level 6).
qsizetype DeflatedSize(const QByteArray& data) { return ziptest::RawDeflate(data, 6).size(); }

struct ZvkRun {
    int code = -1;
    QString out;
    QString err;
};

class ZvkTest : public TempDirTest {
protected:
    ZvkRun Zvk(const QStringList& args)
    {
        QProcess process;
        process.start(QStringLiteral(ZVK_BINARY), args);
        EXPECT_TRUE(process.waitForFinished(60000));
        ZvkRun run;
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    QString Work() const { return Path(QStringLiteral("work")); }

    void Make(const QString& relative, const QByteArray& bytes, const QDateTime& when = {})
    {
        const QString path = QDir(Work()).filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        WriteAll(path, bytes);
        if (when.isValid()) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
        }
    }

    // Overwrites the method field of every header whose name is `name`.
    static void SetMethod(QByteArray& zip, const QByteArray& name, char method)
    {
        for (const auto& [signature, methodAt, nameAt] :
             {std::tuple{QByteArray("PK\x01\x02", 4), 10, 46}, std::tuple{QByteArray("PK\x03\x04", 4), 8, 30}}) {
            for (qsizetype at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 1)) {
                if (zip.mid(at + nameAt, name.size()) == name)
                    zip[at + methodAt] = method;
            }
        }
    }
};

TEST_F(ZvkTest, HelpAndUsageErrors)
{
    const ZvkRun help = Zvk({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* line : {"zvk list ARCHIVE", "zvk extract ARCHIVE DIR", "zvk pack DIR ARCHIVE"})
        EXPECT_TRUE(help.out.contains(QLatin1String(line))) << line;

    for (const QStringList& args : {QStringList{}, QStringList{"unpack", "a"}, QStringList{"list"},
                                    QStringList{"extract", "a.zvk"}, QStringList{"pack", "a", "b", "c"}}) {
        const ZvkRun run = Zvk(args);
        EXPECT_EQ(run.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Usage: zvk"))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(Zvk({"unpack"}).err.contains(QStringLiteral("unknown command \"unpack\"")));
}

TEST_F(ZvkTest, PackThenListAndExtract)
{
    const QDateTime when(QDate(2019, 12, 31), QTime(22, 30, 14), Qt::LocalTime);
    Make(QStringLiteral("zvk.xml"), "hello", when);
    Make(QStringLiteral("sub/zvk.png"), QByteArray(10000, 'p'), when);
    Make(QStringLiteral(".hidden.wav"), "h", when);
    Make(QStringLiteral("README"), "no dot", when);
    const QString zipName = Path(QStringLiteral("pet.zvk"));

    ZvkRun run = Zvk({"pack", Work(), zipName});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("4 files added\n"));

    run = Zvk({"list", zipName});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    // CRC-32 values as Python's zlib.crc32 gives them; compressed sizes from this zlib.
    EXPECT_EQ(run.out, QStringLiteral(".hidden.wav\tdeflated\t%1\t1\t916b06e7\t2019-12-31 22:30:14\n"
                                      "README\tdeflated\t%2\t6\tc2bf219a\t2019-12-31 22:30:14\n"
                                      "zvk.xml\tdeflated\t%3\t5\t3610a686\t2019-12-31 22:30:14\n"
                                      "zvk.png\tdeflated\t%4\t10000\tfe62609d\t2019-12-31 22:30:14\n")
                           .arg(DeflatedSize("h"))
                           .arg(DeflatedSize("no dot"))
                           .arg(DeflatedSize("hello"))
                           .arg(DeflatedSize(QByteArray(10000, 'p'))));

    // The player's settings: only names with a dot, and a second run finds nothing newer.
    const QString dest = Path(QStringLiteral("cache"));
    run = Zvk({"extract", zipName, dest});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("3 entries extracted\n"));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("/zvk.png")), QByteArray(10000, 'p'));
    EXPECT_FALSE(QFileInfo::exists(dest + QStringLiteral("/README")));
    run = Zvk({"extract", zipName, dest});
    EXPECT_EQ(run.out, QStringLiteral("0 entries extracted\n"));
    EXPECT_TRUE(run.err.isEmpty());
}

TEST_F(ZvkTest, FailuresGoToStandardError)
{
    WriteAll(Path(QStringLiteral("text.zvk")), "this is not an archive, only text\n");
    ZvkRun run = Zvk({"extract", Path(QStringLiteral("text.zvk")), Path(QStringLiteral("out"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, Path(QStringLiteral("text.zvk")) + QStringLiteral(": Incomplete Zip File\n"));

    // A destination that cannot be a folder is an error, not "0 entries extracted".
    Make(QStringLiteral("a.png"), "a");
    ASSERT_EQ(Zvk({"pack", Work(), Path(QStringLiteral("ok.zvk"))}).code, 0);
    WriteAll(Path(QStringLiteral("file")), "x");
    run = Zvk({"extract", Path(QStringLiteral("ok.zvk")), Path(QStringLiteral("file/under"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, Path(QStringLiteral("ok.zvk")) + QStringLiteral(": Cannot create the folder ") +
                           Path(QStringLiteral("file/under")) + u'\n');

    run = Zvk({"list", Path(QStringLiteral("missing.zvk"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("missing.zvk"))) << run.err.toStdString();

    run = Zvk({"pack", Path(QStringLiteral("nowhere")), Path(QStringLiteral("p.zvk"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, Path(QStringLiteral("nowhere")) + QStringLiteral(" does not exist!\n"));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("p.zvk"))));

    run = Zvk({"pack", Work(), Path(QStringLiteral("no/such/folder/p.zvk"))});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("Cannot create the archive "))) << run.err.toStdString();
}

TEST_F(ZvkTest, EntriesPassedOverAreNamedAndFailTheRun)
{
    Make(QStringLiteral("a.png"), "first");
    Make(QStringLiteral("b.png"), "second");
    Make(QStringLiteral("c.png"), "third");
    const QString zipName = Path(QStringLiteral("pet.zvk"));
    ASSERT_EQ(Zvk({"pack", Work(), zipName}).code, 0);
    QByteArray zip = ReadAll(zipName);
    SetMethod(zip, "b.png", 12);
    WriteAll(zipName, zip);

    const QString dest = Path(QStringLiteral("cache"));
    const ZvkRun run = Zvk({"extract", zipName, dest});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, QStringLiteral("Zip Error: Unknown Compression Method\n") + zipName +
                           QStringLiteral(": b.png: passed over: unknown compression method 12\n"));
    EXPECT_EQ(run.out, QStringLiteral("2 entries extracted\n"));
    EXPECT_EQ(ReadAll(dest + QStringLiteral("/c.png")), "third");
    EXPECT_FALSE(QFileInfo::exists(dest + QStringLiteral("/b.png")));
    EXPECT_TRUE(Zvk({"list", zipName}).out.contains(QStringLiteral("b.png\tmethod12\t")));
}

// Pip's frames, in order and on time, as the playback thread of old printed them: the engine
// on the one clock shows the same requests at the same moments to within a fraction of a frame.
TEST_F(ZvkTest, TraceOfPipIsTheOneOfOld)
{
    QFile file(QStringLiteral(PIP_TRACE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QMap<QString, QStringList> old;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(u'#'))
            old[line.section(u' ', 0, 0)].append(line.section(u' ', 1));
    }
    for (const QString& mode : {QStringLiteral("repeat"), QStringLiteral("single")}) {
        const ZvkRun run = Zvk({"trace", "--instant", "--mode", mode, QStringLiteral(PIP_PACKAGE)});
        const QStringList now = run.out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(now.size(), old[mode].size()) << mode.toStdString() << run.err.toStdString();
        for (qsizetype i = 0; i < now.size(); ++i) {
            const QStringList a = now[i].split(u' ', Qt::SkipEmptyParts);
            const QStringList b = old[mode][i].split(u' ', Qt::SkipEmptyParts);
            ASSERT_EQ(a.size(), 3);
            EXPECT_EQ(a.mid(1), b.mid(1)) << mode.toStdString() << " frame " << i;
            EXPECT_NEAR(a[0].toDouble(), b[0].toDouble(), 20.0) << mode.toStdString() << " frame " << i;
        }
    }
}

}  // namespace

TEST_F(ZvkTest, InfoAndTraceShowWhatThePlayerPlays)
{
    Make(QStringLiteral("zvk.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">"
         "<Action><Name>Walk</Name><ActionFragment>"
         "<Fragment><Index>0</Index><Top>0</Top><Left>0</Left><Width>64</Width><Height>60</Height></Fragment>"
         "<Fragment><Index>1</Index><Top>60</Top><Left>0</Left><Width>64</Width><Height>64</Height></Fragment>"
         "</ActionFragment><ActionAudio><Audio>0.wav</Audio></ActionAudio></Action>"
         "<Action><Name>Sit</Name><ActionFragment>"
         "<Fragment><Index>2</Index><Top>124</Top><Left>0</Left><Width>80</Width><Height>64</Height></Fragment>"
         "</ActionFragment><ActionAudio/></Action></ZuvoProject>");
    Make(QStringLiteral("zvk.png"), QByteArray("\x89PNG\r\n\x1a\n", 8));
    const QString package = Path(QStringLiteral("pet.zvk"));
    ASSERT_EQ(Zvk({"pack", Work(), package}).code, 0);

    const ZvkRun info = Zvk({"info", package});
    EXPECT_EQ(info.code, 0) << info.err.toStdString();
    const QStringList lines = info.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], QStringLiteral("package: ") + package);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("cache: ") + Path(QStringLiteral("Zuvora/"))));
    EXPECT_EQ(lines[2], QStringLiteral("actions: 2"));
    EXPECT_EQ(lines[3], QStringLiteral("action 0 \"Walk\": 2 frames, 1 audio"));
    EXPECT_EQ(lines[5], QStringLiteral("  frame 1: left 0 top 60 width 64 height 64 (index 1)"));
    EXPECT_EQ(lines[6], QStringLiteral("  audio: \"0.wav\""));
    EXPECT_EQ(lines[7], QStringLiteral("action 1 \"Sit\": 1 frames, 0 audio"));

    // Right after start Repeat plays the second action first. (Pacing is measured by the
    // benchmarks, not here.)
    // Options may follow the operand too.
    const ZvkRun trace = Zvk({"trace", package, "--frames", "4"});
    EXPECT_EQ(trace.code, 0) << trace.err.toStdString();
    const QStringList frames = trace.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(frames.size(), 4);
    QList<int> actions;
    QList<double> times;
    for (const QString& frame : frames) {
        const QStringList fields = frame.split(u' ', Qt::SkipEmptyParts);
        ASSERT_EQ(fields.size(), 3) << frame.toStdString();
        times.append(fields[0].toDouble());
        actions.append(fields[1].toInt());
        EXPECT_EQ(fields[2].size(), 40);
    }
    EXPECT_EQ(actions, (QList<int>{1, 0, 0, 1}));
    EXPECT_EQ(frames[0].section(u' ', -1), QStringLiteral("0000000000000000012400000000800000000064"));
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    // On the simulated clock: the same frames, each when it is due, 80 ms a frame and after
    // each action.
    const QStringList instant = Zvk({"trace", "--instant", package, "--frames", "4"}).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(instant.size(), 4);
    const char* const due[] = {"0.000", "160.000", "240.000", "400.000"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(instant[i].section(u' ', 0, 0, QString::SectionSkipEmpty), QLatin1String(due[i]));
        EXPECT_EQ(instant[i].section(u' ', 1, -1, QString::SectionSkipEmpty), frames[i].section(u' ', 1, -1, QString::SectionSkipEmpty));
    }

    EXPECT_EQ(Zvk({"trace", "--mode", "sideways", package}).code, 2);
    EXPECT_EQ(Zvk({"trace", "--frames", "0", package}).code, 2);
    EXPECT_EQ(Zvk({"trace", package, "--frames"}).code, 2);
    EXPECT_EQ(Zvk({"info", "--frames", "4", package}).code, 2);
}

TEST_F(ZvkTest, InfoShowsNamesAsTheyAreAndTraceStopsWithoutFrames)
{
    Make(QStringLiteral("zvk.xml"), "<ZuvoProject><Action><Name>%3 walk %1&#13;&#10;action 9 \"x\": 1 frames&#9;</Name>"
                                    "<ActionFragment/><ActionAudio/></Action></ZuvoProject>");
    Make(QStringLiteral("zvk.png"), QByteArray("\x89PNG\r\n\x1a\n", 8));
    const QString package = Path(QStringLiteral("odd.zvk"));
    ASSERT_EQ(Zvk({"pack", Work(), package}).code, 0);
    const QStringList lines = Zvk({"info", package}).out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[3], QStringLiteral("action 0 \"%3 walk %1\\r\\naction 9 \"x\": 1 frames\\t\": 0 frames, 0 audio"));

    const ZvkRun trace = Zvk({"trace", package});
    EXPECT_EQ(trace.code, 1);
    EXPECT_EQ(trace.err, package + QStringLiteral(": no frames to play\n"));
}

TEST_F(ZvkTest, ExtractionsSideBySideLeaveEveryFileWithOneMembersBytesAndTime)
{
    // Two versions of one package, each member's bytes naming its version.
    constexpr int kMembers = 300;
    constexpr int kRounds = 8;
    const QDateTime older(QDate(2024, 1, 1), QTime(10, 0, 0));
    const QDateTime newer(QDate(2025, 1, 1), QTime(10, 0, 0));
    QStringList packages;
    for (const auto& [version, when] : {std::pair{QByteArray("old"), older}, std::pair{QByteArray("new"), newer}}) {
        QDir(Work()).removeRecursively();
        for (int i = 0; i < kMembers; ++i)
            Make(QStringLiteral("m%1.png").arg(i), version + QByteArray(2000 + i, 'x'), when);
        packages.append(Path(QString::fromLatin1(version) + QStringLiteral(".zvk")));
        ASSERT_EQ(Zvk({"pack", Work(), packages.last()}).code, 0);
    }
    for (int round = 0; round < kRounds; ++round) {
        const QString dest = Path(QStringLiteral("cache%1").arg(round));
        std::vector<std::unique_ptr<QProcess>> runs;
        for (const QString& package : {packages[0], packages[1], packages[0], packages[1]}) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(QStringLiteral(ZVK_BINARY), {"extract", package, dest});
        }
        for (auto& run : runs)
            ASSERT_TRUE(run->waitForFinished(60000));
        for (int i = 0; i < kMembers; ++i) {
            const QString file = dest + QStringLiteral("/m%1.png").arg(i);
            const bool isNew = ReadAll(file).startsWith("new");
            EXPECT_EQ(QFileInfo(file).lastModified(), isNew ? newer : older) << file.toStdString();
        }
        // The newer package always heals what an older one left.
        Zvk({"extract", packages[1], dest});
        for (int i = 0; i < kMembers; ++i)
            EXPECT_TRUE(ReadAll(dest + QStringLiteral("/m%1.png").arg(i)).startsWith("new"));
    }
}

TEST_F(ZvkTest, BuildLogsToStandardOutputAndFailsWithTheReason)
{
    QImage frame(8, 8, QImage::Format_RGB32);
    frame.fill(Qt::blue);
    ASSERT_TRUE(frame.save(Path(QStringLiteral("f.png"))));
    WriteAll(Path(QStringLiteral("pet.zvp")), "<ZuvoProject Version=\"1.0.0\"><Action><Name>A</Name>"
                                              "<ActionFragment>f.png;</ActionFragment></Action></ZuvoProject>");
    const ZvkRun built = Zvk({"build", Path(QStringLiteral("pet.zvp")), Path(QStringLiteral("pet"))});
    EXPECT_EQ(built.code, 0) << built.err.toStdString();
    EXPECT_EQ(built.out, Path(QStringLiteral("f.png")) + QStringLiteral("\nSuccess : ") + Path(QStringLiteral("pet.zvk")) +
                             QStringLiteral(" has been built!\n"));
    EXPECT_TRUE(built.err.isEmpty()) << built.err.toStdString();
    EXPECT_EQ(Zvk({"info", Path(QStringLiteral("pet.zvk"))}).out.count(QStringLiteral("frame 0: left 0 top 0 width 8 height 8")), 1);

    QFile::remove(Path(QStringLiteral("f.png")));
    const ZvkRun failed = Zvk({"build", Path(QStringLiteral("pet.zvp")), Path(QStringLiteral("pet"))});
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.err, QStringLiteral("A - ") + Path(QStringLiteral("f.png")) + QStringLiteral(" does not exist!\n"));

    // A project that cannot be read whole would build a package short of actions.
    WriteAll(Path(QStringLiteral("cut.zvp")), "<ZuvoProject><Action><Name>A</Name>");
    const ZvkRun cut = Zvk({"build", Path(QStringLiteral("cut.zvp")), Path(QStringLiteral("cut"))});
    EXPECT_EQ(cut.code, 1);
    EXPECT_TRUE(cut.err.startsWith(Path(QStringLiteral("cut.zvp")) + QStringLiteral(" could not be read whole: ")));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("cut.zvk"))));
}

TEST_F(ZvkTest, InfoOnABrokenPackageSaysSoAndFails)
{
    WriteAll(Path(QStringLiteral("text.zvk")), "not an archive\n");
    const ZvkRun info = Zvk({"info", Path(QStringLiteral("text.zvk"))});
    EXPECT_EQ(info.code, 1);
    EXPECT_TRUE(info.err.contains(QStringLiteral("UnComPress File Error!"))) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("actions: 0")));
    const ZvkRun trace = Zvk({"trace", Path(QStringLiteral("text.zvk"))});
    EXPECT_EQ(trace.code, 1);
}

TEST_F(ZvkTest, ImportAppendsAnActionThatBuilds)
{
    // A strip of three 8 by 8 cells, the middle one clear: two frames.
    QImage strip(24, 8, QImage::Format_ARGB32);
    strip.fill(qRgba(200, 40, 40, 255));
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x)
            strip.setPixel(x, y, 0);
    ASSERT_TRUE(strip.save(Path(QStringLiteral("walk.png"))));
    QImage still(4, 4, QImage::Format_RGB32);
    still.fill(Qt::blue);
    ASSERT_TRUE(still.save(Path(QStringLiteral("still.png"))));
    const QString project = Path(QStringLiteral("pet.zvp"));

    const ZvkRun sheet = Zvk({"import", Path(QStringLiteral("walk.png")), project, "--grid", "3x1"});
    ASSERT_EQ(sheet.code, 0) << sheet.err.toStdString();
    EXPECT_TRUE(sheet.out.contains(QStringLiteral("\"walk\" of 2 frame entries"))) << sheet.out.toStdString();
    const ZvkRun plain = Zvk({"import", "--action", "Stand", Path(QStringLiteral("still.png")), project, "--role", "walk",
                              "--move", "-4,0", "--interval", "120"});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    EXPECT_EQ(ReadAll(project).count("<Action>"), 2);
    ASSERT_EQ(Zvk({"build", project, Path(QStringLiteral("pet.zvk"))}).code, 0);
    const QString info = Zvk({"info", Path(QStringLiteral("pet.zvk"))}).out;
    EXPECT_TRUE(info.contains(QStringLiteral("walk")) && info.contains(QStringLiteral("Stand"))) << info.toStdString();
    EXPECT_EQ(info.count(QStringLiteral("width 8 height 8")), 2) << info.toStdString();
    // How Stand moves goes through the project and the build; walk has no motion to show.
    EXPECT_EQ(info.count(QStringLiteral("motion:")), 1) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("  motion: role walk, move -4 0, interval 120\n"))) << info.toStdString();

    // Both ways of cutting at once, a grid that is no grid, and a project that is no project.
    for (const QStringList& args : {QStringList{"import", "walk.png", "p.zvp", "--grid", "3x1", "--cell", "8x8"},
                                    QStringList{"import", "walk.png", "p.zvp", "--grid", "3"},
                                    QStringList{"import", "walk.png", "p.zvp", "--cell", "0x8"},
                                    QStringList{"import", "walk.png", "p.zvp", "--role", "run"},
                                    QStringList{"import", "walk.png", "p.zvp", "--move", "65,0"},
                                    QStringList{"import", "walk.png", "p.zvp", "--facing", "up"},
                                    QStringList{"import", "walk.png", "p.zvp", "--interval", "10"}})
        EXPECT_EQ(Zvk(args).code, 2) << args.join(u' ').toStdString();
    WriteAll(Path(QStringLiteral("text.zvp")), "not a project");
    const ZvkRun damaged = Zvk({"import", Path(QStringLiteral("still.png")), Path(QStringLiteral("text.zvp"))});
    EXPECT_EQ(damaged.code, 1);
    EXPECT_EQ(ReadAll(Path(QStringLiteral("text.zvp"))), QByteArray("not a project"));
}

// Roaming traced: refused without a walking action; with one, the same seed gives the same
// lines, each with the window's place, mirroring and state, the window on the given screen.
TEST_F(ZvkTest, TraceRoamsTheGivenScreensTheSameForTheSameSeed)
{
    QImage frame(20, 30, QImage::Format_ARGB32);
    frame.fill(Qt::red);
    ASSERT_TRUE(frame.save(Path(QStringLiteral("f.png"))));
    const QString project = Path(QStringLiteral("roam.zvp"));
    ASSERT_EQ(Zvk({"import", Path(QStringLiteral("f.png")), project, "--action", "Rest", "--role", "idle"}).code, 0);
    ASSERT_EQ(Zvk({"build", project, Path(QStringLiteral("still.zvk"))}).code, 0);
    const ZvkRun refused = Zvk({"trace", "--roam", "--instant", Path(QStringLiteral("still.zvk"))});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("cannot roam"))) << refused.err.toStdString();

    ASSERT_EQ(Zvk({"import", Path(QStringLiteral("f.png")), project, "--action", "Go", "--role", "walk", "--move", "5,0"}).code, 0);
    ASSERT_EQ(Zvk({"build", project, Path(QStringLiteral("roam.zvk"))}).code, 0);
    const QStringList args{"trace", "--roam", "--instant", "--seed", "9", "--screen", "300x200+100+50", "--at", "250,100",
                           "--frames", "200", Path(QStringLiteral("roam.zvk"))};
    const ZvkRun first = Zvk(args);
    ASSERT_EQ(first.code, 0) << first.err.toStdString();
    EXPECT_EQ(Zvk(args).out, first.out);
    const QStringList lines = first.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 200);
    QSet<QString> states;
    for (const QString& line : lines) {
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        ASSERT_EQ(fields.size(), 7) << line.toStdString();
        EXPECT_TRUE(QRect(100, 50, 300, 200).contains(QRect(fields[3].toInt(), fields[4].toInt(), 20, 30))) << line.toStdString();
        states.insert(fields[6]);
    }
    // Dropped at 250,100 it falls, then rests and walks.
    EXPECT_EQ(lines[0].section(u' ', -1), QStringLiteral("fall"));
    EXPECT_TRUE(states.contains(QStringLiteral("walk")) && states.contains(QStringLiteral("idle")));
    QStringList otherSeed = args;
    otherSeed[4] = QStringLiteral("10");
    EXPECT_NE(Zvk(otherSeed).out, first.out);
}

TEST_F(ZvkTest, InfoOnAManifestReadInPartNamesTheReasonAndFails)
{
    QByteArray actions;
    for (int i = 0; i <= kMaxPackageActions; ++i)
        actions += "<Action><Name>A</Name><ActionFragment/><ActionAudio/></Action>";
    Make(QStringLiteral("zvk.xml"), "<ZuvoProject Version=\"1.0.0\">" + actions + "</ZuvoProject>");
    ASSERT_EQ(Zvk({"pack", Work(), Path(QStringLiteral("many.zvk"))}).code, 0);
    const ZvkRun info = Zvk({"info", Path(QStringLiteral("many.zvk"))});
    EXPECT_EQ(info.code, 1);
    EXPECT_TRUE(info.err.contains(QStringLiteral("more than %1 actions").arg(kMaxPackageActions))) << info.err.toStdString();
}

TEST_F(ZvkTest, ImportRefusesWhatTheProjectCannotKeepBeforeWritingAnything)
{
    QImage still(4, 4, QImage::Format_RGB32);
    still.fill(Qt::blue);
    for (const char* name : {"still.png", "a\\b.png"})
        ASSERT_TRUE(still.save(Path(QLatin1String(name)), "PNG"));
    // 77 frames of 655.35 s: more entries than a project may hold even at 1000 ms a frame.
    WriteAll(Path(QStringLiteral("slow.gif")), Gif(4, 77, 65535));
    WriteAll(Path(QStringLiteral("empty.png")), {});
    QByteArray full;
    for (int i = 0; i < kMaxPackageFrames; ++i)
        full += "still.png;";
    WriteAll(Path(QStringLiteral("full.zvp")), "<ZuvoProject><Action><Name>A</Name><ActionFragment>" + full +
                                                   "</ActionFragment></Action></ZuvoProject>");
    const QByteArray fullBytes = ReadAll(Path(QStringLiteral("full.zvp")));
    const struct {
        const char* file;
        const char* project;
        QStringList options;
        QString error;
    } cases[] = {
        {"a\\b.png", "pet.zvp", {}, Path("a\\b.png") + ": its path contains \";\", \"\\\", a control character"},
        {"empty.png", "pet.zvp", {}, Path("empty.png") + ": the file is empty"},
        {"still.png", "pet.zvp", {"--action", "a\x01" "b"}, "The action's name holds a control character (code 1)"},
        {"still.png", "pet.zvp", {"--action", "   "}, "The action's name is only blanks"},
        {"slow.gif", "pet.zvp", {}, Path("slow.gif") + ": its frames would take at least 50462 entries of the frame list "
                                                       "even at 1000 ms a frame, but the project has room for 50000 more "
                                                       "of the 50000 frames it may hold"},
        {"still.png", "full.zvp", {}, Path("full.zvp") + " holds 1 actions and 50000 frames; a project holds at most "
                                                         "10000 actions and 50000 frames"},
    };
    const QStringList before = QDir(temp_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const auto& c : cases) {
        const ZvkRun run = Zvk(QStringList{"import", Path(QLatin1String(c.file)), Path(QLatin1String(c.project))} + c.options);
        EXPECT_EQ(run.code, 1) << c.file;
        EXPECT_TRUE(run.err.startsWith(c.error)) << run.err.toStdString();
        EXPECT_EQ(QDir(temp_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before) << c.file;
    }
    EXPECT_TRUE(ReadAll(Path(QStringLiteral("full.zvp"))) == fullBytes);
}

// An animation's action plays at the frame time its delays give, written unless it is the
// default; --interval repeats the frames for its own.
TEST_F(ZvkTest, AnImportedAnimationKeepsItsPace)
{
    WriteAll(Path(QStringLiteral("slow.gif")), Gif(4, 3, 12));
    WriteAll(Path(QStringLiteral("even.gif")), Gif(4, 3, 8));
    const QString project = Path(QStringLiteral("pet.zvp"));
    const struct {
        const char* file;
        QStringList options;
        int entries;
        int interval;  // 0: none written
    } cases[] = {{"slow.gif", {}, 3, 120}, {"slow.gif", {"--interval", "40"}, 9, 40}, {"even.gif", {}, 3, 0}};
    for (const auto& c : cases) {
        const ZvkRun run = Zvk(QStringList{"import", Path(QLatin1String(c.file)), project} + c.options);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral(" of %1 frame entries").arg(c.entries))) << run.out.toStdString();
        const QByteArray file = ReadAll(project);
        const QByteArray action = file.mid(file.lastIndexOf("<Action>"));
        EXPECT_EQ(action.contains("<Interval>"), c.interval != 0) << action.toStdString();
        if (c.interval != 0) {
            EXPECT_TRUE(action.contains("<Interval>" + QByteArray::number(c.interval) + "</Interval>")) << action.toStdString();
        }
    }
}

TEST_F(ZvkTest, ImportThroughALinkToTheProjectPutsTheFramesBesideTheFileItLeadsTo)
{
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("real"))));
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("other"))));
    const QString gif = Path(QStringLiteral("hop.gif"));
    WriteAll(gif, Gif(4, 2, 10));
    const QString real = Path(QStringLiteral("real/pet.zvp"));
    ASSERT_EQ(Zvk({"import", gif, real}).code, 0);
    const QString link = Path(QStringLiteral("other/link.zvp"));
    ASSERT_TRUE(QFile::link(real, link));
    const ZvkRun run = Zvk({"import", gif, link});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("real/hop-2/000.png"))));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("other/hop"))));
    EXPECT_TRUE(ReadAll(real).contains("<ActionFragment>hop-2\\000.png;hop-2\\001.png;</ActionFragment>"))
        << ReadAll(real).toStdString();
    // The same file again: the action takes its folder's name, not the first one's.
    EXPECT_TRUE(ReadAll(real).contains("<Name>hop</Name>") && ReadAll(real).contains("<Name>hop-2</Name>"))
        << ReadAll(real).toStdString();
}

TEST_F(ZvkTest, AnImportStoppedBySignalLeavesNoTemporaryFolder)
{
    const QString gif = Path(QStringLiteral("long.gif"));
    WriteAll(gif, Gif(128, 10000, 0));
    for (const int signal : {SIGINT, SIGTERM}) {
        QProcess process;
        // Started in the background a test may have SIGINT ignored; the person's Ctrl+C is not.
        process.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
        process.start(QStringLiteral(ZVK_BINARY), {"import", gif, Path(QStringLiteral("pet.zvp"))});
        ASSERT_TRUE(process.waitForStarted());
        // Once frames are being written.
        QElapsedTimer waited;
        waited.start();
        QStringList staging;
        while (waited.elapsed() < 60000) {
            staging = QDir(temp_.path()).entryList({".zuvora-import-*"}, QDir::Dirs | QDir::Hidden);
            if (!staging.isEmpty() && !QDir(Path(staging.first())).isEmpty())
                break;
            QThread::msleep(2);
        }
        ASSERT_FALSE(staging.isEmpty()) << signal;
        ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << signal;
        EXPECT_TRUE(process.readAllStandardError().contains("long.gif: the import was interrupted")) << signal;
        EXPECT_EQ(QDir(temp_.path()).entryList({".zuvora-import-*", "long"}, QDir::Dirs | QDir::Hidden), QStringList{})
            << signal;
        EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("pet.zvp"))));
    }
}

TEST_F(ZvkTest, CacheListsTheCachesAndPrunesOnlyUnusedOnesOfAWholeLibrary)
{
    Make(QStringLiteral("zvk.xml"), "<ZuvoProject/>");
    const QString pet = Path(QStringLiteral("pet.zvk"));
    ASSERT_EQ(Zvk({"pack", Work(), pet}).code, 0);
    QStringList packages;
    for (const char* name : {"listed.zvk", "recent.zvk", "old.zvk"}) {
        packages.append(Path(QLatin1String(name)));
        ASSERT_TRUE(QFile::copy(pet, packages.last()));
        Zvk({"info", packages.last()});  // caches it as the player does
    }
    const auto folder = [](const QString& package) { return QDir(CacheRoot()).filePath(PathDigest(package)); };
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-8);
    for (const QString& package : {packages[0], packages[2]}) {
        TCacheMarker marker = *ReadCacheMarker(folder(package));
        marker.Used = old;
        ASSERT_TRUE(WriteCacheMarker(folder(package), marker));
    }
    const QString unknown = QStringLiteral("0123456789abcdef0123456789abcdef");
    ASSERT_TRUE(QDir(CacheRoot()).mkpath(unknown));
    const QString library = QDir(QDir(AppDataFolder()).filePath(kAppTitle)).filePath(kLibraryFileName);

    // A library read only in part could list any package: nothing is removed.
    WriteAll(library, "<ZuvoLibrary><Zvk>");
    ZvkRun run = Zvk({"cache", "--prune"});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("The library ") + library + QStringLiteral(" could not be read whole")))
        << run.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder(packages[2])));

    WriteLibrary(library, {{QStringLiteral("listed.zvk"), packages[0]}});
    const QString stamp = old.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const auto line = [&](const QString& package, const QString& state, const QString& used) {
        const qint64 bytes = QFileInfo(QDir(folder(package)).filePath(kManifestMember)).size() +
                             QFileInfo(QDir(folder(package)).filePath(kCacheMarker)).size();
        return QStringLiteral("%1\t%2\t%3\t%4\t%5").arg(PathDigest(package)).arg(bytes).arg(used, state, package);
    };
    QStringList expected{line(packages[0], QStringLiteral("listed"), stamp), line(packages[2], QStringLiteral("unused"), stamp),
                         unknown + QStringLiteral("\t0\t-\tunknown\t-")};
    run = Zvk({"cache"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    // Played just now: only its time is not known here.
    EXPECT_TRUE(lines.filter(PathDigest(packages[1])).value(0).contains(QStringLiteral("\trecent\t") + packages[1]));
    for (const QString& wanted : expected)
        EXPECT_TRUE(lines.contains(wanted)) << wanted.toStdString() << "\n" << run.out.toStdString();

    expected[1] = line(packages[2], QStringLiteral("removed"), stamp);
    const qint64 freed = expected[1].section(u'\t', 1, 1).toLongLong();
    run = Zvk({"cache", "--prune"});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains(expected[1])) << run.out.toStdString();
    EXPECT_EQ(lines.value(4), QStringLiteral("1 removed, %1 bytes freed").arg(freed));
    EXPECT_FALSE(QFileInfo::exists(folder(packages[2])));
    for (const QString& kept : {folder(packages[0]), folder(packages[1]), QDir(CacheRoot()).filePath(unknown)})
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
}
