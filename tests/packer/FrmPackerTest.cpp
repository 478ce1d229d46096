#include "FrmPackerFixture.h"
#include "common/AppDirs.h"
#include "common/Settings.h"
#include "packer/FrameThumbnails.h"
#include "packer/PreviewPane.h"
#include "packer/ProjectFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QStatusBar>
#include <QUrl>

#include <chrono>
#include <future>
#include <thread>
#include <utility>

#include <sys/stat.h>

TEST_F(FrmPackerTest, LayoutCaptionsAndSizes)
{
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Untitled[*] \u2013 Zuvo Packer"));
    EXPECT_EQ(window_->size(), QSize(1041, 676));
    QStringList menus;
    for (QAction* menu : window_->menuBar()->actions())
        menus.append(menu->text() + QStringLiteral(": ") + Captions(menu->menu()->actions()).join(u','));
    EXPECT_EQ(menus, (QStringList{"&File: &New,&Open,Open &Recent,&Save,Save &As,&Close,E&xit",
                                  "&Edit: &Undo,&Redo,&Delete,Re&name Action,Move &Up,Move Do&wn",
                                  "&Project: &Build Zuvo Package,Build &As…", "&Help: &About"}));
    EXPECT_EQ(Captions(window_->findChild<QToolBar*>(QStringLiteral("tbAction"))->actions()),
              (QStringList{"New", "Rename", "Delete", "Up", "Down"}));
    EXPECT_EQ(Captions(window_->findChild<QToolBar*>(QStringLiteral("tbFrame"))->actions()),
              (QStringList{"Add", "Delete", "Up", "Down", "Clear", "Import Sprite Sheet…"}));
    EXPECT_EQ(Captions(window_->findChild<QMenu*>(QStringLiteral("pmAction"))->actions()),
              (QStringList{"New Action", "Rename Action", "Delete Action"}));
    EXPECT_EQ(Captions(window_->findChild<QMenu*>(QStringLiteral("pmFrame"))->actions()),
              (QStringList{"Add Fragment", "Delete Fragment", "Import Sprite Sheet…", "Open Containing Folder"}));
    EXPECT_EQ(Frames()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Fragment"));
    EXPECT_EQ(Frames()->columnWidth(0), 180);
    EXPECT_EQ(Frames()->columnWidth(1), Frames()->viewport()->width() - 180);
    EXPECT_FALSE(window_->findChild<QWidget*>(QStringLiteral("pnlAudio"))->isVisible());
    EXPECT_EQ(Tree()->width(), 304);
    // The log takes no typing and lets Tab move on; the tool bars' buttons are in the Tab order.
    EXPECT_TRUE(window_->Log()->isReadOnly());
    EXPECT_TRUE(window_->Log()->tabChangesFocus());
    const QToolBar* bar = window_->findChild<QToolBar*>(QStringLiteral("tbFrame"));
    for (QAction* action : bar->actions()) {
        if (!action->isSeparator()) {
            EXPECT_TRUE(bar->widgetForAction(action)->focusPolicy() & Qt::TabFocus) << action->text().toStdString();
        }
    }
}

TEST_F(FrmPackerTest, FrameButtonsMoveTheSelectionWithTheRow)
{
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    prompts_.openFilesAnswers = {{Path("a.png"), Path("b.png"), Path("c.png")}};
    Click(QStringLiteral("tbFrame"), QStringLiteral("Add"));
    Frames()->SelectRow(0);
    Click(QStringLiteral("tbFrame"), QStringLiteral("Down"));
    EXPECT_EQ(Frames()->SelectedRow(), 1);
    EXPECT_EQ(Editor().Frames().Paths(), (QStringList{Path("b.png"), Path("a.png"), Path("c.png")}));
    Frames()->SelectRow(2);
    Click(QStringLiteral("tbFrame"), QStringLiteral("Delete"));
    EXPECT_EQ(Frames()->SelectedRow(), 1);
    Frames()->SelectRow(0);
    Click(QStringLiteral("tbFrame"), QStringLiteral("Delete"));
    EXPECT_EQ(Frames()->SelectedRow(), -1);
    EXPECT_EQ(Editor().Frames().Paths(), QStringList{Path("a.png")});
}

TEST_F(FrmPackerTest, FilesDroppedFromTheFileManagerReachTheList)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Path("FACE.PNG")), QUrl::fromLocalFile(Path("a.tif")),
                  QUrl(QStringLiteral("https://example.org/b.png"))});
    QWidget* viewport = Frames()->viewport();
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(Editor().Frames().Paths(), QStringList{Path("FACE.PNG")});
}

