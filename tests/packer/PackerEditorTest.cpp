#include "package/PackageLayout.h"
#include "packer/PackerEditor.h"
#include "packer/ProjectFile.h"
#include "packer/RecentProjects.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

class PackerEditorTest : public TempDirTest {
protected:
    // Actions named after the letters of `names`, action i holding the frames "<name><k>.png".
    void MakeActions(const QString& names, int framesEach = 2)
    {
        for (QChar name : names) {
            editor_.NewAction();
            const int row = editor_.Actions().Count() - 1;
            editor_.Actions().setData(editor_.Actions().index(row), QString(name), Qt::EditRole);
            editor_.SelectAction(row);
            editor_.Frames().AppendFiles(Frames(QString(name), framesEach));
        }
        editor_.SelectAction(-1);
    }

    QStringList Frames(const QString& name, int count) const
    {
        QStringList frames;
        for (int k = 0; k < count; ++k)
            frames.append(Path(name + QString::number(k) + QStringLiteral(".png")));
        return frames;
    }

    QStringList Names() const
    {
        QStringList names;
        for (const TProjectAction& action : editor_.Actions().Read())
            names.append(action.Name);
        return names;
    }

    QStringList Shown() const { return editor_.Frames().Paths(); }

    QStringList Texts() const
    {
        QStringList texts;
        for (const auto& shown : prompts_.messages)
            texts.append(shown.kind + QStringLiteral(": ") + shown.text);
        return texts;
    }

    ScriptedPrompts prompts_;
    TPackerEditor editor_{prompts_};
};

TEST_F(PackerEditorTest, NewActionNamesCountTheActions)
{
    for (int i = 0; i < 3; ++i)
        editor_.NewAction();
    editor_.SelectAction(0);
    editor_.DeleteAction();
    editor_.NewAction();
    EXPECT_EQ(Names(), (QStringList{"New Action2", "New Action3", "New Action3"}));
}

TEST_F(PackerEditorTest, SwitchingActionsKeepsEachActionsRowsAsLeft)
{
    MakeActions(QStringLiteral("AB"));
    editor_.SelectAction(0);
    editor_.Frames().AppendFiles({Path(QStringLiteral("late.png"))});
    editor_.Frames().MoveUp(2);
    editor_.SelectAction(1);
    EXPECT_EQ(Shown(), Frames(QStringLiteral("B"), 2));
    editor_.SelectAction(0);
    EXPECT_EQ(Shown(), (QStringList{Path("A0.png"), Path("late.png"), Path("A1.png")}));
}

TEST_F(PackerEditorTest, UpAndDownCarryNameAndListsAndTheSelectionFollows)
{
    MakeActions(QStringLiteral("ABC"));
    editor_.SelectAction(1);
    editor_.Frames().Clear();  // unsaved edits travel with the action
    editor_.MoveActionUp();
    EXPECT_EQ(Names(), (QStringList{"B", "A", "C"}));
    EXPECT_EQ(editor_.SelectedAction(), 0);
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(editor_.Actions().Read()[1].Frames, Frames(QStringLiteral("A"), 2));

    editor_.MoveActionUp();  // first: nothing
    editor_.SelectAction(2);
    editor_.MoveActionDown();  // last: nothing
    EXPECT_EQ(Names(), (QStringList{"B", "A", "C"}));
    editor_.SelectAction(1);
    editor_.MoveActionDown();
    EXPECT_EQ(Names(), (QStringList{"B", "C", "A"}));
    EXPECT_EQ(Shown(), Frames(QStringLiteral("A"), 2));
}

