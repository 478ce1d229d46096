#include "FrmPlayFixture.h"
#include "common/Settings.h"
#include "package/PackageCache.h"

#include <QSet>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTransform>

#include <cstring>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Counts the times the file at `path` is written: each time a new one is renamed into its
// place (it is also opened for writing, and closed, only to be read).
class FileWrites {
public:
    explicit FileWrites(const QString& path)
        : name_(QFile::encodeName(QFileInfo(path).fileName())), fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // Renames from the temporary files too: the kernel merges like events that follow each other.
        EXPECT_GE(inotify_add_watch(fd_, QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                    IN_MOVED_FROM | IN_MOVED_TO),
                  0);
    }
    ~FileWrites() { ::close(fd_); }
    FileWrites(const FileWrites&) = delete;
    FileWrites& operator=(const FileWrites&) = delete;

    int Count()
    {
        char buffer[4096];
        for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                if ((event.mask & IN_MOVED_TO) != 0 && event.len > 0 && name_ == buffer + at + sizeof event)
                    ++count_;
                at += static_cast<ssize_t>(sizeof event + event.len);
            }
        }
        return count_;
    }

private:
    QByteArray name_;
    int fd_;
    int count_ = 0;
};

// Compares two images pixel by pixel in one format.
bool SamePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

}  // namespace


