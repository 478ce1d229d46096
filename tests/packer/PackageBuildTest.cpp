#include "PackageBuildFixture.h"
#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/FileCalls.h"
#include "image/PngEncoder.h"
#include "package/SheetRule.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QImage Filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

}  // namespace

TEST_F(PackageBuildTest, ThreeFramesStackIntoOneSheetAndTheLogNamesThem)
{
    const QStringList frames{Save("a.png", Pattern(32, 32, 1)), Save("b.png", Pattern(32, 32, 2)),
                             Save("c.png", Pattern(32, 32, 3))};
    ASSERT_TRUE(Build({{"Walk", frames, {}}}, Path("cat")));
    const QString package = Path(QStringLiteral("cat.zvk"));
    const QString success = QStringLiteral("Success : ") + package + QStringLiteral(" has been built!");
    EXPECT_EQ(memo_, frames + QStringList{success});
    EXPECT_EQ(prompts_.messages, (QList<ScriptedPrompts::Shown>{{kPackerTitle, success}}));
    EXPECT_EQ(Members(package), (QStringList{"zvk.png", "zvk.xml"}));

    const Played played = Play(package);
    EXPECT_EQ(played.sheet.size(), QSize(32, 96));
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(played.zvk.Actions[0].Frames[static_cast<std::size_t>(f)].Top, 32 * f);
        EXPECT_EQ(played.Frame(0, f), Pattern(32, 32, f + 1));
    }
}

TEST_F(PackageBuildTest, IndexRunsOnAcrossActionsAndANarrowFrameHasWhiteBeside)
{
    QStringList narrow;
    for (int i = 0; i < 5; ++i)
        narrow.append(Save(QStringLiteral("n%1.bmp").arg(i), Pattern(40, 10, i), "BMP"));
    const QString wide = Save("wide.png", Pattern(100, 10, 9));
    ASSERT_TRUE(Build({{"Narrow", narrow, {}}, {"Empty", {}, {}}, {"Wide", {wide, wide}, {}}}, Path("p.zvk")));
    const Played played = Play(Path(QStringLiteral("p.zvk")));
    ASSERT_EQ(played.zvk.Actions.size(), 3u);
    EXPECT_TRUE(played.zvk.Actions[1].Frames.empty());
    const TFrame& first = played.zvk.Actions[2].Frames[0];
    EXPECT_EQ(first.Index, 5);
    EXPECT_EQ(first.Top, 50);
    EXPECT_EQ(played.zvk.Actions[2].Frames[1].Top, 60);  // the same image twice: two frames
    EXPECT_EQ(played.sheet.size(), QSize(100, 70));
    EXPECT_EQ(played.Frame(0, 4), Pattern(40, 10, 4));
    EXPECT_EQ(played.sheet.copy(40, 0, 60, 50), Filled(60, 50, qRgb(255, 255, 255)).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(played.Frame(2, 1), Pattern(100, 10, 9));

    // No frames at all: the sheet is the PNG signature alone.
    ASSERT_TRUE(Build({{"Empty", {}, {}}}, Path("none.zvk")));
    EXPECT_EQ(ReadAll(QDir(PackageWorkFolder(Path(QStringLiteral("none.zvk")))).filePath(kSheetMember)),
              QByteArray(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature));
    EXPECT_TRUE(Play(Path(QStringLiteral("none.zvk"))).sheet.isNull());
}

TEST_F(PackageBuildTest, PackageAndWorkFolderNames)
{
    const QString packer = QDir(AppDataFolder()).filePath(QStringLiteral("Zuvo Packer/"));
    const struct {
        QString chosen, package, work;
    } cases[] = {
        {"/p/cat", "/p/cat.zvk", "cat"},          {"/p/pet.ZVK", "/p/pet.ZVK", "pet"},
        {"/p/a.zvk.zvk", "/p/a.zvk.zvk", "a"},    {"/p/pet.txt", "/p/pet.txt.zvk", "pet.txt"},
        {"/p/.zvk", "/p/.zvk", "Untitled"},       {"/p/..zvk", "/p/..zvk", "Untitled"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithPackageExtension(c.chosen), c.package);
        EXPECT_EQ(PackageWorkFolder(c.package), packer + c.work);
    }
}

TEST_F(PackageBuildTest, TheHeaderDecidesTheFormatAndNamesWhatCannotBeBuilt)
{
    const QString jpegAsPng = Save("photo.png", Pattern(16, 16, 4), "JPEG");
    ASSERT_TRUE(Build({{"A", {jpegAsPng}, {}}}, Path("ok")));
    EXPECT_EQ(Play(Path(QStringLiteral("ok.zvk"))).sheet.size(), QSize(16, 16));

    const QString gif = Path("anim.jpg");
    WriteAll(gif, "GIF89a\x01\x00\x01\x00");
    const QString text = Path("notes.bmp");
    WriteAll(text, "just text");
    const QString empty = Path("empty.png");
    WriteAll(empty, {});
    const QString missing = Path("missing.png");
    const struct {
        QString path;
        QString shown;
        QStringList memoTail;
    } cases[] = {
        {gif, "Error : A - " + gif + "  Unsupported File Format GIF", {gif, "Error : A - " + gif + "  Unsupported File Format GIF"}},
        {text, "Error : A - " + text + "  Unsupported File Format ", {text, "Error : A - " + text + "  Unsupported File Format "}},
        {empty, "Error : A - " + empty + " File Size is Zero!", {empty, "Error : A - " + empty + " File Size is Zero!"}},
        {missing, "A - " + missing + " does not exist!", {"Error : A - " + missing + " does not exist!"}},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Build({{"A", {jpegAsPng, c.path}, {}}}, Path("bad")));
        EXPECT_EQ(ShownError(), c.shown);
        EXPECT_EQ(prompts_.messages.last().kind, QStringLiteral("Error"));
        EXPECT_EQ(memo_.mid(1), c.memoTail) << c.path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("bad.zvk"))));
    }
    // An empty file shows the plain box "0" before its error.
    EXPECT_FALSE(Build({{"A", {empty}, {}}}, Path("bad")));
    EXPECT_EQ(prompts_.messages.first(), (ScriptedPrompts::Shown{kPackerTitle, "0"}));
}