TEST_F(PackerEditorTest, DraggingPutsTheActionBeforeTheTarget)
{
    const struct {
        int dragged, target;
        QStringList order;
    } cases[] = {
        {2, 0, {"Y", "W", "X", "Z"}},
        {0, 2, {"X", "W", "Y", "Z"}},
        {0, 1, {"W", "X", "Y", "Z"}},
        {1, 1, {"W", "X", "Y", "Z"}},
        {0, 3, {"X", "Y", "W", "Z"}},
    };
    for (const auto& c : cases) {
        editor_.Actions().Clear();
        MakeActions(QStringLiteral("WXYZ"));
        editor_.SelectAction(c.dragged);
        const TActionNode* dragged = editor_.ShownAction();
        editor_.DropAction(c.target);
        EXPECT_EQ(Names(), c.order) << c.dragged << " onto " << c.target;
        // The moved action stays selected and shown; nothing was refilled.
        EXPECT_EQ(editor_.Actions().Node(editor_.SelectedAction()), dragged);
        EXPECT_EQ(editor_.ShownAction(), dragged);
    }
}

TEST_F(PackerEditorTest, DeleteShowsANeighbourAndTheLastDeleteEmptiesTheLists)
{
    MakeActions(QStringLiteral("AB"));
    editor_.SelectAction(0);
    editor_.Frames().Clear();  // the deleted action's edits go nowhere
    editor_.DeleteAction();
    EXPECT_EQ(Names(), QStringList{"B"});
    EXPECT_EQ(editor_.SelectedAction(), 0);
    EXPECT_EQ(Shown(), Frames(QStringLiteral("B"), 2));
    editor_.DeleteAction();
    EXPECT_EQ(editor_.Actions().Count(), 0);
    EXPECT_TRUE(Shown().isEmpty());
    EXPECT_EQ(editor_.ShownAction(), nullptr);
}

TEST_F(PackerEditorTest, AddNeedsAnActionAndRefusesPathsWithTheSeparator)
{
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(Texts(), QStringList{"Error: There must be one action!"});
    EXPECT_TRUE(prompts_.openFilesFilters.isEmpty());

    editor_.NewAction();
    prompts_.openFilesAnswers = {{Path("a.png"), Path("b;c.png"), Path("d.png")}};
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(prompts_.openFilesFilters.last(), kFrameFilter);
    EXPECT_EQ(Shown(), (QStringList{Path("a.png"), Path("d.png")}));
    ASSERT_EQ(prompts_.messages.size(), 2);
    EXPECT_TRUE(prompts_.messages[1].text.endsWith(u'\n' + Path("b;c.png")));
}