TEST_F(FrmPlayTest, FirstShowPlacesTheWindowWithItsFirstFrameAndListsTheActions)
{
    const QString package = MakePackage(QStringLiteral("a.zvk"), Manifest({"Idle", "Walk", "\u732b"}), MakeSheet());
    // What the window holds at the moment it is first seen.
    struct : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show && frame.isNull())
                frame = static_cast<TFrmPlay*>(watched)->Controller().CurrentFrame();
            return false;
        }
        QRect frame;
    } seen;
    player_->installEventFilter(&seen);
    player_->Controller().SetPackagePath(package);
    player_->ShowPlayer();
    EXPECT_FALSE(player_->isVisible());  // loading: no empty box meanwhile
    ASSERT_TRUE(QTest::qWaitFor([this] { return player_->isVisible(); }, 5000));
    EXPECT_EQ(seen.frame.size(), QSize(16, 24));
    EXPECT_EQ(player_->pos(), TFrmPlay::kFirstPosition);
    EXPECT_EQ(player_->size(), QSize(16, 24));
    EXPECT_TRUE(player_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(player_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(player_->parentWidget(), nullptr);

    EXPECT_EQ(MenuTexts(), (QStringList{"Close", "Minimize", "Play Mode", "Size", "Sound", "Transparent", "-", "Idle", "Walk", "\u732b"}));
    EXPECT_FALSE(Item(QStringLiteral("Sound"))->isChecked());
    QStringList modes;
    for (QAction* mode : Item(QStringLiteral("PlayMode1"))->menu()->actions()) {
        if (mode->isVisible() && !mode->isSeparator())
            modes.append(mode->text());
    }
    // Roam and Chase the Pointer only for a package with a walking action.
    EXPECT_EQ(modes, (QStringList{"Repeat", "Single Repeat", "Random"}));
    EXPECT_TRUE(Item(QStringLiteral("Repeat1"))->isChecked());
    // The action playing shows checked, as in a radio group; nothing is marked.
    EXPECT_EQ(CheckedActions(), QList<int>{player_->Controller().State().ActionIndex});
    EXPECT_EQ(player_->Record().Action, -1);
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

// A package with a walking action starts in Roam: dropped where it was placed, the pet falls
// and walks on its own, always on the screen; another mode holds it in place.
TEST_F(FrmPlayTest, APetThatCanRoamRoamsOnTheScreenUntilAnotherModeIsChosen)
{
    QByteArray manifest = Manifest({"Walk"});
    manifest.replace("<ActionAudio/></Action>", "<ActionAudio/><Role>walk</Role><Move>4 0</Move></Action>");
    Show(MakePackage(QStringLiteral("roam.zvk"), manifest, MakeSheet()));
    EXPECT_TRUE(Item(QStringLiteral("Roam"))->isVisible());
    EXPECT_TRUE(Item(QStringLiteral("Roam"))->isChecked());
    const QRect area = desktop_.areas.value(0);
    QSet<int> lefts;
    for (int i = 0; i < 30; ++i) {
        QTest::qWait(50);
        EXPECT_TRUE(area.contains(player_->geometry())) << player_->x() << "," << player_->y();
        lefts.insert(player_->x());
    }
    EXPECT_EQ(player_->geometry().bottom(), area.bottom());
    EXPECT_GT(lefts.size(), 2);

    Item(QStringLiteral("Repeat1"))->trigger();
    const QPoint at = player_->pos();
    QTest::qWait(300);
    EXPECT_EQ(player_->pos(), at);
}

TEST_F(FrmPlayTest, ActionItemsToggleAndPickTheAction)
{
    Show(MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B", "C"}), MakeSheet()));
    const QList<QAction*> items = ActionItems();
    items[2]->trigger();
    EXPECT_EQ(CheckedActions(), QList<int>{2});
    EXPECT_EQ(player_->Record().Action, 2);
    EXPECT_EQ(player_->Controller().State().ActionIndex, 2);
    items[1]->trigger();
    EXPECT_EQ(CheckedActions(), QList<int>{1});
    EXPECT_EQ(player_->Record().Action, 1);
    EXPECT_EQ(player_->Controller().State().ActionIndex, 1);
    // The same item twice: nothing marked, the pick still made, and it shows as playing.
    items[1]->trigger();
    EXPECT_EQ(player_->Record().Action, -1);
    EXPECT_EQ(CheckedActions(), QList<int>{1});
    EXPECT_EQ(player_->Controller().State().ActionIndex, 1);

    Item(QStringLiteral("Random1"))->trigger();
    EXPECT_EQ(player_->Controller().State().PlayMode, kPlayRandom);
    EXPECT_FALSE(Item(QStringLiteral("Repeat1"))->isChecked());
    Item(QStringLiteral("SingleRepeat1"))->trigger();
    EXPECT_EQ(player_->Controller().State().PlayMode, kPlaySingleRepeat);
    EXPECT_TRUE(Item(QStringLiteral("SingleRepeat1"))->isChecked());
}

TEST_F(FrmPlayTest, AnotherPackageListsOnlyItsActionsAndResetsTheMode)
{
    Show(MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B", "C"}), MakeSheet()));
    ActionItems()[0]->trigger();
    Item(QStringLiteral("Random1"))->trigger();
    player_->RestoreAndClose();
    EXPECT_FALSE(player_->isVisible());
    EXPECT_FALSE(player_->Controller().PlaybackStarted());
    EXPECT_EQ(player_->Controller().Package(), nullptr);

    Show(MakePackage(QStringLiteral("b.zvk"), Manifest({"Only"}), MakeSheet()));
    EXPECT_EQ(MenuTexts(), (QStringList{"Close", "Minimize", "Play Mode", "Size", "Sound", "Transparent", "-", "Only"}));
    EXPECT_EQ(player_->Record().Action, -1);
    EXPECT_TRUE(Item(QStringLiteral("Repeat1"))->isChecked());
    EXPECT_EQ(player_->Controller().State().PlayMode, kPlayRepeat);
}

TEST_F(FrmPlayTest, FramesAreCopiedPixelForPixelWhiteIncluded)
{
    const QImage sheet = MakeSheet();
    ShowStill(MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), sheet));
    // As the engine shows it: the window takes the frame's size and draws it.
    SendFrame(0, 24, 16, 24);
    EXPECT_EQ(player_->size(), QSize(16, 24));
    EXPECT_EQ(player_->pos(), TFrmPlay::kFirstPosition);
    EXPECT_TRUE(SamePixels(player_->grab().toImage(), sheet.copy(0, 24, 16, 24)));

    // A repaint the system asks for brings the same frame back.
    player_->repaint();
    EXPECT_TRUE(SamePixels(player_->grab().toImage(), sheet.copy(0, 24, 16, 24)));

    // A frame of another size keeps the creature's foot, the bottom centre, where it was;
    // there and back again, the window is where it started.
    const QPoint foot = player_->geometry().bottomLeft() + QPoint(8, 0);
    SendFrame(0, 72, 32, 20);
    EXPECT_EQ(player_->size(), QSize(32, 20));
    EXPECT_EQ(player_->geometry().bottomLeft() + QPoint(16, 0), foot);
    EXPECT_TRUE(SamePixels(player_->grab().toImage(), sheet.copy(0, 72, 32, 20)));
    SendFrame(0, 24, 16, 24);
    EXPECT_EQ(player_->pos(), TFrmPlay::kFirstPosition);
}

TEST_F(FrmPlayTest, TransparentIsOnByDefaultAndKeptBetweenRuns)
{
    QFile::remove(SettingsFilePath());
    for (const bool expected : {true, false, true}) {
        TFrmPlay player(prompts_);
        QAction* item = player.TransparentItem();
        EXPECT_EQ(item->isChecked(), expected);
        EXPECT_TRUE(item->isCheckable());
        item->trigger();
    }
    // A change made elsewhere, say in the packer, shows at once.
    EXPECT_FALSE(player_->TransparentItem()->isChecked());
    SetTransparentPet(true);
    EXPECT_TRUE(player_->TransparentItem()->isChecked());
}

TEST_F(FrmPlayTest, SeeThroughPixelsAreLeftOutOfTheWindowWhileTransparentIsOn)
{
    const QImage sheet = MakeSheet();
    SetTransparentPet(true);
    ShowStill(MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), sheet));
    // Visible: exactly the frame's pixels that are not white.
    const auto mismatches = [&](const QRect& frame) {
        int count = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                count += player_->mask().contains(QPoint(x, y)) == (sheet.pixel(frame.topLeft() + QPoint(x, y)) == qRgb(255, 255, 255));
        return count;
    };
    SendFrame(0, 24, 16, 24);
    EXPECT_EQ(mismatches(QRect(0, 24, 16, 24)), 0);
    // Off gives the whole rectangle back at once, on takes the shape again.
    player_->TransparentItem()->trigger();
    EXPECT_TRUE(player_->mask().isEmpty());
    EXPECT_FALSE(TransparentPet());
    player_->TransparentItem()->trigger();
    EXPECT_EQ(mismatches(QRect(0, 24, 16, 24)), 0);
    // A frame white throughout leaves nothing of the window.
    SendFrame(20, 0, 8, 8);
    EXPECT_FALSE(player_->mask().isEmpty());
    EXPECT_TRUE((player_->mask() & player_->rect()).isEmpty());

    // A sheet without a transparent colour shows opaque.
    player_->RestoreAndClose();
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    sheet.save(&buffer, "PNG");
    ShowStill(MakePackage(QStringLiteral("b.zvk"), Manifest({"A"}), std::nullopt, plain));
    SendFrame(0, 24, 16, 24);
    EXPECT_TRUE(player_->mask().isEmpty());
}

