#include "LibraryRows.h"
#include "app/LibraryFile.h"
#include "player/PlayerHost.h"
#include "app/SessionPlatform.h"
#include "app/FrmMain.h"
#include "app/QtPrompts.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "packer/PackerEditor.h"
#include "packer/ProjectFile.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {

// Records what the library window asks of the player, and when.
class RecordingPlayer : public PlayerHost {
public:
    bool showing = false;
    QStringList calls;
    QElapsedTimer clock;
    qint64 closedAt = -1;
    qint64 shownAt = -1;

    bool IsShowing() const override { return showing; }
    void RestoreAndClose() override
    {
        calls.append(QStringLiteral("close"));
        closedAt = clock.elapsed();
        showing = false;
    }
    void SetPackagePath(const QString& path) override { calls.append(QStringLiteral("path ") + path); }
    void ShowPlayer() override
    {
        calls.append(QStringLiteral("show"));
        shownAt = clock.elapsed();
        showing = true;
    }
    bool PlayAlongside(const QString& path) override
    {
        calls.append(QStringLiteral("alongside ") + path);
        return true;
    }
    void CloseAll() override
    {
        calls.append(QStringLiteral("close all"));
        showing = false;
    }
};

}  // namespace

class FrmMainTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        libraryFile_ = Path(QStringLiteral("Zuvora.Dat"));
    }

    void Open()
    {
        window_ = std::make_unique<TFrmMain>(prompts_, libraryFile_);
        window_->SetPlayer(&player_);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    QString MakePackage(const QString& name)
    {
        const QString path = Path(name);
        WriteAll(path, "PK");
        return path;
    }

    void AddFiles(const QStringList& files)
    {
        prompts_.openFilesAnswers.append(files);
        Click(QStringLiteral("Add"));
    }

    // Clicks the tool-bar button with that caption, as the user would.
    void Click(const QString& caption)
    {
        auto* bar = window_->findChild<QToolBar*>(QStringLiteral("tbMain"));
        ASSERT_NE(bar, nullptr);
        for (QAction* action : bar->actions()) {
            if (action->text() == caption) {
                QWidget* button = bar->widgetForAction(action);
                ASSERT_NE(button, nullptr);
                ASSERT_TRUE(button->isVisible()) << caption.toStdString();
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        FAIL() << "no button " << caption.toStdString();
    }

    void MenuItem(const QString& caption)
    {
        auto* menu = window_->findChild<QMenu*>(QStringLiteral("pmList"));
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (action->text() == caption) {
                action->trigger();
                return;
            }
        }
        FAIL() << "no menu item " << caption.toStdString();
    }

    QStringList Captions() const
    {
        QStringList captions;
        for (const TLibraryRow& row : window_->Library().Rows())
            captions.append(row.Caption);
        return captions;
    }

    QTableView* List() const { return window_->findChild<QTableView*>(QStringLiteral("packageList")); }

    ScriptedPrompts prompts_;
    RecordingPlayer player_;
    QString libraryFile_;
    std::unique_ptr<TFrmMain> window_;
};

TEST_F(FrmMainTest, LayoutCaptionsAndOrder)
{
    Open();
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Zuvora"));
    EXPECT_EQ(window_->size(), QSize(1000, 480));

    QStringList buttons;
    QStringList hidden;
    for (QAction* action : window_->findChild<QToolBar*>(QStringLiteral("tbMain"))->actions()) {
        if (action->isSeparator())
            continue;
        buttons.append(action->text());
        if (!action->isVisible())
            hidden.append(action->text());
    }
    EXPECT_EQ(buttons, (QStringList{"Add", "Delete", "Up", "Down", "Clear", "Play", "Play Alongside", "Packer", "About"}));
    EXPECT_EQ(hidden, QStringList{"Clear"});

    QStringList items;
    for (QAction* action : window_->findChild<QMenu*>(QStringLiteral("pmList"))->actions())
        items.append(action->text());
    EXPECT_EQ(items, (QStringList{"Play", "Play Alongside", "Open Containing Folder", "Add", "Delete", "Up", "Down", "Clear", "",
                                  "Start with the Desktop", "Hold Pets Still", "Stay Above Fullscreen Windows"}));

    QTableView* list = List();
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Zuvo"));
    EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Path"));
    EXPECT_EQ(list->columnWidth(0), 180);
    EXPECT_EQ(list->columnWidth(1), list->viewport()->width() - 180);
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    auto* log = window_->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->toPlainText().isEmpty());
}