TEST_F(PackerEditorTest, DropsTakeTheListsTypesInAnyCaseEvenWithoutAnAction)
{
    editor_.DropFiles(TPackerEditor::List::Frames,
                      {Path("FACE.PNG"), Path("a.tif"), Path("b.Jpeg"), Path("c.bmp"), Path("noext"), Path("d.wav")});
    EXPECT_EQ(Shown(), (QStringList{Path("FACE.PNG"), Path("b.Jpeg"), Path("c.bmp")}));
    editor_.DropFiles(TPackerEditor::List::Audio, {Path("a.png"), Path("b.OGG"), Path("c.mp3")});
    EXPECT_EQ(editor_.Audio().Paths(), (QStringList{Path("b.OGG"), Path("c.mp3")}));
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(PackerEditorTest, RowsWithNoShownActionBelongToNone)
{
    MakeActions(QStringLiteral("A"));
    const QString path = Path(QStringLiteral("p.zvp"));
    prompts_.saveFileAnswers = {path};
    ASSERT_TRUE(editor_.FileSave());
    prompts_.openFileAnswers = {path};
    editor_.FileOpen();
    editor_.DropFiles(TPackerEditor::List::Frames, {Path("stray.png")});
    EXPECT_EQ(Shown(), QStringList{Path("stray.png")});
    EXPECT_FALSE(editor_.IsModified());
    editor_.SelectAction(0);
    EXPECT_EQ(Shown(), Frames(QStringLiteral("A"), 2));
}

TEST_F(PackerEditorTest, SaveAsksForANameOnceAndStoresTheShownListsFirst)
{
    MakeActions(QStringLiteral("A"));
    editor_.SelectAction(0);
    editor_.Frames().AppendFiles({Path("new.png")});
    prompts_.saveFileAnswers = {Path("pet.txt")};
    ASSERT_TRUE(editor_.FileSave());
    const QString saved = Path(QStringLiteral("pet.txt.zvp"));
    EXPECT_EQ(editor_.ProjectFileName(), saved);
    EXPECT_FALSE(editor_.IsModified());

    editor_.NewAction();
    ASSERT_TRUE(editor_.FileSave());  // no dialog this time
    // Said in the status bar, not in a box.
    EXPECT_TRUE(Texts().isEmpty());
    TActionModel read;
    LoadProject(saved, read);
    EXPECT_EQ(read.Read()[0].Frames, (QStringList{Path("A0.png"), Path("A1.png"), Path("new.png")}));
    EXPECT_EQ(read.Count(), 2);

    prompts_.saveFileAnswers = {Path("other.ZVP")};
    ASSERT_TRUE(editor_.FileSaveAs());
    EXPECT_EQ(editor_.ProjectFileName(), Path("other.ZVP"));
    EXPECT_EQ(prompts_.openFilesFilters, (QStringList{kProjectFilter, kProjectFilter}));
}

TEST_F(PackerEditorTest, FailedSaveSaysWhyAndKeepsTheOldFileAndName)
{
    MakeActions(QStringLiteral("A"));
    const QString path = Path(QStringLiteral("p.zvp"));
    prompts_.saveFileAnswers = {path};
    ASSERT_TRUE(editor_.FileSave());
    const QByteArray before = ReadAll(path);
    for (int i = 0; i < 200; ++i)
        editor_.NewAction();
    prompts_.messages.clear();
    {
        FileSizeLimit limit(before.size() + 64);
        ASSERT_TRUE(limit.Active());
        EXPECT_FALSE(editor_.FileSave());
    }
    EXPECT_EQ(ReadAll(path), before);

    // A new project whose chosen folder does not exist keeps asking for a name.
    prompts_.saveFileAnswers = {Path("missing/q.zvp")};
    EXPECT_FALSE(editor_.FileSaveAs());
    EXPECT_EQ(editor_.ProjectFileName(), path);
    ASSERT_EQ(prompts_.messages.size(), 2);
    for (const auto& shown : prompts_.messages) {
        EXPECT_EQ(shown.kind, QStringLiteral("Error"));
        EXPECT_TRUE(shown.text.startsWith(QStringLiteral("The project could not be saved to "))) << shown.text.toStdString();
    }
    EXPECT_TRUE(prompts_.messages[1].text.contains(Path("missing/q.zvp")));
    EXPECT_TRUE(editor_.IsModified());
}

TEST_F(PackerEditorTest, ChangesAreNotDroppedUnasked)
{
    using Choice = Prompts::SaveChoice;
    const QString path = Path(QStringLiteral("kept.zvp"));
    const struct {
        Choice choice;
        bool closed;
        bool saved;
    } cases[] = {{Choice::Save, true, true}, {Choice::Discard, true, false}, {Choice::Cancel, false, false}};
    for (const auto& c : cases) {
        QFile::remove(path);
        prompts_.messages.clear();
        MakeActions(QStringLiteral("A"));
        prompts_.saveChoices = {c.choice};
        prompts_.saveFileAnswers = {path};
        EXPECT_EQ(editor_.FileClose(), c.closed);
        EXPECT_EQ(prompts_.messages.first().kind, QStringLiteral("Question"));
        EXPECT_EQ(QFileInfo::exists(path), c.saved);
        EXPECT_EQ(editor_.Actions().Count(), c.closed ? 0 : 1);
        EXPECT_EQ(editor_.FileCommandsEnabled(), !c.closed);
        editor_.FileNew();  // a saved project is dropped without a question
        prompts_.saveChoices = {Choice::Discard};
        editor_.FileNew();
    }

    // Nothing to lose: no question.
    prompts_.messages.clear();
    editor_.FileNew();
    EXPECT_TRUE(editor_.FileClose());
    EXPECT_TRUE(prompts_.messages.isEmpty());
    EXPECT_TRUE(editor_.CloseQuery());  // Close is off: nothing runs
}

TEST_F(PackerEditorTest, OpeningADamagedFileWarnsAndForgetsItsName)
{
    const QString path = Path(QStringLiteral("damaged.zvp"));
    WriteAll(path, "<R><A><N>kept</N><F>a.png;</F></A><!-- c --><A><N>lost</N><F/></A></R>");
    prompts_.openFileAnswers = {path};
    editor_.FileOpen();
    EXPECT_EQ(Names(), QStringList{"kept"});
    EXPECT_TRUE(editor_.ProjectFileName().isEmpty());
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].kind, QStringLiteral("Warning"));
    EXPECT_TRUE(prompts_.messages[0].text.startsWith(path + QStringLiteral(" could not be read whole: ")));
    EXPECT_TRUE(editor_.IsModified());

    // The next save asks where to write, so the damaged file stays as it was.
    prompts_.saveFileAnswers = {Path("mended")};
    ASSERT_TRUE(editor_.FileSave());
    EXPECT_EQ(editor_.ProjectFileName(), Path("mended.zvp"));
    EXPECT_EQ(ReadAll(path), "<R><A><N>kept</N><F>a.png;</F></A><!-- c --><A><N>lost</N><F/></A></R>");

    // A file that is not there opens as an empty project of that name.
    prompts_.messages.clear();
    prompts_.openFileAnswers = {Path("new.zvp")};
    editor_.FileOpen();
    EXPECT_EQ(editor_.Actions().Count(), 0);
    EXPECT_EQ(editor_.ProjectFileName(), Path("new.zvp"));
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(PackerEditorTest, CloseDisablesTheFileCommandsUntilNewOpenOrNewAction)
{
    QList<bool> changes;
    QObject::connect(&editor_, &TPackerEditor::FileCommandsEnabledChanged, [&](bool on) { changes.append(on); });
    EXPECT_TRUE(editor_.FileCommandsEnabled());
    editor_.FileClose();
    editor_.NewAction();
    prompts_.saveChoices = {Prompts::SaveChoice::Discard};
    editor_.FileClose();
    editor_.FileNew();
    editor_.FileClose();
    prompts_.openFileAnswers = {Path("x.zvp")};
    editor_.FileOpen();
    EXPECT_EQ(changes, (QList<bool>{false, true, false, true, false, true}));
}