TEST_F(FrmPackerTest, RenameInPlaceTakesAnyTextAndUpDiscardsAnOpenEdit)
{
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Editor().SelectAction(1);
    QLineEdit* edit = Rename();
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClick(edit, Qt::Key_Return);
    QApplication::processEvents();  // the delegate commits from a queued call
    EXPECT_EQ(Editor().Actions().Read()[1].Name, QString());

    edit = Rename();
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("typed"));
    Click(QStringLiteral("tbAction"), QStringLiteral("Up"));
    QApplication::processEvents();

    EXPECT_EQ(Editor().Actions().Read()[0].Name, QString());
    EXPECT_EQ(Editor().Actions().Read()[1].Name, QStringLiteral("New Action1"));
}

TEST_F(FrmPackerTest, RightClickOnTheTreeKeepsTheSelection)
{
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Editor().SelectAction(0);
    const QRect second = Tree()->visualRect(Editor().Actions().index(1));
    QTest::mouseClick(Tree()->viewport(), Qt::RightButton, Qt::NoModifier, second.center());
    EXPECT_EQ(Editor().SelectedAction(), 0);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    EXPECT_EQ(Editor().SelectedAction(), 1);
}

TEST_F(FrmPackerTest, ClosingWithChangesAsksAndCancelKeepsTheWindow)
{
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    prompts_.saveChoices = {Prompts::SaveChoice::Cancel, Prompts::SaveChoice::Discard};
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(Editor().Actions().Count(), 1);
    EXPECT_TRUE(window_->close());
    EXPECT_EQ(Editor().Actions().Count(), 0);
    EXPECT_FALSE(Editor().FileCommandsEnabled());
}