TEST_F(PackageBuildTest, AFailedBuildLeavesTheOlderPackageAsItWas)
{
    const QString good = Save("good.png", Pattern(64, 64, 1));
    ASSERT_TRUE(Build({{"A", {good}, {}}}, Path("old")));
    const QString package = Path(QStringLiteral("old.zvk"));
    const QByteArray before = ReadAll(package);
    const QString sheet = QDir(PackageWorkFolder(package)).filePath(kSheetMember);
    const qint64 sheetSize = QFileInfo(sheet).size();

    const QString cut = Path("cut.png");
    WriteAll(cut, ReadAll(good).left(200));
    EXPECT_FALSE(Build({{"A", {good, Path("gone.png")}, {}}}, package));
    EXPECT_FALSE(Build({{"A", {good, cut}, {}}}, package));
    EXPECT_TRUE(ShownError().startsWith(cut + QStringLiteral(": "))) << ShownError().toStdString();
    {
        // Room for the sheet, not for the archive around it.
        FileSizeLimit limit(static_cast<std::uint64_t>(sheetSize) + 16);
        ASSERT_TRUE(limit.Active());
        EXPECT_FALSE(Build({{"A", {good}, {}}}, package));
    }
    // The system's reason, not Qt's "Unknown error".
    EXPECT_TRUE(ShownError().startsWith(QStringLiteral("Error : ") + package + QStringLiteral(" could not be written: ")));
    EXPECT_TRUE(ShownError().endsWith(QString::fromLocal8Bit(std::strerror(EFBIG)))) << ShownError().toStdString();
    EXPECT_EQ(memo_.last(), ShownError());
    EXPECT_EQ(ReadAll(package), before);
}

