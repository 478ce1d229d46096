#include "package/Manifest.h"
#include "package/PackageLayout.h"
#include "support/TestEnv.h"

namespace {

QByteArray Frame(int index, int top, int width, int height, const char* tag = "Fragment")
{
    return QStringLiteral("<%1><Index>%2</Index><Top>%3</Top><Left>0</Left><Width>%4</Width><Height>%5</Height></%1>")
        .arg(QLatin1String(tag)).arg(index).arg(top).arg(width).arg(height).toUtf8();
}

QByteArray Action(const QByteArray& name, const QByteArray& frames, const QByteArray& audio = {})
{
    return "<Action><Name>" + name + "</Name><ActionFragment>" + frames + "</ActionFragment><ActionAudio>" + audio +
           "</ActionAudio></Action>";
}

QByteArray Manifest(const QByteArray& actions)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ZuvoProject Version=\"1.0.0\">" + actions + "</ZuvoProject>";
}

QStringList Names(const TZvk& zvk)
{
    QStringList names;
    for (const TAction& action : zvk.Actions)
        names.append(action.Name);
    return names;
}

}  // namespace

class ManifestTest : public TempDirTest {
protected:
    TZvk Read(const QByteArray& text)
    {
        WriteAll(Path(QStringLiteral("zvk.xml")), text);
        TZvk zvk;
        ReadManifest(Path(QStringLiteral("zvk.xml")), zvk);
        return zvk;
    }
};

TEST_F(ManifestTest, ReadsThePackersLayout)
{
    const TZvk zvk = Read(Manifest(Action("Idle", Frame(0, 0, 64, 64) + Frame(1, 64, 64, 60)) +
                                   Action("Walk", Frame(2, 124, 80, 64), "<Audio>0.wav</Audio>")));
    ASSERT_EQ(zvk.Actions.size(), 2u);
    const TAction& idle = zvk.Actions[0];
    EXPECT_EQ(idle.Index, 0);
    EXPECT_EQ(idle.Name, QStringLiteral("Idle"));
    ASSERT_EQ(idle.Frames.size(), 2u);
    EXPECT_EQ(idle.Frames[1].Index, 1);
    EXPECT_EQ(idle.Frames[1].Top, 64);
    EXPECT_EQ(idle.Frames[1].Left, 0);
    EXPECT_EQ(idle.Frames[1].Width, 64);
    EXPECT_EQ(idle.Frames[1].Height, 60);
    EXPECT_TRUE(idle.AudioFiles.isEmpty());
    const TAction& walk = zvk.Actions[1];
    EXPECT_EQ(walk.Index, 1);
    ASSERT_EQ(walk.Frames.size(), 1u);
    EXPECT_EQ(walk.Frames[0].Top, 124);
    EXPECT_EQ(walk.Frames[0].Width, 80);
    EXPECT_EQ(walk.AudioFiles, QStringList{"0.wav"});
}

TEST_F(ManifestTest, ToleratesOtherWritersLayout)
{
    // Another root with extra attributes, children in another order, indentation, any
    // element names for actions and frames, a missing Name, CDATA and non-ASCII text.
    const TZvk zvk = Read(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Pet Version=\"9\" author=\"me\">\n"
        "  <Move>\n    <ActionAudio><A>a.wav</A><Audio></Audio></ActionAudio>\n"
        "    <ActionFragment>\n      <F><Height>5</Height><Width>6</Width><Left>7</Left><Top>8</Top><Index>7</Index></F>\n"
        "    </ActionFragment>\n    <Name>Chat \xc3\xa9t\xc3\xa9 \xe7\x8c\xab</Name>\n  </Move>\n"
        "  <Action><ActionFragment/></Action>\n"
        "  <Action><Name><![CDATA[<raw> & ]]></Name></Action>\n"
        "</Pet>\n");
    ASSERT_EQ(zvk.Actions.size(), 3u);
    EXPECT_EQ(zvk.Actions[0].Name, QStringLiteral("Chat \u00e9t\u00e9 \u732b"));
    ASSERT_EQ(zvk.Actions[0].Frames.size(), 1u);
    const TFrame& f = zvk.Actions[0].Frames[0];
    EXPECT_EQ((std::vector<int>{f.Index, f.Top, f.Left, f.Width, f.Height}), (std::vector<int>{7, 8, 7, 6, 5}));
    EXPECT_EQ(zvk.Actions[0].AudioFiles, (QStringList{"a.wav", ""}));
    EXPECT_EQ(zvk.Actions[1].Name, QString());
    EXPECT_TRUE(zvk.Actions[1].Frames.empty());
    EXPECT_EQ(zvk.Actions[2].Name, QStringLiteral("<raw> & "));
}