TEST_F(FrmPlayTest, RectanglesOutsideTheSheetAndRequestsAfterCloseDrawOnlyWhatExists)
{
    const QImage sheet = MakeSheet();
    ShowStill(MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), sheet));
    const QColor background = player_->palette().button().color();

    // Half off the right edge: the part on the sheet is copied, the rest is background.
    player_->resize(16, 8);
    SendFrame(24, 0, 16, 8);
    const QImage half = player_->grab().toImage();
    EXPECT_TRUE(SamePixels(half.copy(0, 0, 8, 8), sheet.copy(24, 0, 8, 8)));
    EXPECT_EQ(half.pixelColor(12, 4), background);

    // Wholly outside, and absurdly large.
    SendFrame(99999, 99999, 16, 8);
    EXPECT_EQ(player_->grab().toImage().pixelColor(3, 3), background);
    // A damaged manifest's giant frame does not make a giant window.
    SendFrame(2147483647, 2147483647, 2147483647, 2147483647);
    EXPECT_LE(player_->width(), 4096);
    EXPECT_LE(player_->height(), 4096);
    SendFrame(-1, -1, 16, -8);

    player_->close();
    EXPECT_FALSE(player_->Controller().HasSheet());
    SendFrame(0, 0, 16, 8);
    EXPECT_EQ(player_->grab().toImage().pixelColor(3, 3), background);
}