TEST_F(FrmPackerTest, BuildLogsToTheLogAndCannotStartTwice)
{
    QImage frame(4, 4, QImage::Format_RGB32);
    frame.fill(Qt::red);
    ASSERT_TRUE(frame.save(Path("f.png")));
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Editor().SelectAction(0);
    Editor().DropFiles(TPackerEditor::List::Frames, {Path("f.png")});  // not yet stored: the build does it
    QAction* build = window_->menuBar()->actions()[2]->menu()->actions()[0];
    bool busyDuringBuild = false;
    QStringList statusAtBox;
    prompts_.onShow = [&](const ScriptedPrompts::Shown&) {
        busyDuringBuild = !build->isEnabled() && QGuiApplication::overrideCursor() != nullptr;
        for (QLabel* label : window_->statusBar()->findChildren<QLabel*>())
            statusAtBox.append(label->text());
    };
    prompts_.saveFileAnswers = {Path("pet")};
    build->trigger();
    const QString success = QStringLiteral("Success : ") + Path("pet.zvk") + QStringLiteral(" has been built!");
    EXPECT_EQ(window_->Log()->toPlainText(), Path("f.png") + u'\n' + success);
    EXPECT_EQ(prompts_.messages.last(), (ScriptedPrompts::Shown{kPackerTitle, success + QStringLiteral(" [Play]")}));
    EXPECT_TRUE(busyDuringBuild);
    // The outcome, not the last step, is in sight when the box comes up.
    EXPECT_EQ(statusAtBox, (QStringList{"Built", Path("pet.zvk")}));
    EXPECT_TRUE(build->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Built again, it goes where it went, without a question; Build As asks, offering it.
    prompts_.suggestedNames.clear();
    build->trigger();
    EXPECT_TRUE(prompts_.suggestedNames.isEmpty());
    EXPECT_EQ(prompts_.messages.last(), (ScriptedPrompts::Shown{kPackerTitle, success + QStringLiteral(" [Play]")}));
    prompts_.saveFileAnswers = {Path("other")};
    window_->menuBar()->actions()[2]->menu()->actions()[1]->trigger();
    EXPECT_EQ(prompts_.suggestedNames, QStringList{Path("pet.zvk")});
    EXPECT_EQ(Editor().BuiltTo(), Path("other.zvk"));

    // Saved, it says so in the status bar, with no box; a new project starts with a clear
    // log and status, and no place to build.
    prompts_.messages.clear();
    prompts_.saveFileAnswers = {Path("pet.zvp")};
    ASSERT_TRUE(Editor().FileSave());
    EXPECT_EQ(window_->statusBar()->currentMessage(), Path("pet.zvp") + QStringLiteral(" has been saved"));
    EXPECT_TRUE(prompts_.messages.isEmpty());
    Editor().FileNew();
    EXPECT_TRUE(window_->Log()->toPlainText().isEmpty());
    for (QLabel* label : window_->statusBar()->findChildren<QLabel*>())
        EXPECT_TRUE(label->text().isEmpty()) << label->text().toStdString();
    EXPECT_TRUE(Editor().BuiltTo().isEmpty());
    // Opened again, the project knows where it was built.
    Editor().OpenProject(Path("pet.zvp"));
    EXPECT_EQ(Editor().BuiltTo(), Path("other.zvk"));
}

TEST_F(FrmPackerTest, PreviewPlaysTheShownFramesInTheListsOrderAndOnlyWhileShown)
{
    // Sizes tell the frames apart.
    QStringList files;
    for (int side : {10, 12, 14}) {
        QImage frame(side, side, QImage::Format_RGB32);
        frame.fill(qRgb(side, 0, 0));
        files.append(Path(QStringLiteral("f%1.png").arg(side)));
        ASSERT_TRUE(frame.save(files.last()));
    }
    Editor().NewAction();
    Editor().SelectAction(0);
    Editor().DropFiles(TPackerEditor::List::Frames, files);
    TPreviewPane* preview = window_->Preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->ShownFrame() == 0; }, 2000));
    EXPECT_TRUE(preview->IsPlaying());

    Editor().Frames().MoveUp(2);
    const QStringList order{files[0], files[2], files[1]};
    EXPECT_EQ(preview->Frames(), order);
    QStringList seen;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const QString shown = preview->Frames().value(preview->ShownFrame());
        if (seen.isEmpty() || seen.last() != shown)
            seen.append(shown);
        return seen.size() >= 6;
    }, 3000));
    for (qsizetype i = 1; i < seen.size(); ++i)
        EXPECT_EQ(order.indexOf(seen[i]), (order.indexOf(seen[i - 1]) + 1) % 3) << i;

    window_->hide();
    EXPECT_FALSE(preview->IsPlaying());
    window_->show();
    EXPECT_TRUE(preview->IsPlaying());
    window_->showMinimized();
    EXPECT_FALSE(preview->IsPlaying());
    window_->showNormal();
    EXPECT_TRUE(preview->IsPlaying());

    // Its see-through box is the pet's "Transparent", both ways.
    QCheckBox* box = window_->TransparentBox();
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_FALSE(TransparentPet());
    EXPECT_FALSE(preview->Transparent());
}