TEST_F(PackageBuildTest, NothingOutsideTheWorkFolderIsEmptiedOrOverwritten)
{
    const QString frame = Save("f.png", Pattern(4, 4, 1));
    const QString packer = QDir(AppDataFolder()).filePath(QStringLiteral("Zuvo Packer"));
    const QString victim = Path(QStringLiteral("victim"));
    ASSERT_TRUE(QDir().mkpath(victim));
    WriteAll(victim + QStringLiteral("/keep.txt"), "mine");
    // A project kept under a package's name, and a frame named like one.
    WriteAll(Path(QStringLiteral("proj.zvk")), "<ZuvoProject/>");
    const QString art = Path(QStringLiteral("art.zvk"));
    ASSERT_TRUE(QFile::copy(frame, art));
    const struct {
        const char* link;  // made a link to the victim folder, under the packer's folder
        QString chosen;
        QString projectFile;
        const char* shown;
    } cases[] = {
        {"pet", Path("pet"), {}, "is a link, not a work folder"},
        {"", Path("out/"), {}, "names a folder, not a package file"},
        {"", Path("proj.zvk"), Path("proj.zvk"), "which the project uses"},
        {"", Path("art"), {}, "which the project uses"},
    };
    for (const auto& c : cases) {
        if (*c.link != 0) {
            ASSERT_TRUE(QDir().mkpath(packer));
            ASSERT_TRUE(QFile::link(victim, QDir(packer).filePath(QLatin1String(c.link))));
        }
        EXPECT_FALSE(Build({{"A", {frame, art}, {}}}, c.chosen, c.projectFile)) << c.chosen.toStdString();
        EXPECT_TRUE(ShownError().contains(QLatin1String(c.shown))) << ShownError().toStdString();
    }
    // The folder of work folders as a link is not followed either.
    QDir(packer).removeRecursively();
    ASSERT_TRUE(QFile::link(victim, packer));
    EXPECT_FALSE(Build({{"A", {frame}, {}}}, Path("pet")));
    EXPECT_TRUE(ShownError().contains(QStringLiteral("is a link"))) << ShownError().toStdString();
    EXPECT_EQ(QDir(victim).entryList(QDir::Files), QStringList{"keep.txt"});
    // A package name that is a link, to a frame or to nothing yet, is refused before the build.
    ASSERT_TRUE(QFile::remove(packer));
    for (const QString& target : {frame, Path(QStringLiteral("new.png"))}) {
        const QString link = Path(QStringLiteral("link.zvk"));
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));
        EXPECT_FALSE(Build({{"A", {frame}, {}}}, link));
        EXPECT_EQ(ShownError(), QStringLiteral("Error : ") + link + QStringLiteral(" is a symbolic link: saving there "
                                                                                 "would replace the file it leads to, so nothing was written"));
        EXPECT_EQ(memo_, QStringList{ShownError()});  // nothing composed
    }
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("new.png"))));
    EXPECT_EQ(ReadAll(Path(QStringLiteral("proj.zvk"))), QByteArray("<ZuvoProject/>"));
    EXPECT_EQ(ReadAll(art), ReadAll(frame));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("out/.zvk"))));
}