TEST_F(FrmPlayTest, APackageWithNothingToPlayLeavesNoWindowAndSaysWhy)
{
    WriteAll(Path(QStringLiteral("text.zvk")), "just some text, no archive\n");
    const struct {
        QString package;
        QString text;    // of the one error box
        QString reason;  // the start of its detail's second line
    } cases[] = {
        // No frames, with a sheet that holds no image.
        {MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B"}, false), std::nullopt, QByteArray("\x89PNG\r\n\x1a\n", 8)),
         QStringLiteral("There is nothing to play."), QStringLiteral("the package holds no frames")},
        // Frames, but no sheet.
        {MakePackage(QStringLiteral("b.zvk"), Manifest({"A", "B"}), std::nullopt), QStringLiteral("There is nothing to play."),
         QStringLiteral("the package holds no zvk.png")},
        // No archive at all: the designed message, with the package named.
        {Path(QStringLiteral("text.zvk")), QStringLiteral("UnComPress File Error!"), QString()},
    };
    // Play's pet, with the window an earlier show made.
    Show(MakePackage(QStringLiteral("good.zvk"), Manifest({"A"}), MakeSheet()));
    player_->RestoreAndClose();
    for (const auto& c : cases) {
        prompts_.messages.clear();
        player_->Controller().SetPackagePath(c.package);
        player_->ShowPlayer();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !player_->Controller().Started(); }, 5000)) << c.package.toStdString();
        EXPECT_FALSE(player_->isVisible());
        EXPECT_FALSE(player_->Controller().PlaybackStarted());
        EXPECT_FALSE(player_->Controller().HasSheet());
        ASSERT_EQ(prompts_.messages.size(), 1);
        const QStringList lines = prompts_.messages[0].text.split(u'\n');
        EXPECT_EQ(lines.value(0), c.text);
        EXPECT_EQ(lines.value(1), c.package);
        EXPECT_TRUE(lines.value(2).startsWith(c.reason)) << lines.value(2).toStdString();
    }

    // Two pets waiting on one load that fails: one box, and neither stays.
    prompts_.messages.clear();
    ASSERT_TRUE(herd_->PlayAlongside(Path(QStringLiteral("text.zvk"))));
    ASSERT_TRUE(herd_->PlayAlongside(Path(QStringLiteral("text.zvk"))));
    EXPECT_TRUE(QTest::qWaitFor([this] { return herd_->Pets().isEmpty(); }, 5000));
    EXPECT_EQ(prompts_.messages.size(), 1);
}

TEST_F(FrmPlayTest, APetClosedWhileItsPackageLoadsGoesQuietly)
{
    WriteAll(Path(QStringLiteral("text.zvk")), "just some text, no archive\n");
    const QString a = MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), MakeSheet());
    // Play's pet, its window made by an earlier show, closed as the library's next Play does.
    Show(a);
    player_->RestoreAndClose();
    const int loads = PackageShelf().Loads();
    herd_->SetPackagePath(Path(QStringLiteral("text.zvk")));
    herd_->ShowPlayer();
    player_->RestoreAndClose();
    EXPECT_FALSE(player_->Controller().Started());
    ASSERT_TRUE(herd_->PlayAlongside(Path(QStringLiteral("text.zvk"))));
    ASSERT_TRUE(herd_->PlayAlongside(a));
    herd_->CloseAll();
    EXPECT_TRUE(herd_->Pets().isEmpty());
    PackageShelf().WaitForLoader();
    QTest::qWait(50);
    EXPECT_EQ(PackageShelf().Loads() - loads, 2);
    EXPECT_EQ(PackageShelf().Held(), 0);
    EXPECT_EQ(PackageShelf().SheetBytes(), 0);
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(FrmPlayTest, TheLeftButtonMovesTheWindowTheRightOneOpensTheMenu)
{
    ShowStill(MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), MakeSheet()));
    const QPoint start = player_->pos();
    QTest::mousePress(player_, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseRelease(player_, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(player_->pos(), start);

    // The offscreen platform has no window manager to move it; the window follows itself.
    QTest::mousePress(player_, Qt::LeftButton, {}, QPoint(10, 10));
    QMouseEvent drag(QEvent::MouseMove, QPointF(10, 10), player_->mapToGlobal(QPointF(50, 60)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(player_, &drag);
    QTest::mouseRelease(player_, Qt::LeftButton, {}, QPoint(50, 60));
    EXPECT_EQ(player_->pos(), start + QPoint(40, 50));
}

// The menu opened while the pet is held takes the left button's release: the pet is let go
// where it is and falls, instead of hanging there until it is clicked again.
TEST_F(FrmPlayTest, APetHeldWhenItsMenuOpensFallsFromWhereItIs)
{
    QByteArray manifest = Manifest({"Walk"});
    manifest.replace("<ActionAudio/></Action>", "<ActionAudio/><Role>walk</Role><Move>0 0</Move></Action>");
    Show(MakePackage(QStringLiteral("roam.zvk"), manifest, MakeSheet()));
    const int floor = desktop_.areas.value(0).bottom();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player_->geometry().bottom() == floor; }, 5000));

    QTest::mousePress(player_, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent lift(QEvent::MouseMove, QPointF(5, 5), player_->mapToGlobal(QPointF(5, -300)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(player_, &lift);
    ASSERT_LT(player_->geometry().bottom(), floor - 250);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), player_->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(player_, &menu);
    EXPECT_TRUE(player_->PopupMenu()->isVisible());
    player_->PopupMenu()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_->geometry().bottom() == floor; }, 5000)) << player_->y();
}