TEST_F(PackerEditorTest, AnAddedAnimationIsImportedBesideTheProjectSavedFirst)
{
    MakeActions(QStringLiteral("A"), 0);
    editor_.SelectAction(0);
    const QString gif = Path(QStringLiteral("hop.gif"));
    ASSERT_TRUE(QFile::copy(QDir(TestDataFolder()).filePath(QStringLiteral("animation/gif_pillow.gif")), gif));
    const QStringList chosen{Path(QStringLiteral("a.png")), gif, Path(QStringLiteral("b.png"))};

    // Declined: the stills come in, the animation stays out and nothing is written.
    prompts_.openFilesAnswers = {chosen, chosen};
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(Shown(), (QStringList{chosen[0], chosen[2]}));
    EXPECT_EQ(Texts(), (QStringList{"Zuvo Packer: The frames of hop.gif are written into a folder beside the project file. "
                                    "Save the project first?"}));
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("hop"))));

    // Saved: its frames stand where it stood among the chosen files.
    editor_.Frames().Clear();
    prompts_.confirmAnswers = {true};
    prompts_.saveFileAnswers = {Path(QStringLiteral("pet"))};
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(editor_.ProjectFileName(), Path(QStringLiteral("pet.zvp")));
    const QStringList shown = Shown();
    ASSERT_GT(shown.size(), 4);
    EXPECT_EQ(shown.first(), chosen[0]);
    EXPECT_EQ(shown.last(), chosen[2]);
    for (const QString& frame : shown.mid(1, shown.size() - 2))
        EXPECT_EQ(QFileInfo(frame).absolutePath(), Path(QStringLiteral("hop")));
}

