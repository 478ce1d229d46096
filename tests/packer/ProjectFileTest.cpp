#include "package/PackageLayout.h"
#include "packer/ProjectFile.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

class ProjectFileTest : public TempDirTest {
protected:
    // The actions stored in `xml`, read back from a project file in the temporary folder.
    QList<TProjectAction> ReadXml(const QByteArray& xml, std::optional<QString>* failure = nullptr)
    {
        const QString path = Path(QStringLiteral("p.zvp"));
        WriteAll(path, xml);
        TActionModel actions;
        const std::optional<QString> result = LoadProject(path, actions);
        if (failure != nullptr)
            *failure = result;
        return actions.Read();
    }
};

TEST_F(ProjectFileTest, RoundTripStoresPathsRelativeToTheFileInTheExactFormat)
{
    QDir(temp_.path()).mkpath(QStringLiteral("pets/img"));
    QDir(temp_.path()).mkpath(QStringLiteral("art"));
    const QString pets = Path(QStringLiteral("pets"));
    const QList<TProjectAction> project{
        {"Walk & run", {pets + "/a.png", pets + "/img/b c.png", Path("art/d.bmp")}, {}},
        {"", {}, {}},
        {"Sleep", {"/elsewhere/e.jpg"}, {}},
    };
    const QString path = pets + QStringLiteral("/pet.zvp");
    SaveProject(path, project);

    const int climb = static_cast<int>(QDir::cleanPath(pets).count(u'/'));
    QByteArray far;
    for (int i = 0; i < climb; ++i)
        far += "..\\";
    EXPECT_EQ(ReadAll(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">"
              "<Action><Name>Walk &amp; run</Name><ActionFragment>a.png;img\\b c.png;..\\art\\d.bmp;</ActionFragment></Action>"
              "<Action><Name></Name><ActionFragment/></Action>"
              "<Action><Name>Sleep</Name><ActionFragment>" + far + "elsewhere\\e.jpg;</ActionFragment></Action>"
              "</ZuvoProject>");

    TActionModel read;
    EXPECT_EQ(LoadProject(path, read), std::nullopt);
    EXPECT_EQ(read.Read(), project);
    // An action without frames comes back without a record.
    EXPECT_EQ(read.Node(1)->Record, nullptr);
}

TEST_F(ProjectFileTest, AudioIsNotStored)
{
    const QString path = Path(QStringLiteral("p.zvp"));
    SaveProject(path, {{"Bark", {Path("a.png")}, {Path("bark.wav")}}});
    TActionModel read;
    LoadProject(path, read);
    EXPECT_EQ(read.Read(), (QList<TProjectAction>{{"Bark", {Path("a.png")}, {}}}));
}

TEST_F(ProjectFileTest, ReaderTakesChildrenByPositionAndStopsAtTheFirstDamage)
{
    const QString img = Path(QStringLiteral("img/a.png"));
    const QByteArray head = "<?xml version=\"1.0\"?>";
    const struct {
        const char* what;
        QByteArray body;
        QList<TProjectAction> actions;
        bool complete;
    } cases[] = {
        {"any element names, no final separator, slashes", "<R><X><A>n</A><B>img/a.png</B></X></R>", {{"n", {img}, {}}}, true},
        {"indented", "<R>\n  <Action>\n    <Name>n</Name>\n    <ActionFragment>img\\a.png;</ActionFragment>\n  </Action>\n</R>",
         {{"n", {img}, {}}}, true},
        {"drive letters dropped", "<R><A><N>n</N><F>C:\\pets\\a.png;</F></A></R>", {{"n", {"/pets/a.png"}, {}}}, true},
        {"empty root", "<ZuvoProject Version=\"1.0.0\"/>", {}, true},
        {"a comment stops", "<R><A><N>a</N><F/></A><!-- c --><A><N>b</N><F/></A></R>", {{"a", {}, {}}}, false},
        {"a missing list keeps the name", "<R><A><N>a</N></A><A><N>b</N><F/></A></R>", {{"a", {}, {}}}, false},
        {"an empty entry stops", "<R><A/><A><N>b</N><F/></A></R>", {}, false},
        {"a name holding an element stops", "<R><A><N>a</N><F/></A><A><N><i/></N><F/></A></R>", {{"a", {}, {}}}, false},
        {"malformed", "<R><A><N>a</N><F/></A>", {}, false},
    };
    for (const auto& c : cases) {
        std::optional<QString> failure;
        EXPECT_EQ(ReadXml(head + c.body, &failure), c.actions) << c.what;
        EXPECT_EQ(!failure.has_value(), c.complete) << c.what;
    }
}

TEST_F(ProjectFileTest, MissingFileIsAnEmptyProjectNotADamagedOne)
{
    TActionModel actions;
    EXPECT_EQ(LoadProject(Path(QStringLiteral("none.zvp")), actions), std::nullopt);
    EXPECT_EQ(actions.Count(), 0);
    // A pipe is refused without being opened: opening it would wait for a writer for ever.
    ASSERT_EQ(mkfifo(QFile::encodeName(Path(QStringLiteral("pipe.zvp"))).constData(), 0600), 0);
    EXPECT_EQ(LoadProject(Path(QStringLiteral("pipe.zvp")), actions), QStringLiteral("it is not a regular file"));
}

TEST_F(ProjectFileTest, ExtensionRule)
{
    const std::pair<QString, QString> cases[] = {
        {"/p/pet", "/p/pet.zvp"},
        {"/p/pet.zvp", "/p/pet.zvp"},
        {"/p/pet.ZVP", "/p/pet.ZVP"},
        {"/p/pet.txt", "/p/pet.txt.zvp"},
        {"/p.zvp/pet", "/p.zvp/pet.zvp"},
    };
    for (const auto& [chosen, saved] : cases)
        EXPECT_EQ(WithProjectExtension(chosen), saved);
}

TEST_F(ProjectFileTest, WhatAPackageCannotHoldIsCutWithTheReason)
{
    // Millions of frames in a few megabytes, and a name nobody could read.
    QByteArray frames;
    frames.reserve(8 << 20);
    while (frames.size() < (8 << 20))
        frames += "a;";
    const QByteArray longName(kMaxActionName + 10, 'n');
    std::optional<QString> failure;
    const QList<TProjectAction> read = ReadXml("<ZuvoProject><Action><Name>" + longName + "</Name><ActionFragment>" +
                                               frames + "</ActionFragment></Action><Action><Name>B</Name>"
                                               "<ActionFragment>b;</ActionFragment></Action></ZuvoProject>",
                                               &failure);
    ASSERT_EQ(read.size(), 1);
    EXPECT_EQ(read[0].Name.size(), kMaxActionName);
    EXPECT_EQ(read[0].Frames.size(), kMaxPackageFrames);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->contains(QStringLiteral("more than %1 frames").arg(kMaxPackageFrames))) << failure->toStdString();

    // A long name alone: everything else is read, and the cut is said.
    ReadXml("<ZuvoProject><Action><Name>" + longName + "</Name><ActionFragment>a;</ActionFragment></Action>"
            "<Action><Name>B</Name><ActionFragment/></Action></ZuvoProject>",
            &failure);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->contains(QStringLiteral("was cut"))) << failure->toStdString();
}