TEST_F(FrmPlayTest, AMinimizedPetWaitsAndPlaysOnWhenRestored)
{
    Show(MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B"}), MakeSheet()));
    ASSERT_TRUE(WaitForFrame());
    Item(QStringLiteral("minimizeItem"))->trigger();
    ASSERT_TRUE(player_->isMinimized());
    EXPECT_TRUE(player_->Controller().Resting());
    // At most the frame in flight is drawn after the minimize.
    QTest::qWait(3 * kFrameMs);
    const QRect before = player_->Controller().CurrentFrame();
    QTest::qWait(5 * kFrameMs);
    EXPECT_EQ(player_->Controller().CurrentFrame(), before);
    EXPECT_TRUE(player_->Controller().State().Running);

    player_->showNormal();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_->Controller().CurrentFrame() != before; }, 1000));
    player_->RestoreAndClose();
    EXPECT_FALSE(player_->isVisible());
    EXPECT_FALSE(player_->Controller().State().Running);
}

TEST_F(FrmPlayTest, ThousandsOfActionsComeInGroupsFilledWhenOpened)
{
    QStringList names;
    for (int i = 0; i < 2500; ++i)
        names.append(QStringLiteral("A%1").arg(i));
    Show(MakePackage(QStringLiteral("many.zvk"), Manifest(names), MakeSheet()));
    const QList<QAction*> groups = ActionItems();
    ASSERT_EQ(groups.size(), 3);
    EXPECT_EQ(groups[2]->text(), QStringLiteral("2001 - 2500"));
    QMenu* last = groups[2]->menu();
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->isEmpty());
    emit last->aboutToShow();
    ASSERT_EQ(last->actions().size(), 500);
    EXPECT_EQ(last->actions()[0]->text(), QStringLiteral("A2000"));

    // One marked item at most, and the pick names the action by its number.
    last->actions()[5]->trigger();
    EXPECT_EQ(player_->Controller().State().ActionIndex, 2005);
    EXPECT_TRUE(last->actions()[5]->isChecked());
    last->actions()[6]->trigger();
    EXPECT_FALSE(last->actions()[5]->isChecked());
    EXPECT_TRUE(last->actions()[6]->isChecked());
    last->actions()[6]->trigger();
    EXPECT_EQ(player_->Record().Action, -1);
}