TEST_F(ManifestTest, FirstErrorKeepsCompleteActionsAndDropsTheOneInProgress)
{
    const QByteArray ok = Action("A", Frame(0, 0, 1, 1));
    const QByteArray noWidth =
        "<Action><Name>C</Name><ActionFragment>" + Frame(2, 1, 1, 1) +
        "<Fragment><Index>3</Index><Top>2</Top><Left>0</Left><Height>1</Height></Fragment></ActionFragment></Action>";
    EXPECT_EQ(Names(Read(Manifest(ok + Action("B", {}) + noWidth + ok))), (QStringList{"A", "B"}));
    // An action without any child node ends the reading.
    EXPECT_EQ(Names(Read(Manifest(ok + "<Action/>" + ok))), QStringList{"A"});
    EXPECT_EQ(Names(Read(Manifest(ok + "<Action></Action>" + ok))), QStringList{"A"});
    // A name holding an element is no text.
    EXPECT_EQ(Names(Read(Manifest(ok + "<Action><Name><b>x</b></Name></Action>"))), QStringList{"A"});
    EXPECT_TRUE(Read("<ZuvoProject><Action><Name>A</Name></Action>").Actions.empty());
    EXPECT_TRUE(Read("").Actions.empty());
    TZvk none;
    ReadManifest(Path(QStringLiteral("missing.xml")), none);
    EXPECT_TRUE(none.Actions.empty());
}

TEST_F(ManifestTest, CommentsCountAsNodesWhereTheyStand)
{
    const QByteArray ok = Action("A", Frame(0, 0, 1, 1));
    // Between actions: a node of the root that is no action.
    EXPECT_EQ(Names(Read(Manifest(ok + "<!--c-->" + ok))), QStringList{"A"});
    // Between the elements of an action: looked up by name, so harmless.
    EXPECT_EQ(Names(Read(Manifest("<Action><!--c--><Name>B</Name><!--c--></Action>"))), QStringList{"B"});
    // Among the frames: a frame without its fields.
    EXPECT_EQ(Names(Read(Manifest(ok + Action("B", Frame(1, 1, 1, 1) + "<!--c-->")))), QStringList{"A"});
    // Among the audio entries: its value is an entry.
    const TZvk audio = Read(Manifest(Action("A", {}, "<Audio>0.wav</Audio><!--1.wav-->")));
    ASSERT_EQ(audio.Actions.size(), 1u);
    EXPECT_EQ(audio.Actions[0].AudioFiles, (QStringList{"0.wav", "1.wav"}));
    // Inside a text: two nodes, no text.
    EXPECT_EQ(Names(Read(Manifest(ok + "<Action><Name>B<!--c--></Name></Action>"))), QStringList{"A"});
    EXPECT_EQ(Names(Read(Manifest(ok + Action("B", "<Fragment><Index><!--c-->0</Index></Fragment>")))),
              QStringList{"A"});
}

TEST(ManifestInteger, AcceptsTheDocumentedForms)
{
    const std::pair<const char*, std::int32_t> good[] = {
        {"0", 0}, {"42", 42}, {"  42", 42}, {"+7", 7}, {"-7", -7}, {"007", 7},
        {"$1F", 31}, {"x1f", 31}, {"X1F", 31}, {"0x1F", 31}, {"0XaB", 171}, {"-$10", -16}, {" +0x10", 16},
        {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}, {"$7FFFFFFF", INT32_MAX}, {"-0x80000000", INT32_MIN},
    };
    for (const auto& [text, value] : good) {
        const std::optional<std::int32_t> parsed = ParseManifestInteger(QString::fromLatin1(text));
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, value) << text;
    }
}

TEST(ManifestInteger, RejectsEverythingElse)
{
    const char* bad[] = {"", " ", "   ", "-", "+", "$", "0x", "x", "12 ", "1 2", "12a", "1.0", "\t1", "1e3",
                         "--1", "+-1", "$-1", "0x-1", "2147483648", "-2147483649", "$80000000", "0xFFFFFFFF",
                         "99999999999999999999", "\xd9\xa1"};
    for (const char* text : bad)
        EXPECT_FALSE(ParseManifestInteger(QString::fromUtf8(text)).has_value()) << text;
}