// How an action moves is edited beside the list, as a step of history; the preview slides a
// walk by its move and turns it round at the pane's sides.
TEST_F(FrmPackerTest, MotionFieldsAreEditsAndThePreviewWalks)
{
    QImage frame(20, 20, QImage::Format_RGB32);
    frame.fill(Qt::red);
    ASSERT_TRUE(frame.save(Path(QStringLiteral("w.png"))));
    auto* motion = window_->findChild<QWidget*>(QStringLiteral("motion"));
    ASSERT_NE(motion, nullptr);
    EXPECT_FALSE(motion->isEnabled());
    Editor().NewAction();
    Editor().SelectAction(0);
    Editor().DropFiles(TPackerEditor::List::Frames, {Path(QStringLiteral("w.png"))});
    EXPECT_TRUE(motion->isEnabled());
    auto* role = motion->findChild<QComboBox*>(QStringLiteral("cbRole"));
    auto* dx = motion->findChild<QSpinBox*>(QStringLiteral("seMoveX"));
    role->setCurrentText(QStringLiteral("walk"));
    emit role->activated(role->currentIndex());
    dx->setValue(30);
    emit dx->editingFinished();
    EXPECT_EQ(Editor().ShownMotion(), (TMotion{TRole::Walk, TMove{30, 0}, {}, {}, {}}));
    EXPECT_EQ(Editor().History().undoText(), QStringLiteral("Change Motion"));

    TPreviewPane* preview = window_->Preview();
    bool turned = false;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        EXPECT_LE(std::abs(preview->Slide().x()), (preview->width() - 20) / 2);
        turned = turned || preview->Mirrored();
        return turned;
    }, 5000));

    // Each field's change is a step of its own, and the fields follow the steps back.
    Editor().History().undo();
    EXPECT_EQ(dx->value(), 0);
    EXPECT_EQ(role->currentText(), QStringLiteral("walk"));
    Editor().History().undo();
    EXPECT_EQ(Editor().ShownMotion(), TMotion{});
    EXPECT_EQ(role->currentIndex(), 0);
}

TEST_F(FrmPackerTest, PreviewShowsAFrameThatCannotBeDecodedAsAPlaceholderWithoutABox)
{
    QImage good(6, 6, QImage::Format_RGB32);
    good.fill(Qt::blue);
    ASSERT_TRUE(good.save(Path("good.png")));
    WriteAll(Path("bad.png"), QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(40, 'x'));
    WriteAll(Path("text.png"), "hello");
    const QStringList files{Path("good.png"), Path("bad.png"), Path("text.png"), Path("gone.png")};
    Editor().NewAction();
    Editor().SelectAction(0);
    Editor().Frames().AppendFiles(files);
    const TPreviewDecoder& decoded = window_->Preview()->Decoded();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return std::all_of(files.begin(), files.end(), [&](const QString& f) { return decoded.Find(f) != nullptr; });
    }, 3000));
    EXPECT_FALSE(decoded.Find(files[0])->Image.isNull());
    QHelpEvent tipAsked(QEvent::ToolTip, {}, {});
    QApplication::sendEvent(window_->Preview(), &tipAsked);
    const QString tip = window_->Preview()->toolTip();
    for (const QString& file : files.mid(1)) {
        EXPECT_TRUE(decoded.Find(file)->Image.isNull()) << file.toStdString();
        EXPECT_TRUE(tip.contains(file)) << tip.toStdString();
    }
    EXPECT_TRUE(window_->Preview()->IsPlaying());
    EXPECT_TRUE(prompts_.messages.isEmpty());

    // Kept while the project is open, forgotten with it.
    prompts_.saveChoices.append(Prompts::SaveChoice::Discard);
    Editor().FileNew();
    EXPECT_EQ(decoded.Find(files[0]), nullptr);
}