TEST_F(FrmPlayTest, PetsPlayedAlongsideShareTheirPackageAndOtherwiseNothing)
{
    const int loads = PackageShelf().Loads();
    const QString a = MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B", "C"}), MakeSheet());
    const QString b = MakePackage(QStringLiteral("b.zvk"), Manifest({"Only"}), MakeSheet());
    herd_->SetPackagePath(a);
    herd_->ShowPlayer();
    ASSERT_TRUE(herd_->PlayAlongside(a));
    ASSERT_TRUE(herd_->PlayAlongside(b));
    const QList<TFrmPlay*> pets = herd_->Pets();
    ASSERT_EQ(pets.size(), 3);
    for (TFrmPlay* pet : pets)
        ASSERT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 5000));
    EXPECT_EQ(pets[0], player_);
    // One load, one sheet, for the two pets of a.
    EXPECT_EQ(PackageShelf().Loads() - loads, 2);
    EXPECT_EQ(PackageShelf().Held(), 2);
    EXPECT_EQ(pets[0]->Controller().Package(), pets[1]->Controller().Package());
    EXPECT_NE(pets[1]->Controller().Package(), pets[2]->Controller().Package());
    EXPECT_NE(pets[0]->pos(), pets[1]->pos());
    EXPECT_NE(pets[1]->pos(), pets[2]->pos());
    for (TFrmPlay* pet : pets)
        EXPECT_TRUE(QTest::qWaitFor([pet] { return !pet->Controller().CurrentFrame().isNull(); }, 3000));

    // A mode and an action chosen for one pet are that pet's alone.
    pets[1]->findChild<QAction*>(QStringLiteral("SingleRepeat1"))->trigger();
    pets[1]->PopupMenu()->actions()[9]->trigger();
    EXPECT_EQ(pets[1]->Controller().State().PlayMode, kPlaySingleRepeat);
    EXPECT_EQ(pets[1]->Controller().State().ActionIndex, 2);
    for (TFrmPlay* other : {pets[0], pets[2]}) {
        EXPECT_EQ(other->Controller().State().PlayMode, kPlayRepeat);
        EXPECT_TRUE(other->findChild<QAction*>(QStringLiteral("Repeat1"))->isChecked());
        EXPECT_EQ(other->Record().Action, -1);
    }

    // Each Close closes its own pet; the package goes with its last pet.
    pets[1]->findChild<QAction*>(QStringLiteral("play1"))->trigger();
    EXPECT_EQ(herd_->Pets(), (QList<TFrmPlay*>{pets[0], pets[2]}));
    const QRect before = pets[2]->Controller().CurrentFrame();
    EXPECT_TRUE(pets[0]->Controller().PlaybackStarted());
    EXPECT_TRUE(QTest::qWaitFor([&] { return pets[2]->Controller().CurrentFrame() != before; }, 1000));
    EXPECT_EQ(PackageShelf().Held(), 2);
    player_->RestoreAndClose();
    EXPECT_EQ(PackageShelf().Held(), 1);
    herd_->CloseAll();
    EXPECT_TRUE(herd_->Pets().isEmpty());
    EXPECT_EQ(PackageShelf().Held(), 0);
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

// Played while the library and the packer are up, pets land clear of them and of each
// other, by their own size, at the bottom of the screen; a hidden window is no obstacle.
TEST_F(FrmPlayTest, NewPetsLandOnNoOtherPetAndOnNoneOfZuvorasWindows)
{
    const QRect screen(0, 0, 800, 600);
    desktop_.areas = {screen};
    QByteArray manifest = Manifest({"A"});
    manifest.replace("<Width>16</Width>", "<Width>64</Width>").replace("<Height>24</Height>", "<Height>56</Height>");
    const QString a = MakePackage(QStringLiteral("a.zvk"), manifest, MakeSheet());
    QWidget library;  // over the first place
    library.setGeometry(300, 100, 400, 300);
    QWidget packer;   // over the bottom left corner
    packer.setGeometry(0, 450, 200, 150);
    QWidget hidden;
    hidden.setGeometry(screen);
    library.show();
    packer.show();
    herd_->SetPackagePath(a);
    herd_->ShowPlayer();
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(herd_->PlayAlongside(a));
    const QList<TFrmPlay*> pets = herd_->Pets();
    ASSERT_EQ(pets.size(), 5);
    for (TFrmPlay* pet : pets)
        ASSERT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 5000));
    for (qsizetype i = 0; i < pets.size(); ++i) {
        const QRect place = pets[i]->geometry();
        EXPECT_EQ(place.size(), QSize(64, 56)) << i;
        EXPECT_EQ(place.bottom(), screen.bottom()) << i;
        EXPECT_FALSE(place.intersects(library.frameGeometry())) << i;
        EXPECT_FALSE(place.intersects(packer.frameGeometry())) << i;
        for (qsizetype j = 0; j < i; ++j)
            EXPECT_FALSE(place.intersects(pets[j]->geometry())) << i << " on " << j;
    }
}