TEST_F(PackerEditorTest, FramesWhosePathsASaveWouldChangeAreLeftOutWithAReason)
{
    MakeActions(QStringLiteral("A"), 0);
    editor_.SelectAction(0);
    const QStringList refused{Path("a;b.png"), Path(" lead.png"), Path("trail.png "), Path("tab\t.png"),
                              Path("bell\x07.png"), Path(" folder/f.png"), Path("del\x7f.png"),
                              Path("back\\slash.png"), Path("c:drive.png")};
    const QStringList kept{Path("mid dle.png"), Path("b.png")};
    prompts_.openFilesAnswers = {refused + kept};
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(Shown(), kept);
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].text.split(u'\n').mid(1), refused);

    // What is kept comes back from the file as it went in.
    prompts_.saveFileAnswers = {Path("pet")};
    ASSERT_TRUE(editor_.FileSave());
    TActionModel read;
    ASSERT_EQ(LoadProject(Path("pet.zvp"), read), std::nullopt);
    EXPECT_EQ(read.Read().first().Frames, kept);
}

TEST_F(PackerEditorTest, ALinkIsNeverSavedThroughAndAProjectOpenedThroughOneIsWhatItLeadsTo)
{
    MakeActions(QStringLiteral("A"));
    const QString art = Path(QStringLiteral("art.png"));
    WriteAll(art, "art");
    const QString link = Path(QStringLiteral("link.zvp"));
    ASSERT_TRUE(QFile::link(art, link));
    prompts_.saveFileAnswers = {link};
    EXPECT_FALSE(editor_.FileSaveAs());
    EXPECT_EQ(ReadAll(art), QByteArray("art"));
    ASSERT_FALSE(prompts_.messages.isEmpty());
    EXPECT_TRUE(prompts_.messages.last().text.endsWith(link + QStringLiteral(" is a symbolic link: saving there would "
                                                                             "replace the file it leads to, so nothing was written")))
        << prompts_.messages.last().text.toStdString();

    // Its frames are found beside the file, and a save replaces the file, keeping the link.
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("real"))));
    const QString real = Path(QStringLiteral("real/p.zvp"));
    SaveProject(real, {{QStringLiteral("W"), {Path(QStringLiteral("real/w.png"))}, {}}});
    const QString opened = Path(QStringLiteral("p.zvp"));
    ASSERT_TRUE(QFile::link(real, opened));
    prompts_.saveChoices = {Prompts::SaveChoice::Discard};
    editor_.OpenProject(opened);
    EXPECT_EQ(editor_.ProjectFileName(), real);
    ASSERT_EQ(editor_.Actions().Count(), 1);
    EXPECT_EQ(editor_.Actions().Read()[0].Frames, QStringList{Path(QStringLiteral("real/w.png"))});
    editor_.NewAction();
    ASSERT_TRUE(editor_.FileSave());
    EXPECT_TRUE(QFileInfo(opened).isSymLink());
    TActionModel read;
    LoadProject(real, read);
    EXPECT_EQ(read.Count(), 2);
}