TEST_F(PackageBuildTest, OnlyABuildUnderWaySaysTheWorkFolderIsBusy)
{
    const QString frame = Save("f.png", Pattern(4, 4, 1));
    // Names whose work folders once met lock files, and the longest a file system takes.
    for (const QString& name : {QStringLiteral("x.lock"), QStringLiteral("x"), QString(251, u'n')})
        EXPECT_TRUE(Build({{"A", {frame}, {}}}, Path(name))) << (prompts_.messages.isEmpty() ? "" : ShownError().toStdString());

    const QString work = PackageWorkFolder(Path(QStringLiteral("x.zvk")));
    const int held = ::open(QFile::encodeName(work).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(Build({{"A", {frame}, {}}}, Path("x")));
    EXPECT_EQ(ShownError(), QStringLiteral("Error : another build is using the work folder ") + work);
    ::close(held);

    // No folder can be made where a file stands: the reason, not a busy build.
    WriteAll(Path(QStringLiteral("file")), "");
    qputenv("APPDATA", QFile::encodeName(Path(QStringLiteral("file"))));
    EXPECT_FALSE(Build({{"A", {frame}, {}}}, Path("y")));
    EXPECT_TRUE(ShownError().contains(QStringLiteral("cannot be created: "))) << ShownError().toStdString();
}

TEST_F(PackageBuildTest, ProjectsBeyondWhatThePlayerReadsAreRefusedBeforeDecoding)
{
    // More frames than a manifest may hold, none of which exists: refused for their number.
    QList<TProjectAction> many{{"A", QStringList(kMaxPackageFrames + 1, Path("a")), {}}};
    EXPECT_FALSE(Build(many, Path("many")));
    EXPECT_TRUE(ShownError().contains(QString::number(kMaxPackageFrames))) << ShownError().toStdString();

    // A sheet taller than a PNG reader takes.
    const QString tall = Save("tall.png", Filled(1, kMaxFrameSide, qRgb(1, 2, 3)));
    const int count = kMaxPngSide / kMaxFrameSide + 1;
    EXPECT_FALSE(Build({{"A", QStringList(count, tall), {}}}, Path("tall")));
    EXPECT_TRUE(ShownError().contains(QString::number(kMaxPngSide))) << ShownError().toStdString();
}

TEST_F(PackageBuildTest, AudioIsCopiedUnderOneCounterAndAFailedCopyStopsTheBuild)
{
    const QString frame = Save("f.png", Pattern(4, 4, 1));
    const QString wav = Path("bark.wav");
    const QString mp3 = Path("purr.MP3");
    WriteAll(wav, "RIFF");
    WriteAll(mp3, "ID3");
    ASSERT_TRUE(Build({{"A", {frame}, {wav}}, {"B", {}, {mp3, wav}}}, Path("sound")));
    EXPECT_EQ(Members(Path("sound.zvk")), (QStringList{"0.wav", "1.MP3", "2.wav", "zvk.png", "zvk.xml"}));
    const Played played = Play(Path(QStringLiteral("sound.zvk")));
    EXPECT_EQ(played.zvk.Actions[1].AudioFiles, (QStringList{"1.MP3", "2.wav"}));

    // A folder where a copy should go cannot be replaced.
    const QString work = PackageWorkFolder(Path(QStringLiteral("sound.zvk")));
    ASSERT_TRUE(QFile::remove(QDir(work).filePath(QStringLiteral("0.wav"))));
    ASSERT_TRUE(QDir(work).mkpath(QStringLiteral("0.wav")));
    EXPECT_FALSE(Build({{"A", {frame}, {wav}}}, Path("sound")));
    EXPECT_TRUE(ShownError().contains(wav) && ShownError().contains(QDir(work).filePath(QStringLiteral("0.wav"))))
        << ShownError().toStdString();
}

TEST_F(PackageBuildTest, ClearFolderDeletesFilesKeepsFoldersAndNeverFollowsLinks)
{
    const QString work = Path(QStringLiteral("work"));
    QDir().mkpath(work + QStringLiteral("/sub"));
    WriteAll(work + QStringLiteral("/.hidden"), "h");
    WriteAll(work + QStringLiteral("/sub/deep.txt"), "d");
    const QString outside = Path(QStringLiteral("keep.txt"));
    WriteAll(outside, "keep");
    ASSERT_TRUE(QFile::link(outside, work + QStringLiteral("/link.txt")));
    ASSERT_TRUE(QFile::link(temp_.path(), work + QStringLiteral("/up")));
    ClearFolder(work);
    EXPECT_EQ(QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
              QStringList{"sub"});
    EXPECT_TRUE(QDir(work + QStringLiteral("/sub")).isEmpty());
    EXPECT_EQ(ReadAll(outside), "keep");
}

TEST_F(PackageBuildTest, AFileThatCannotBeDeletedStopsClearFolder)
{
    const QString work = Path(QStringLiteral("work"));
    QDir().mkpath(work + QStringLiteral("/sub"));
    WriteAll(work + QStringLiteral("/sub/stuck.txt"), "s");
    WriteAll(work + QStringLiteral("/gone.txt"), "g");
    const TFileCallsOverride stuck({[remove = FileCalls().Remove](const QString& path, QString& error) {
        if (!path.endsWith(QStringLiteral("stuck.txt")))
            return remove(path, error);
        error = QStringLiteral("Permission denied");
        return false;
    }});
    try {
        ClearFolder(work);
        ADD_FAILURE() << "a file that cannot be deleted went unnoticed";
    } catch (const TError& error) {
        EXPECT_EQ(error.Text(), work + QStringLiteral("/sub/stuck.txt cannot be deleted from the work folder: Permission denied"));
    }
}

TEST_F(PackageBuildTest, FramesTooLargeToPlayAreRefusedBeforeTheirPixelsAreRead)
{
    const QString tiny = Save("tiny.png", Pattern(1, 1, 1));
    const QString wide = Path("wide.png");
    WriteAll(wide, HeaderOnlyPng(20000, 10));
    // Alone within the limits, but the sheet it makes is more than the player takes.
    const QString square = Path("square.png");
    WriteAll(square, HeaderOnlyPng(16384, 16384));
    const std::pair<QString, QString> cases[] = {
        {wide, ": 20000 by 10 pixels is too large for a frame (at most 16384 a side)"},
        {square, ": the sprite sheet would grow to 16384 by 16385 pixels, more than 1024 MiB decoded, which the player "
                 "refuses"},
    };
    for (const auto& [frame, reason] : cases) {
        EXPECT_FALSE(Build({{"A", {tiny, frame}, {}}}, Path("big")));
        EXPECT_EQ(ShownError(), QStringLiteral("Error : A - ") + frame + reason);
    }
}