TEST_F(FrmPlayTest, TheThirtyThirdPetIsRefusedWithAReason)
{
    const QString a = MakePackage(QStringLiteral("a.zvk"), Manifest({"A"}), MakeSheet());
    for (int i = 0; i < TPetHerd::kMaxPets; ++i)
        ASSERT_TRUE(herd_->PlayAlongside(a));
    EXPECT_FALSE(herd_->PlayAlongside(a));
    herd_->SetPackagePath(a);
    herd_->ShowPlayer();
    EXPECT_FALSE(player_->isVisible());
    EXPECT_EQ(herd_->Pets().size(), TPetHerd::kMaxPets);
    const ScriptedPrompts::Shown refused{QStringLiteral("Error"),
                                        QStringLiteral("32 pets are playing already. Close one to play another.")};
    EXPECT_EQ(prompts_.messages, (QList<ScriptedPrompts::Shown>{refused, refused}));
}

TEST_F(FrmPlayTest, APetIsNamedAfterItsPackageAndKeepsItsWholeFactorSize)
{
    const QImage sheet = MakeSheet();
    SetTransparentPet(true);
    const QString package = MakePackage(QStringLiteral("Pip.zvk"), Manifest({"A"}), sheet);
    ShowStill(package);
    EXPECT_EQ(player_->windowTitle(), QStringLiteral("Pip"));
    SendFrame(0, 24, 16, 24);
    const QRegion single = player_->mask();
    ASSERT_FALSE(single.isEmpty());

    QMenu* sizes = Item(QStringLiteral("Size"))->menu();
    EXPECT_EQ(sizes->actions().size(), 4);
    sizes->actions()[2]->trigger();
    SendFrame(0, 24, 16, 24);
    EXPECT_EQ(player_->size(), QSize(48, 72));
    EXPECT_EQ(player_->mask(), QTransform::fromScale(3, 3).map(single));
    // Nearest-neighbour: every pixel of the frame becomes a 3 by 3 block of its colour.
    EXPECT_TRUE(SamePixels(player_->grab().toImage(), sheet.copy(0, 24, 16, 24).scaled(48, 72)));

    // Kept for the package, not for others.
    player_->RestoreAndClose();
    Show(package);
    EXPECT_EQ(player_->Controller().Scale(), 3);
    EXPECT_TRUE(sizes->actions()[2]->isChecked());
    player_->RestoreAndClose();
    Show(MakePackage(QStringLiteral("other.zvk"), Manifest({"A"}), sheet));
    EXPECT_EQ(player_->Controller().Scale(), 1);
}