// How an action moves comes after its frames, written only when set and read back by name;
// a part that cannot be read is left out with the reason, and the project reads on.
TEST_F(ProjectFileTest, MotionFollowsTheFramesByNameWhenSet)
{
    const QString path = Path(QStringLiteral("p.zvp"));
    const QList<TProjectAction> project{
        {"Walk", {Path("w.png")}, {}, {TRole::Walk, TMove{-4, 0}, {}, {}, 120}},
        {"Empty", {}, {}, {{}, {}, TFacing::Left, 0, {}}},
    };
    SaveProject(path, project);
    EXPECT_EQ(ReadAll(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">"
              "<Action><Name>Walk</Name><ActionFragment>w.png;</ActionFragment><Role>walk</Role><Move>-4 0</Move>"
              "<Interval>120</Interval></Action>"
              "<Action><Name>Empty</Name><ActionFragment/><Facing>left</Facing><Weight>0</Weight></Action>"
              "</ZuvoProject>");
    TActionModel read;
    EXPECT_EQ(LoadProject(path, read), std::nullopt);
    EXPECT_EQ(read.Read(), project);

    std::optional<QString> failure;
    const QList<TProjectAction> partly = ReadXml(
        "<ZuvoProject><Action><Role>walk</Role><Role>sit</Role><Weight>much</Weight><Facing>left</Facing></Action>"
        "<Action><N>B</N><F/></Action></ZuvoProject>",
        &failure);
    ASSERT_EQ(partly.size(), 2);
    // The first two children are the name and the frames, whatever their names say.
    EXPECT_EQ(partly[0].Name, QStringLiteral("walk"));
    EXPECT_EQ(partly[0].Motion, (TMotion{{}, {}, TFacing::Left, {}, {}}));
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith(QStringLiteral("entry 1: <Weight> \"much\""))) << failure->toStdString();
}