TEST_F(PackerEditorTest, AnImportThatWouldPassTheProjectsFramesIsRefusedWithTheFigures)
{
    // A project one frame short of what it may hold.
    QString stored;
    for (int i = 1; i < kMaxPackageFrames; ++i)
        stored += QStringLiteral("f.png;");
    const QString project = Path(QStringLiteral("full.zvp"));
    WriteAll(project, "<ZuvoProject><Action><Name>A</Name><ActionFragment>" + stored.toUtf8() +
                          "</ActionFragment></Action></ZuvoProject>");
    editor_.OpenProject(project);
    editor_.SelectAction(0);
    const QString gif = Path(QStringLiteral("hop.gif"));
    ASSERT_TRUE(QFile::copy(QDir(TestDataFolder()).filePath(QStringLiteral("animation/gif_pillow.gif")), gif));
    prompts_.openFilesAnswers = {{gif}};
    editor_.AddFiles(TPackerEditor::List::Frames);
    EXPECT_EQ(Shown().size(), kMaxPackageFrames - 1);
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_TRUE(prompts_.messages[0].text.endsWith(QStringLiteral("but the project has room for 1 more of the 50000 "
                                                                  "frames it may hold")))
        << prompts_.messages[0].text.toStdString();
    EXPECT_EQ(QDir(temp_.path()).entryList({"hop*", ".zuvora-import-*"}, QDir::Dirs | QDir::Hidden), QStringList{});
}

// An animation added to an empty action brings its frame time along, in the same step of
// history; an action that has frames or a frame time keeps its own, and the animation's frames
// are repeated for it.
TEST_F(PackerEditorTest, AnAnimationSetsTheFrameTimeOfAnEmptyActionInTheSameStep)
{
    MakeActions(QStringLiteral("ABC"), 0);
    editor_.SelectAction(1);
    editor_.Frames().AppendFiles(Frames(QStringLiteral("B"), 2));
    editor_.SelectAction(2);
    editor_.SetMotion({{}, {}, {}, {}, 50});
    prompts_.saveFileAnswers = {Path(QStringLiteral("pet"))};
    ASSERT_TRUE(editor_.FileSave());
    QList<TMotion> shown;
    QObject::connect(&editor_, &TPackerEditor::MotionShown, [&shown](const TMotion& motion) { shown.append(motion); });
    // Delays 20, 80, 130 and 500 ms.
    const QString gif = QStringLiteral(ZUVORA_TESTDATA "/animation/gif_pillow.gif");

    editor_.SelectAction(0);
    editor_.DropFiles(TPackerEditor::List::Frames, {gif});
    EXPECT_EQ(editor_.ShownMotion().Interval, 20);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last().Interval, 20);
    EXPECT_EQ(Shown().size(), 37);
    editor_.History().undo();
    EXPECT_EQ(editor_.ShownMotion(), TMotion{});
    EXPECT_EQ(shown.last(), TMotion{});
    EXPECT_EQ(Shown(), QStringList{});
    EXPECT_FALSE(editor_.IsModified());

    const struct {
        int action;
        qsizetype entries;
        std::optional<std::int32_t> interval;
    } kept[] = {{1, 2 + 9, {}}, {2, 15, 50}};
    for (const auto& c : kept) {
        editor_.SelectAction(c.action);
        editor_.DropFiles(TPackerEditor::List::Frames, {gif});
        EXPECT_EQ(Shown().size(), c.entries) << c.action;
        EXPECT_EQ(editor_.ShownMotion().Interval, c.interval) << c.action;
    }
}