TEST_F(FrmPlayTest, SoundIsOffByDefaultAndAnAudioFileThatCannotPlayNeverStopsThePet)
{
    // The first action names a member that is not there, the second a path outside the cache.
    QByteArray manifest = Manifest({"A", "B"});
    const QByteArray empty = "<ActionAudio/>";
    manifest.replace(manifest.indexOf(empty), empty.size(), "<ActionAudio><Audio>0.wav</Audio></ActionAudio>");
    manifest.replace(manifest.indexOf(empty), empty.size(), "<ActionAudio><Audio>../../x.wav</Audio></ActionAudio>");
    Show(MakePackage(QStringLiteral("a.zvk"), manifest, MakeSheet()));
    QAction* sound = Item(QStringLiteral("Sound"));
    EXPECT_FALSE(sound->isChecked());
#ifndef __SANITIZE_THREAD__
    // GStreamer keeps threads the thread sanitizer cannot see into; the other builds play.
    sound->trigger();
    EXPECT_TRUE(PetSound());
#endif
    ASSERT_TRUE(WaitForFrame());
    // Both actions start more than once in a second, and the pet goes on.
    const QRect first = player_->Controller().CurrentFrame();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_->Controller().CurrentFrame() != first; }, 1000));
    QTest::qWait(700);
    const QRect later = player_->Controller().CurrentFrame();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_->Controller().CurrentFrame() != later; }, 1000));
    EXPECT_TRUE(player_->Controller().State().Running);
    EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(FrmPlayTest, PetsComeBackWhereAndAsTheyWere)
{
    const QString a = MakePackage(QStringLiteral("a.zvk"), Manifest({"A", "B", "C"}), MakeSheet());
    const QString b = MakePackage(QStringLiteral("b.zvk"), Manifest({"Only"}), MakeSheet());
    // As a settings file from an earlier run holds them.
    SetLastPets({{a, {40, 50}, 2, kPlaySingleRepeat}, {b, {300, 200}, -1, kPlayRandom}});
    SetPetPlace(a, {40, 50, 16, 24});
    SetPetPlace(b, {300, 200, 16, 24});
    herd_->RestoreLastPets();
    const QList<TFrmPlay*> pets = herd_->Pets();
    ASSERT_EQ(pets.size(), 2);
    // Kept as they were while their packages load, and marked once they have.
    EXPECT_EQ(pets[0]->Record(), (TPetRecord{a, {40, 50}, 2, kPlaySingleRepeat}));
    EXPECT_EQ(pets[1]->Record(), (TPetRecord{b, {300, 200}, -1, kPlayRandom}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return pets[0]->isVisible() && pets[1]->isVisible(); }, 5000));
    EXPECT_TRUE(pets[0]->PopupMenu()->actions()[9]->isChecked());
    EXPECT_EQ(pets[0]->Controller().State().ActionIndex, 2);

    // Closing Zuvora keeps them as they are then; a pet played again comes back to its place.
    pets[1]->move(320, 220);
    herd_->CloseAll();
    EXPECT_EQ(LastPets(), (QList<TPetRecord>{{a, {40, 50}, 2, kPlaySingleRepeat}, {b, {320, 220}, -1, kPlayRandom}}));
    ASSERT_TRUE(herd_->PlayAlongside(b));
    EXPECT_EQ(herd_->Pets().at(0)->pos(), QPoint(320, 220));

    // A pet no screen shows any more goes to the nearest edge of one that remains.
    TFrmPlay* pet = herd_->Pets().at(0);
    pet->move(2000, 100);
    desktop_.areas = {QRect(0, 0, 800, 600)};
    emit desktop_.WorkAreasChanged();
    EXPECT_EQ(pet->geometry().topRight().x(), 799);
    EXPECT_EQ(pet->y(), 100);
}

TEST_F(FrmPlayTest, AMovedPetKeepsItsPlaceAtOnceAndClosingThemAllWritesTheSettingsOnce)
{
    for (const QString& name : {QStringLiteral("a.zvk"), QStringLiteral("b.zvk"), QStringLiteral("c.zvk")})
        ASSERT_TRUE(herd_->PlayAlongside(MakePackage(name, Manifest({"A"}), MakeSheet())));
    const QList<TFrmPlay*> pets = herd_->Pets();
    ASSERT_EQ(pets.size(), 3);
    for (TFrmPlay* pet : pets)
        ASSERT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 3000));
    QTest::qWait(1200);  // the places of their first show are kept
    FileWrites writes(SettingsFilePath());
    pets[1]->move(300, 200);
    EXPECT_TRUE(QTest::qWaitFor([&] { return writes.Count() == 1; }, 3000));
    EXPECT_EQ(PetPlace(pets[1]->Controller().PackagePath()).value_or(QRect()).topLeft(), QPoint(300, 200));
    herd_->CloseAll();
    EXPECT_EQ(writes.Count(), 2);
    EXPECT_EQ(LastPets().size(), 3);
}

TEST_F(FrmPlayTest, APetRepeatingAnActionWithoutFramesIsShownAllTheSameSoItsMenuCanBeReached)
{
    QByteArray manifest = Manifest({"A"});
    manifest.replace("</ZuvoProject>", "<Action><Name>Empty</Name><ActionFragment/></Action></ZuvoProject>");
    const QString a = MakePackage(QStringLiteral("a.zvk"), manifest, MakeSheet());
    SetLastPets({{a, {40, 50}, 1, kPlaySingleRepeat}});
    herd_->RestoreLastPets();
    ASSERT_EQ(herd_->Pets().size(), 1);
    TFrmPlay* pet = herd_->Pets().at(0);
    EXPECT_TRUE(QTest::qWaitFor([pet] { return pet->isVisible(); }, 3000));
    EXPECT_TRUE(pet->Controller().CurrentFrame().isNull());
    EXPECT_TRUE(pet->PopupMenu()->actions().last()->isChecked());
}