TEST_F(ManifestTest, MoreFramesOrActionsThanAPackageHoldsEndTheReadingWithTheReason)
{
    const QByteArray frame = Frame(0, 0, 1, 1);
    QByteArray many;
    for (int i = 0; i < kMaxPackageFrames / 2 + 1; ++i)
        many += frame;
    QByteArray actions;
    for (int i = 0; i <= kMaxPackageActions; ++i)
        actions += Action("A", {});
    const struct {
        QByteArray manifest;
        std::size_t actionsRead;
        QString reason;
    } cases[] = {
        {Manifest(Action("A", many) + Action("B", many)), 1, QStringLiteral("more than %1 frames").arg(kMaxPackageFrames)},
        {Manifest(actions), kMaxPackageActions, QStringLiteral("more than %1 actions").arg(kMaxPackageActions)},
    };
    for (const auto& c : cases) {
        WriteAll(Path(QStringLiteral("zvk.xml")), c.manifest);
        TZvk zvk;
        const std::optional<QString> failure = ReadManifest(Path(QStringLiteral("zvk.xml")), zvk);
        EXPECT_EQ(zvk.Actions.size(), c.actionsRead);
        ASSERT_TRUE(failure.has_value());
        EXPECT_TRUE(failure->contains(c.reason)) << failure->toStdString();
    }
    WriteAll(Path(QStringLiteral("zvk.xml")), Manifest(Action("A", many)));
    TZvk whole;
    EXPECT_EQ(ReadManifest(Path(QStringLiteral("zvk.xml")), whole), std::nullopt);
}

// How an action moves: each part read from its text, or left out with the "read in part"
// reason while the rest of the package reads on.
TEST_F(ManifestTest, MotionPartsAreReadOrLeftOutWithTheReason)
{
    const struct {
        const char* element;
        const char* text;
        TMotion expected;  // empty: left out
    } cases[] = {
        {"Role", "walk", {TRole::Walk, {}, {}, {}, {}}},
        {"Role", "Walk", {}},
        {"Move", "-64 64", {{}, TMove{-64, 64}, {}, {}, {}}},
        {"Move", "+3 0", {{}, TMove{3, 0}, {}, {}, {}}},
        {"Move", "65 0", {}},
        {"Move", "3  0", {}},
        {"Move", "3", {}},
        {"Move", "0x3 0", {}},
        {"Facing", "left", {{}, {}, TFacing::Left, {}, {}}},
        {"Facing", "up", {}},
        {"Weight", "0", {{}, {}, {}, 0, {}}},
        {"Weight", "1001", {}},
        {"Weight", "-1", {}},
        {"Interval", "20", {{}, {}, {}, {}, 20}},
        {"Interval", "19", {}},
        {"Interval", "99999999999", {}},
    };
    for (const auto& c : cases) {
        const QByteArray part = QByteArray("<") + c.element + ">" + c.text + "</" + c.element + ">";
        WriteAll(Path(QStringLiteral("zvk.xml")),
                 Manifest("<Action><Name>A</Name><ActionFragment>" + Frame(0, 0, 1, 1) + "</ActionFragment><ActionAudio/>" +
                          part + "</Action>" + Action("B", Frame(1, 1, 1, 1))));
        TZvk zvk;
        const std::optional<QString> failure = ReadManifest(Path(QStringLiteral("zvk.xml")), zvk);
        ASSERT_EQ(zvk.Actions.size(), 2u) << part.constData();
        EXPECT_EQ(zvk.Actions[0].Motion, c.expected) << part.constData();
        EXPECT_EQ(failure.has_value(), !c.expected.IsSet()) << part.constData();
        if (failure) {
            EXPECT_TRUE(failure->contains(QLatin1String(c.element))) << failure->toStdString();
        }
    }
}

// A motion goes out and comes back as it was; an action without one is written as before.
TEST_F(ManifestTest, MotionRoundTripsAndIsWrittenOnlyWhenSet)
{
    TZvk zvk;
    zvk.Actions.resize(2);
    zvk.Actions[0].Name = QStringLiteral("Walk");
    zvk.Actions[0].Motion = {TRole::Walk, TMove{-4, 0}, TFacing::Right, 3, 120};
    zvk.Actions[1].Name = QStringLiteral("Sit");
    zvk.Actions[1].Motion.Role = TRole::Sit;
    const QString file = Path(QStringLiteral("zvk.xml"));
    WriteManifest(zvk, file);
    TZvk back;
    EXPECT_EQ(ReadManifest(file, back), std::nullopt);
    ASSERT_EQ(back.Actions.size(), 2u);
    EXPECT_EQ(back.Actions[0].Motion, zvk.Actions[0].Motion);
    EXPECT_EQ(back.Actions[1].Motion, zvk.Actions[1].Motion);
    const QByteArray text = ReadAll(file);
    EXPECT_EQ(text.count("<Move>"), 1) << text.constData();
    EXPECT_LT(text.indexOf("</ActionAudio>"), text.indexOf("<Role>"));

    zvk.Actions[0].Motion = {};
    zvk.Actions[1].Motion = {};
    WriteManifest(zvk, file);
    for (const char* element : {"Role", "Move", "Facing", "Weight", "Interval"})
        EXPECT_FALSE(ReadAll(file).contains(element)) << element;
}