// Every kind of edit, undone, gives back the project file's bytes as they were before it, and
// redone, as they were after it.
TEST_F(PackerEditorTest, EveryEditUndoesToTheBytesBeforeItAndRedoesToTheBytesAfter)
{
    const QString gif = QStringLiteral(ZUVORA_TESTDATA "/animation/gif_pillow.gif");
    const auto select = [this](int row) { editor_.SelectAction(row); };
    const struct {
        const char* step;  // as Edit > Undo names it
        std::function<void()> edit;
    } cases[] = {
        {"New Action", [&] { editor_.NewAction(); }},
        {"Rename Action", [&] { editor_.Actions().setData(editor_.Actions().index(1), QStringLiteral("Run"), Qt::EditRole); }},
        {"Delete Action", [&] { select(0), editor_.DeleteAction(); }},
        {"Move Action", [&] { select(1), editor_.MoveActionUp(); }},
        {"Move Action", [&] { select(2), editor_.DropAction(0); }},
        {"Add Frames", [&] { select(1), editor_.DropFiles(TPackerEditor::List::Frames, {Path("new.png")}); }},
        {"Add Frames", [&] { select(1), editor_.DropFiles(TPackerEditor::List::Frames, {gif}); }},  // imported
        {"Delete Frames", [&] { select(0), editor_.Edit(QStringLiteral("Delete Frames"), [&] { editor_.Frames().Delete(1); }); }},
        {"Move Frames", [&] { select(0), editor_.Edit(QStringLiteral("Move Frames"), [&] { editor_.Frames().MoveUp(1); }); }},
        {"Clear Frames", [&] { select(2), editor_.Edit(QStringLiteral("Clear Frames"), [&] { editor_.Frames().Clear(); }); }},
        {"Change Motion", [&] { select(1), editor_.SetMotion({TRole::Walk, TMove{3, 0}, {}, {}, 100}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        prompts_.saveChoices = {Prompts::SaveChoice::Discard};
        editor_.FileNew();
        MakeActions(QStringLiteral("ABC"), 3);
        const auto saved = [this](const QString& name) {
            prompts_.saveFileAnswers = {Path(name)};
            EXPECT_TRUE(editor_.FileSaveAs());
            return ReadAll(Path(name));
        };
        saved(QStringLiteral("before.zvp"));
        editor_.OpenProject(Path(QStringLiteral("before.zvp")));  // a fresh history
        const QByteArray before = ReadAll(Path(QStringLiteral("before.zvp")));
        c.edit();
        ASSERT_TRUE(editor_.History().canUndo());
        EXPECT_EQ(editor_.History().undoText(), QString::fromLatin1(c.step));
        EXPECT_TRUE(editor_.IsModified());
        const QByteArray edited = saved(QStringLiteral("edited.zvp"));
        EXPECT_NE(edited, before);
        editor_.History().undo();
        EXPECT_EQ(saved(QStringLiteral("undone.zvp")), before);
        editor_.History().redo();
        EXPECT_EQ(saved(QStringLiteral("redone.zvp")), edited);
        // Back to the saved step, the project is as its file.
        editor_.History().undo();
        editor_.History().redo();
        EXPECT_FALSE(editor_.IsModified());
        editor_.History().undo();
        EXPECT_TRUE(editor_.IsModified());
    }
}

TEST_F(PackerEditorTest, RecentProjectsAreTheTenLastNewestFirstAndAMissingOneIsDropped)
{
    MakeActions(QStringLiteral("A"));
    for (int i = 0; i < 12; ++i) {
        prompts_.saveFileAnswers = {Path(QStringLiteral("p%1.zvp").arg(i))};
        ASSERT_TRUE(editor_.FileSaveAs());
    }
    editor_.OpenProject(Path(QStringLiteral("p4.zvp")));
    QStringList expected{Path("p4.zvp")};
    for (int i = 11; i >= 2; --i) {
        if (i != 4)
            expected.append(Path(QStringLiteral("p%1.zvp").arg(i)));
    }
    EXPECT_EQ(RecentProjects(), expected);

    ASSERT_TRUE(QFile::remove(Path(QStringLiteral("p11.zvp"))));
    prompts_.messages.clear();
    editor_.OpenRecent(Path(QStringLiteral("p11.zvp")));
    EXPECT_EQ(Texts(), QStringList{"Error: " + Path("p11.zvp") + " does not exist!"});
    EXPECT_FALSE(RecentProjects().contains(Path(QStringLiteral("p11.zvp"))));
    EXPECT_EQ(editor_.ProjectFileName(), Path(QStringLiteral("p4.zvp")));
}