TEST_F(FrmMainTest, AddAppendsFilesInDialogOrderAndCancelChangesNothing)
{
    Open();
    const QString b = MakePackage(QStringLiteral("b.zvk"));
    const QString a = MakePackage(QStringLiteral("a.zvk"));
    AddFiles({b, a, b});
    AddFiles({});
    EXPECT_EQ(Captions(), (QStringList{"b.zvk", "a.zvk", "b.zvk"}));
    EXPECT_EQ(window_->Library().Rows()[1].Path, a);
    EXPECT_EQ(prompts_.openFilesFilters, (QStringList{"Zuvo Package(*.zvk)|*.zvk", "Zuvo Package(*.zvk)|*.zvk"}));
    EXPECT_EQ(List()->model()->index(1, 1).data().toString(), a);
}

TEST_F(FrmMainTest, DeleteSelectsTheRowAboveOrNone)
{
    Open();
    AddFiles({Path("a.zvk"), Path("b.zvk"), Path("c.zvk"), Path("d.zvk")});

    Click(QStringLiteral("Delete"));  // nothing selected: nothing happens
    EXPECT_EQ(Captions().size(), 4);

    window_->SelectRow(2);
    Click(QStringLiteral("Delete"));
    EXPECT_EQ(Captions(), (QStringList{"a.zvk", "b.zvk", "d.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 1);

    window_->SelectRow(0);
    Click(QStringLiteral("Delete"));
    EXPECT_EQ(Captions(), (QStringList{"b.zvk", "d.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), -1);

    window_->SelectRow(1);
    MenuItem(QStringLiteral("Delete"));
    MenuItem(QStringLiteral("Delete"));
    EXPECT_TRUE(Captions().isEmpty());
    EXPECT_EQ(window_->SelectedRow(), -1);
}

TEST_F(FrmMainTest, UpAndDownMoveTheSelectionWithThePackageAndStopAtTheEnds)
{
    Open();
    AddFiles({Path("a.zvk"), Path("b.zvk"), Path("c.zvk")});

    window_->SelectRow(0);
    Click(QStringLiteral("Up"));
    EXPECT_EQ(Captions(), (QStringList{"a.zvk", "b.zvk", "c.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 0);

    Click(QStringLiteral("Down"));
    Click(QStringLiteral("Down"));
    EXPECT_EQ(Captions(), (QStringList{"b.zvk", "c.zvk", "a.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 2);
    EXPECT_EQ(window_->Library().Rows()[2].Path, Path("a.zvk"));

    Click(QStringLiteral("Down"));
    EXPECT_EQ(Captions(), (QStringList{"b.zvk", "c.zvk", "a.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 2);

    MenuItem(QStringLiteral("Up"));
    EXPECT_EQ(Captions(), (QStringList{"b.zvk", "a.zvk", "c.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 1);
}

TEST_F(FrmMainTest, ClearFromThePopUpMenuEmptiesTheList)
{
    Open();
    AddFiles({Path("a.zvk"), Path("b.zvk")});
    window_->SelectRow(1);
    MenuItem(QStringLiteral("Clear"));
    EXPECT_TRUE(Captions().isEmpty());
    EXPECT_EQ(window_->SelectedRow(), -1);
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(FrmMainTest, PlayAndOpenFolderReportAMissingFile)
{
    Open();
    const QString missing = Path(QStringLiteral("gone.zvk"));
    AddFiles({missing});

    Click(QStringLiteral("Play"));  // nothing selected: the first row plays, or would
    EXPECT_EQ(window_->SelectedRow(), 0);
    MenuItem(QStringLiteral("Open Containing Folder"));
    const ScriptedPrompts::Shown expected{QStringLiteral("Error"), missing + QStringLiteral(" does not exist!")};
    EXPECT_EQ(prompts_.messages, (QList<ScriptedPrompts::Shown>{expected, expected}));
    EXPECT_TRUE(player_.calls.isEmpty());
    EXPECT_TRUE(prompts_.shownInFolder.isEmpty());
    EXPECT_EQ(Captions(), QStringList{"gone.zvk"});  // the row stays
}

TEST_F(FrmMainTest, OpenContainingFolderShowsAnExistingFile)
{
    Open();
    const QString package = MakePackage(QStringLiteral("cat.zvk"));
    AddFiles({package});
    window_->SelectRow(0);
    MenuItem(QStringLiteral("Open Containing Folder"));
    EXPECT_EQ(prompts_.shownInFolder, QStringList{package});
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(FrmMainTest, PlayClosesAShowingPlayerWaitsThenShowsTheNewPackage)
{
    Open();
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    const QString dog = MakePackage(QStringLiteral("dog.zvk"));
    AddFiles({cat, dog});
    player_.clock.start();

    window_->SelectRow(0);
    // A double click is a press and release followed by a second press that the system
    // reports as a double click.
    const QPoint cell = List()->visualRect(List()->model()->index(0, 0)).center();
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, cell);
    EXPECT_TRUE(player_.calls.isEmpty());  // nothing before the pause
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_.calls.size() == 2; }, 2000));
    EXPECT_EQ(player_.calls, (QStringList{"path " + cat, "show"}));
    EXPECT_GE(player_.shownAt, TFrmMain::kPlayDelayMs);

    player_.calls.clear();
    window_->SelectRow(1);
    Click(QStringLiteral("Play"));
    EXPECT_EQ(player_.calls, QStringList{"close"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_.calls.size() == 3; }, 2000));
    EXPECT_EQ(player_.calls, (QStringList{"close", "path " + dog, "show"}));
    EXPECT_GE(player_.shownAt - player_.closedAt, TFrmMain::kPlayDelayMs);
}

TEST_F(FrmMainTest, AboutShowsTitleAndVersion)
{
    Open();
    Click(QStringLiteral("About"));
    EXPECT_EQ(prompts_.messages,
              (QList<ScriptedPrompts::Shown>{{QStringLiteral("Information"), QStringLiteral("Zuvora 1.0")}}));
}

// A library that opens with packages has its first selected, and Play with nothing
// selected plays the first, so a first run's Play plays Pip.
TEST_F(FrmMainTest, TheFirstPackageIsSelectedWhenTheListOpensAndPlaysWhenNoneIs)
{
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    const QString dog = MakePackage(QStringLiteral("dog.zvk"));
    WriteLibrary(libraryFile_, {{QStringLiteral("cat.zvk"), cat}, {QStringLiteral("dog.zvk"), dog}});
    Open();
    EXPECT_EQ(window_->SelectedRow(), 0);
    window_->SelectRow(-1);
    Click(QStringLiteral("Play"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_.calls.size() == 2; }, 2000));
    EXPECT_EQ(player_.calls, (QStringList{"path " + cat, "show"}));
    EXPECT_EQ(window_->SelectedRow(), 0);
}

TEST_F(FrmMainTest, ReadsTheLibraryAtFirstShowAndWritesItAtClose)
{
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    WriteLibrary(libraryFile_, {{QStringLiteral("cat.zvk"), cat}});
    Open();
    EXPECT_EQ(Captions(), QStringList{"cat.zvk"});
    window_->hide();
    window_->show();  // a second show does not read again
    EXPECT_EQ(Captions(), QStringList{"cat.zvk"});

    AddFiles({Path(QStringLiteral("sub/dog.zvk"))});
    player_.showing = true;
    window_->close();
    EXPECT_EQ(player_.calls, QStringList{"close all"});
    EXPECT_TRUE(prompts_.messages.isEmpty());
    EXPECT_TRUE(ReadAll(libraryFile_).contains("<Zvk>cat.zvk</Zvk><Zvk>sub\\dog.zvk</Zvk>"));

    // The next run sees the same list.
    window_ = std::make_unique<TFrmMain>(prompts_, libraryFile_);
    window_->show();
    EXPECT_EQ(Captions(), (QStringList{"cat.zvk", "dog.zvk"}));
}

TEST_F(FrmMainTest, FailedSaveAtCloseIsReported)
{
    libraryFile_ = Path(QStringLiteral("no/such/folder/Zuvora.Dat"));
    Open();
    AddFiles({Path(QStringLiteral("cat.zvk"))});
    window_->close();
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].kind, QStringLiteral("Error"));
    EXPECT_TRUE(prompts_.messages[0].text.startsWith(
        QStringLiteral("The library could not be saved to ") + libraryFile_ + QStringLiteral(": ")));
}

TEST_F(FrmMainTest, PackagesGivenToTheProgramJoinTheLibraryAndEachPlaysAlongside)
{
    Open();
    AddFiles({MakePackage(QStringLiteral("old.zvk"))});
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    const QString dog = MakePackage(QStringLiteral("dog.zvk"));
    window_->OpenPackages({cat, dog});
    EXPECT_EQ(Captions(), (QStringList{"old.zvk", "cat.zvk", "dog.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 1);
    EXPECT_EQ(player_.calls, (QStringList{"alongside " + cat, "alongside " + dog}));

    // A package listed already plays from its row, however it is spelled; what is no file
    // is named in one box and never listed.
    player_.calls.clear();
    ASSERT_TRUE(QFile::link(temp_.path(), Path(QStringLiteral("link"))));
    const QString viaLink = Path(QStringLiteral("link/dog.zvk"));
    window_->OpenPackages({viaLink, QStringLiteral("/"), QStringLiteral("/dev/zero"), Path(QStringLiteral("gone.zvk")), cat});
    EXPECT_EQ(Captions(), (QStringList{"old.zvk", "cat.zvk", "dog.zvk"}));
    EXPECT_EQ(window_->SelectedRow(), 2);
    EXPECT_EQ(player_.calls, (QStringList{"alongside " + dog, "alongside " + cat}));
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].text, QStringLiteral("/ is not a file\n/dev/zero is not a file\n") +
                                             Path(QStringLiteral("gone.zvk")) + QStringLiteral(" does not exist!"));
}

TEST_F(FrmMainTest, ALibraryReadInPartIsNamedAndKeptAsideAtTheFirstSave)
{
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    const QByteArray good = "<Zuvora Version=\"1.0.0\"><Zvk>cat.zvk</Zvk>";
    const QByteArray damaged[] = {
        good + "<Zvk>dog.z",                              // cut off
        good + "<Zvk>a & b.zvk</Zvk></Zuvora>",           // an unescaped "&"
        good + "<Zvk><b>x</b></Zvk></Zuvora>",            // an entry holding an element
    };
    for (const QByteArray& bytes : damaged) {
        WriteAll(libraryFile_, bytes);
        prompts_.messages.clear();
        Open();
        ASSERT_EQ(prompts_.messages.size(), 1);
        EXPECT_EQ(prompts_.messages[0].kind, QStringLiteral("Warning"));
        EXPECT_TRUE(prompts_.messages[0].text.startsWith(QStringLiteral("The library ") + libraryFile_ +
                                                         QStringLiteral(" could not be read whole: ")));
        window_->close();
        EXPECT_EQ(ReadAll(libraryFile_ + QStringLiteral(".bak")), bytes);
        EXPECT_EQ(LibraryRows(libraryFile_).size(), Captions().size());
    }
    // A pipe is never opened: no hang at the start, and it is moved aside, not read, at the end.
    QFile::remove(libraryFile_);
    ASSERT_EQ(mkfifo(QFile::encodeName(libraryFile_).constData(), 0600), 0);
    Open();
    EXPECT_TRUE(prompts_.messages.last().text.endsWith(QStringLiteral("it is not a regular file\nThe packages read "
                                                                      "before the damage are listed. The file is kept as ") +
                                                       libraryFile_ + QStringLiteral(".bak when the library is saved.")));
    window_->close();
    EXPECT_TRUE(QFileInfo(libraryFile_ + QStringLiteral(".bak")).exists());
    EXPECT_TRUE(QFileInfo(libraryFile_).isFile());
    Q_UNUSED(cat);
}

TEST_F(FrmMainTest, PackagesWhosePathsTheLibraryCannotKeepAreRefused)
{
    Open();
    const QStringList refused{Path(QStringLiteral("back\\slash.zvk")), Path(QStringLiteral("c:at.zvk")),
                              Path(QStringLiteral("new\nline.zvk")), Path(QString(MaxPathLength(), u'x'))};
    AddFiles(QStringList{Path(QStringLiteral("fine.zvk"))} + refused);
    EXPECT_EQ(Captions(), QStringList{"fine.zvk"});
    ASSERT_EQ(prompts_.messages.size(), 1);
    EXPECT_EQ(prompts_.messages[0].kind, QStringLiteral("Error"));
    EXPECT_TRUE(prompts_.messages[0].text.endsWith(refused.join(u'\n')));
}

TEST(SessionPlatform, WaylandWithX11BesideItRunsOnX11UnlessChosen)
{
    const QString wayland = QStringLiteral("wayland");
    EXPECT_EQ(PreferredPlatform({}, wayland, QStringLiteral("wayland-0"), QStringLiteral(":0")), QStringLiteral("xcb"));
    EXPECT_EQ(PreferredPlatform({}, {}, QStringLiteral("wayland-0"), QStringLiteral(":0")), QStringLiteral("xcb"));
    // The user's own choice wins, whatever it is.
    EXPECT_EQ(PreferredPlatform(QStringLiteral("wayland"), wayland, QStringLiteral("wayland-0"), QStringLiteral(":0")),
              QString());
    // Without XWayland there is nothing to switch to; an X11 session needs nothing.
    EXPECT_EQ(PreferredPlatform({}, wayland, QStringLiteral("wayland-0"), {}), QString());
    EXPECT_EQ(PreferredPlatform({}, QStringLiteral("x11"), {}, QStringLiteral(":0")), QString());
}

TEST_F(FrmMainTest, SettingsThatCannotBeKeptAreSaidOnceAndHoldForTheRun)
{
    Open();
    auto* log = window_->findChild<QPlainTextEdit*>(QStringLiteral("log"));
    ASSERT_NE(log, nullptr);
    // A pipe in place of the file would block the first read for ever.
    const QString pipe = SettingsFilePath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(pipe).absolutePath()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_TRUE(TransparentPet());
    // A folder that cannot be made: the choice holds for the run all the same.
    WriteAll(Path(QStringLiteral("file")), "");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Path(QStringLiteral("file"))));
    SetTransparentPet(false);
    EXPECT_FALSE(TransparentPet());
    QCoreApplication::processEvents();
    const QStringList lines = log->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QStringLiteral("Settings cannot be kept: %1 is not a regular file. Choices hold until Zuvora ends.").arg(pipe));
    SetTransparentPet(true);
}

TEST_F(FrmMainTest, PlayAlongsideLeavesThePetsThatPlay)
{
    Open();
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    AddFiles({cat});
    window_->SelectRow(0);
    player_.showing = true;
    Click(QStringLiteral("Play Alongside"));
    QTest::keyClick(List(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(List(), Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier);
    const QString alongside = QStringLiteral("alongside ") + cat;
    EXPECT_EQ(player_.calls, (QStringList{alongside, alongside, alongside}));
    EXPECT_TRUE(player_.showing);
}

TEST_F(FrmMainTest, ALibraryNeverReadIsNeverWrittenOver)
{
    const QByteArray kept = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Zuvora Version=\"1.0.0\"><Zvk>cat.zvk</Zvk></Zuvora>";
    WriteAll(libraryFile_, kept);
    window_ = std::make_unique<TFrmMain>(prompts_, libraryFile_);
    window_->SetPlayer(&player_);
    window_->close();  // say, the session ends before it was ever shown
    EXPECT_EQ(ReadAll(libraryFile_), kept);
    EXPECT_EQ(player_.calls, QStringList{"close all"});
}

TEST_F(FrmMainTest, APackageJustBuiltIsListedOnceAndPlaysAndTheListsKeysWork)
{
    Open();
    const QString cat = MakePackage(QStringLiteral("cat.zvk"));
    window_->PlayPackage(cat);
    window_->PlayPackage(cat);
    EXPECT_EQ(Captions(), QStringList{"cat.zvk"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_.calls.size() == 2; }, 2000));
    EXPECT_EQ(player_.calls, (QStringList{"path " + cat, "show"}));

    // Enter plays the selected pet, Delete takes its row away.
    player_.calls.clear();
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_.calls.contains(QStringLiteral("show")); }, 2000));
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_TRUE(Captions().isEmpty());
}

// Boxes that only tell wait for the one open, however many come while it is: none opens
// inside another's event loop, and what a name hides is written out.
TEST(QtPromptsTest, BoxesThatOnlyTellComeOneAfterAnother)
{
    QtPrompts prompts;
    QStringList shown;
    qsizetype mostOpen = 0;
    bool told = false;
    bool sent = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QList<QMessageBox*> open;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
                open.append(box);
        }
        mostOpen = std::max(mostOpen, open.size());
        if (open.isEmpty())
            return;
        if (shown.isEmpty() || shown.last() != open.last()->text())
            shown.append(open.last()->text());
        // More messages come while the first box is open; then each box is closed.
        if (!told) {
            told = true;
            QTimer::singleShot(0, [&] {
                prompts.Error(QStringLiteral("second"));
                prompts.Warning(QStringLiteral("third \u202Egpj.zvk"));
                sent = true;
            });
        } else if (sent || open.size() > 1) {
            open.last()->accept();
        }
    });
    watch.start();
    prompts.Error(QStringLiteral("first"));
    EXPECT_EQ(shown, (QStringList{"first", "second", "third \\u{202e}gpj.zvk"}));
    EXPECT_EQ(mostOpen, 1);
}

TEST(QtPromptsTest, DialogFiltersListTheirPatternsSeparatedByBlanks)
{
    EXPECT_EQ(QtPrompts::QtFilter(kFrameFilter), QStringLiteral("Fragment (*.png *.jpg *.jpeg *.bmp *.gif *.apng *.webp)"));
    EXPECT_EQ(QtPrompts::QtFilter(kProjectFilter), QStringLiteral("Zuvo Project(*.zvp)"));
    EXPECT_EQ(QtPrompts::QtFilter(QStringLiteral("Sound|*.mp3;*.wav|All|*")), QStringLiteral("Sound (*.mp3 *.wav);;All (*)"));
}