TEST_F(FrmPackerTest, PreviewStopsTheDecodeUnderWayWhenDestroyed)
{
    // 99 scans over 4096 by 4096 pixels in three components: seconds of decoding, within
    // every limit. A quarter of each side is a sixteenth of the work.
    WriteAll(Path("slow.jpg"), RepeatedDcScans(4096, 3, 99));
    WriteAll(Path("sixteenth.jpg"), RepeatedDcScans(1024, 3, 99));
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(TPreviewDecoder::Decode(Path("sixteenth.jpg")).Error, QString());
    const qint64 sixteenth = std::max<qint64>(clock.elapsed(), 10);

    auto frames = std::make_unique<TPreviewDecoder>();
    clock.restart();
    frames->Request({Path("slow.jpg")});
    QThread::msleep(static_cast<unsigned long>(2 * sixteenth));  // well into the scans
    QElapsedTimer stopping;
    stopping.start();
    frames.reset();
    EXPECT_LT(stopping.elapsed(), 1000);
    // Left to run, the decode would take some sixteen sixteenths.
    EXPECT_LT(clock.elapsed(), 8 * sixteenth) << "a sixteenth took " << sixteenth << " ms";
}

TEST_F(FrmPackerTest, PreviewDecodesAgainTheFramesWhoseFilesChangedOrAppeared)
{
    const auto save = [this](const char* name, int side) {
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(Qt::green);
        return image.save(Path(name));
    };
    ASSERT_TRUE(save("same.png", 4) && save("touched.png", 4) && save("resized.png", 4));
    const QStringList files{Path("same.png"), Path("touched.png"), Path("resized.png"), Path("appeared.png")};
    TPreviewDecoder frames;
    QHash<QString, int> decodes;
    QObject::connect(&frames, &TPreviewDecoder::Decoded, [&decodes](const QString& path) { ++decodes[path]; });
    frames.Request(files);
    ASSERT_TRUE(QTest::qWaitFor([&] { return decodes.size() == 4; }, 5000));
    ASSERT_TRUE(frames.Find(files[3])->Image.isNull());

    ASSERT_TRUE(save("resized.png", 6) && save("appeared.png", 5));
    QFile touched(files[1]);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime));
    touched.close();
    frames.Request(files);
    // Results come in the request's order: with the last, every file has been looked at.
    ASSERT_TRUE(QTest::qWaitFor([&] { return decodes.value(files[3]) == 2; }, 5000));
    EXPECT_EQ(decodes.value(files[0]), 1);
    EXPECT_EQ(decodes.value(files[1]), 2);
    EXPECT_EQ(decodes.value(files[2]), 2);
    EXPECT_EQ(frames.Find(files[2])->Image.size(), QSize(6, 6));
    EXPECT_EQ(frames.Find(files[3])->Image.size(), QSize(5, 5));
}

TEST_F(FrmPackerTest, TheKeysReachTheirCommandsAndTheTitleTellsOfChanges)
{
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    const auto key = [this](QWidget* target, QKeyCombination combination) {
        target->setFocus();
        QTest::keyClick(target, combination.key(), combination.keyboardModifiers());
    };
    // New selects the action and opens its name for typing.
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    ASSERT_EQ(Editor().SelectedAction(), 0);
    QLineEdit* name = Tree()->findChild<QLineEdit*>();
    ASSERT_NE(name, nullptr);
    ASSERT_TRUE(name->isVisible());
    name->setText(QStringLiteral("Walk"));
    QTest::keyClick(name, Qt::Key_Return);
    QApplication::processEvents();  // the delegate commits from a queued call
    EXPECT_EQ(Editor().Actions().Read().at(0).Name, QStringLiteral("Walk"));
    EXPECT_TRUE(window_->isWindowModified());
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Untitled[*] \u2013 Zuvo Packer"));

    // Undo and redo step through the rename, then the new action. Redo's key is the
    // platform's own (Ctrl+Shift+Z or Ctrl+Y).
    const QKeyCombination redo = QKeySequence(QKeySequence::Redo)[0];
    key(Tree(), Qt::CTRL | Qt::Key_Z);
    EXPECT_EQ(Editor().Actions().Read().at(0).Name, QStringLiteral("New Action1"));
    key(Tree(), redo);
    EXPECT_EQ(Editor().Actions().Read().at(0).Name, QStringLiteral("Walk"));

    // F2 renames; frames move with Alt+Up and go with Delete.
    key(Tree(), Qt::Key_F2);
    QLineEdit* renamed = Tree()->findChild<QLineEdit*>();
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->text(), QStringLiteral("Walk"));
    QTest::keyClick(renamed, Qt::Key_Escape);
    Editor().DropFiles(TPackerEditor::List::Frames, {Path("a.png"), Path("b.png")});
    Frames()->SelectRow(1);
    key(Frames(), Qt::ALT | Qt::Key_Up);
    EXPECT_EQ(Editor().Frames().Paths(), (QStringList{Path("b.png"), Path("a.png")}));
    key(Frames(), Qt::Key_Delete);
    EXPECT_EQ(Editor().Frames().Paths(), QStringList{Path("a.png")});
    EXPECT_EQ(Editor().History().undoText(), QStringLiteral("Delete Frames"));

    // Ctrl+S saves under the name chosen; the mark follows saves and undos.
    prompts_.saveFileAnswers = {Path("walk")};
    key(Frames(), Qt::CTRL | Qt::Key_S);
    EXPECT_EQ(prompts_.suggestedNames.last(), QStringLiteral("Untitled.zvp"));
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("walk.zvp[*] \u2013 Zuvo Packer"));
    EXPECT_FALSE(window_->isWindowModified());
    key(Frames(), Qt::CTRL | Qt::Key_Z);
    EXPECT_TRUE(window_->isWindowModified());
    key(Frames(), redo);
    EXPECT_FALSE(window_->isWindowModified());

    // Ctrl+B builds, offering the project's name.
    key(Frames(), Qt::CTRL | Qt::Key_B);
    EXPECT_EQ(prompts_.suggestedNames.last(), Path("walk.zvk"));
}

TEST_F(FrmPackerTest, TheFrameListShowsEachFrameSmallOnceItIsDecoded)
{
    QImage red(64, 32, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(Path("red.png")));
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Editor().DropFiles(TPackerEditor::List::Frames, {Path("red.png"), Path("missing.png")});
    auto* thumbnails = dynamic_cast<TFrameThumbnails*>(Frames()->itemDelegateForColumn(0));
    ASSERT_NE(thumbnails, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !thumbnails->Thumbnail(Path("red.png")).isNull(); }, 3000));
    const QImage small = thumbnails->Thumbnail(Path("red.png"));
    EXPECT_EQ(small.size(), QSize(28, 14));  // the frame's shape kept
    EXPECT_EQ(small.pixelColor(5, 5), QColor(Qt::red));
    EXPECT_TRUE(thumbnails->Thumbnail(Path("missing.png")).isNull());
    // And it is painted beside the name.
    const QRect row = Frames()->visualRect(Editor().Frames().index(0, 0));
    const QImage painted = Frames()->viewport()->grab().toImage();
    EXPECT_EQ(painted.pixelColor(row.left() + 2 + 14, row.center().y()), QColor(Qt::red));
}

TEST_F(FrmPackerTest, AFrameWhoseFileGoesIsCrossedOutAsSoonAsItGoes)
{
    QImage red(16, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(Path("red.png")));
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    Editor().DropFiles(TPackerEditor::List::Frames, {Path("red.png")});
    const TPreviewDecoder& decoded = window_->Preview()->Decoded();
    ASSERT_TRUE(QTest::qWaitFor([&] { return decoded.Find(Path("red.png")) != nullptr; }, 3000));
    ASSERT_TRUE(QFile::remove(Path("red.png")));
    // Nothing else happens in the window: the folder's change is what it notices.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !decoded.Find(Path("red.png"))->Error.isEmpty(); }, 3000));
    const QRect row = Frames()->visualRect(Editor().Frames().index(0, 0));
    const QPoint box(row.left() + 2 + TFrameThumbnails::kSide / 2, row.center().y());
    const QImage painted = Frames()->viewport()->grab().toImage();
    EXPECT_EQ(painted.pixelColor(box), QColor(Qt::red));  // the cross's middle
    EXPECT_EQ(painted.pixelColor(box + QPoint(0, 6)), QColor(Qt::white));
    QHelpEvent tip(QEvent::ToolTip, box, Frames()->viewport()->mapToGlobal(box));
    QApplication::sendEvent(Frames()->viewport(), &tip);
    EXPECT_EQ(QToolTip::text(), decoded.Find(Path("red.png"))->Error);
    EXPECT_TRUE(QToolTip::text().contains(Path("red.png"))) << QToolTip::text().toStdString();
}

TEST_F(FrmPackerTest, AnImportRunsBesideTheWindowWhichCancelsItLeavingNothing)
{
    // The animation comes through a named pipe, so its import is surely under way, waiting
    // for the bytes, when Cancel is pressed; they are let through after it (or after 5 s,
    // should the import hold the window up instead).
    const QString gif = Path("hop.gif");
    ASSERT_EQ(::mkfifo(QFile::encodeName(gif).constData(), 0600), 0);
    const QByteArray bytes = ReadAll(QDir(TestDataFolder()).filePath("animation/gif_pillow.gif"));
    ASSERT_FALSE(bytes.isEmpty());
    std::promise<void> release;
    std::thread writer([&, let = release.get_future()] {
        let.wait_for(std::chrono::seconds(5));
        QFile pipe(gif);
        if (pipe.open(QIODevice::WriteOnly))
            pipe.write(bytes);
    });
    auto letThrough = [&, done = false]() mutable {
        if (!std::exchange(done, true))
            release.set_value();
    };
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    prompts_.saveFileAnswers = {Path("pet")};
    ASSERT_TRUE(Editor().FileSave());
    prompts_.messages.clear();
    const QStringList before = QDir(temp_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    const int steps = Editor().History().count();

    bool cancelledInSight = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = window_->findChild<QDialog*>(QStringLiteral("dlgImport"));
        if (dialog == nullptr || !dialog->isVisible())
            return;
        watch.stop();
        cancelledInSight = dialog->isModal();
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        letThrough();
    });
    watch.start(20);
    Editor().DropFiles(TPackerEditor::List::Frames, {gif});
    letThrough();
    writer.join();

    EXPECT_TRUE(cancelledInSight);
    EXPECT_EQ(Editor().Frames().rowCount(), 0);
    EXPECT_EQ(Editor().History().count(), steps);
    EXPECT_EQ(QDir(temp_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    for (const ScriptedPrompts::Shown& shown : prompts_.messages)
        ADD_FAILURE() << shown.kind.toStdString() << ": " << shown.text.toStdString();
    EXPECT_EQ(window_->findChild<QDialog*>(QStringLiteral("dlgImport")), nullptr);
}

TEST_F(FrmPackerTest, TheFrameListHasNothingToScrollSidewaysTo)
{
    Click(QStringLiteral("tbAction"), QStringLiteral("New"));
    QStringList files;
    for (int i = 0; i < 30; ++i)
        files.append(Path(QStringLiteral("a long name for a frame file %1.png").arg(i)));
    Editor().Frames().AppendFiles(files);
    QApplication::processEvents();
    QTest::mouseClick(Frames()->viewport(), Qt::LeftButton, {}, Frames()->visualRect(Editor().Frames().index(0, 0)).center());
    QTest::keyClick(Frames(), Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(Frames()->currentIndex(), Editor().Frames().index(29, 1));
    EXPECT_EQ(Frames()->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(Frames()->columnViewportPosition(0), 0);
    EXPECT_EQ(Frames()->columnViewportPosition(1) + Frames()->columnWidth(1), Frames()->viewport()->width());
}
