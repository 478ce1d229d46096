#include "packer/FrmPacker.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "packer/ActionTree.h"
#include "packer/FrameThumbnails.h"
#include "packer/ImportDialog.h"
#include "packer/MotionPane.h"
#include "packer/PreviewPane.h"
#include "packer/RecentProjects.h"
#include "packer/SheetGridDialog.h"
#include "ui/FileListView.h"
#include "ui/Panes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QFileInfo>


TFrmPacker::TFrmPacker(Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), editor_(prompts)
{
    setObjectName(QStringLiteral("FrmPacker"));
    resize(1041, 676);
    BuildMenus();

    // Bottom: the build's log.
    log_ = LogPane(QStringLiteral("log"));
    QWidget* bottom = Pane(QStringLiteral("debug"), nullptr, log_);

    auto* panes = new QSplitter(Qt::Horizontal);
    panes->addWidget(ActionPane());
    panes->addWidget(FramePane());
    panes->setStretchFactor(1, 1);
    panes->setSizes({304, 1041 - 304});
    auto* outer = new QSplitter(Qt::Vertical);
    outer->addWidget(panes);
    outer->addWidget(bottom);
    // The log grows with the window too, a fifth of what the panes above it gain.
    outer->setStretchFactor(0, 4);
    outer->setStretchFactor(1, 1);
    outer->setSizes({676, 77});
    setCentralWidget(outer);

    projectStatus_ = new QLabel;
    projectStatus_->setFixedWidth(150);
    buildStatus_ = new QLabel;
    buildStatus_->setFixedWidth(500);
    statusBar()->addWidget(projectStatus_);
    statusBar()->addWidget(buildStatus_);

    editor_.SetImportRunner([this](const QString& what, const std::function<void(const TImportProgress&)>& work) {
        TImportDialog::Run(this, what, work);
    });
}

void TFrmPacker::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&New"), QKeySequence::New, this, &TFrmPacker::OnNewClicked);
    file->addAction(QStringLiteral("&Open"), QKeySequence::Open, this, &TFrmPacker::OnOpenClicked);
    QMenu* recent = file->addMenu(QStringLiteral("Open &Recent"));
    recent->setObjectName(QStringLiteral("miOpenRecent"));
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { FillRecentMenu(recent); });
    saveItem_ = file->addAction(QStringLiteral("&Save"), QKeySequence::Save, this, &TFrmPacker::OnSaveClicked);
    saveAsItem_ = file->addAction(QStringLiteral("Save &As"), QKeySequence::SaveAs, this, &TFrmPacker::OnSaveAsClicked);
    closeItem_ = file->addAction(QStringLiteral("&Close"), QKeySequence::Close, this, &TFrmPacker::OnCloseClicked);
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, &TFrmPacker::OnExitClicked);
    menuBar()->addMenu(EditMenu());
    QMenu* project = menuBar()->addMenu(QStringLiteral("&Project"));
    buildItem_ = project->addAction(QStringLiteral("&Build Zuvo Package"), QKeySequence(Qt::CTRL | Qt::Key_B), this,
                                  &TFrmPacker::OnBuildClicked);
    buildAsItem_ = project->addAction(QStringLiteral("Build &As\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), this,
                                    &TFrmPacker::OnBuildAsClicked);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About"), this, &TFrmPacker::OnAboutClicked);
    connect(&editor_, &TPackerEditor::FileCommandsEnabledChanged, this, [this](bool enabled) {
        for (QAction* item : {saveItem_, saveAsItem_, closeItem_})
            item->setEnabled(enabled);
    });
    connect(&editor_, &TPackerEditor::ProjectChanged, this, &TFrmPacker::ShowTitle);
    connect(&editor_, &TPackerEditor::Saved, this, [this](const QString& message) {
        statusBar()->showMessage(message, kSavedMessageMs);
    });
    ShowTitle();
}

QMenu* TFrmPacker::EditMenu()
{
    auto* edit = new QMenu(QStringLiteral("&Edit"), this);
    edit->setObjectName(QStringLiteral("miEdit"));
    // Named after the step they take: "Undo Rename Action".
    QAction* undo = editor_.History().createUndoAction(edit, QStringLiteral("&Undo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = editor_.History().createRedoAction(edit, QStringLiteral("&Redo"));
    redo->setShortcut(QKeySequence::Redo);
    edit->addAction(undo);
    edit->addAction(redo);
    edit->addSeparator();
    edit->addAction(QStringLiteral("&Delete"), QKeySequence::Delete, this, &TFrmPacker::DeleteSelected);
    edit->addAction(QStringLiteral("Re&name Action"), QKeySequence(Qt::Key_F2), this, &TFrmPacker::OnRenameActionClicked);
    edit->addAction(QStringLiteral("Move &Up"), QKeySequence(Qt::ALT | Qt::Key_Up), this, [this] { MoveSelected(-1); });
    edit->addAction(QStringLiteral("Move Do&wn"), QKeySequence(Qt::ALT | Qt::Key_Down), this, [this] { MoveSelected(+1); });
    return edit;
}

void TFrmPacker::FillRecentMenu(QMenu* menu)
{
    menu->clear();
    const QStringList recent = RecentProjects();
    for (const QString& path : recent)
        menu->addAction(path, this, [this, path] { editor_.OpenRecent(path); });
    if (!recent.isEmpty())
        menu->addSeparator();
    menu->addAction(QStringLiteral("Clear Menu"), this, [] { ClearRecentProjects(); })->setEnabled(!recent.isEmpty());
}

void TFrmPacker::ShowTitle()
{
    const QString& file = editor_.ProjectFileName();
    const QString name = file.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(file).fileName();
    setWindowTitle(name + QStringLiteral("[*] \u2013 ") + kPackerTitle);
    setWindowModified(editor_.IsModified());
}

void TFrmPacker::DeleteSelected()
{
    if (frameList_->hasFocus())
        OnDeleteFramesClicked();
    else if (audioList_->hasFocus())
        OnDeleteAudioClicked();
    else if (actionTree_->hasFocus())
        OnDeleteActionClicked();
}

void TFrmPacker::MoveSelected(int offset)
{
    if (frameList_->hasFocus())
        offset < 0 ? OnMoveFramesUpClicked() : OnMoveFramesDownClicked();
    else if (audioList_->hasFocus())
        offset < 0 ? OnMoveAudioUpClicked() : OnMoveAudioDownClicked();
    else if (actionTree_->hasFocus())
        offset < 0 ? OnMoveActionUpClicked() : OnMoveActionDownClicked();
}

void TFrmPacker::EditList(TFileListView* list, const QString& name, int (TFileListModel::*edit)(int))
{
    editor_.Edit(name, [list, edit] { list->EditSelected(edit); });
}

// Left: the actions.
QWidget* TFrmPacker::ActionPane()
{
    actionTree_ = new TActionTree;
    actionTree_->setModel(&editor_.Actions());
    actionTree_->setSelectionModel(&editor_.ActionSelection());
    actionTree_->SetDropHandler([this](int target) { editor_.DropAction(target); });
    ContextMenu<TFrmPacker>(actionTree_, QStringLiteral("pmAction"), this,
                            {{QStringLiteral("New Action"), &TFrmPacker::OnNewActionClicked},
                             {QStringLiteral("Rename Action"), &TFrmPacker::OnRenameActionClicked},
                             {QStringLiteral("Delete Action"), &TFrmPacker::OnDeleteActionClicked}});
    // Below the list, how the shown action moves a roaming pet.
    motion_ = new TMotionPane;
    motion_->setEnabled(false);
    connect(motion_, &TMotionPane::MotionEdited, &editor_, &TPackerEditor::SetMotion);
    connect(&editor_, &TPackerEditor::MotionShown, motion_, [this](const TMotion& motion) {
        motion_->SetMotion(motion);
        motion_->setEnabled(editor_.ShownAction() != nullptr);
        if (preview_ != nullptr)
            preview_->SetMotion(motion);
    });
    connect(motion_, &TMotionPane::MotionEdited, this, [this] { preview_->SetMotion(editor_.ShownMotion()); });
    auto* actions = new QWidget;
    auto* layout = new QVBoxLayout(actions);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(actionTree_, 1);
    layout->addWidget(motion_);
    return Pane(QStringLiteral("Action"),
                ToolBar<TFrmPacker>(QStringLiteral("tbAction"), 47, this,
                                    {{QStringLiteral("New"), &TFrmPacker::OnNewActionClicked},
                                     {QStringLiteral("Rename"), &TFrmPacker::OnRenameActionClicked},
                                     {QStringLiteral("Delete"), &TFrmPacker::OnDeleteActionClicked},
                                     {QStringLiteral("Up"), &TFrmPacker::OnMoveActionUpClicked},
                                     {QStringLiteral("Down"), &TFrmPacker::OnMoveActionDownClicked}}),
                actions);
}

// Right: the shown action's frames, the audio panel that stays hidden, and beside them the
// preview.
QWidget* TFrmPacker::FramePane()
{
    frameList_ = new TFileListView(QStringLiteral("frameList"));
    frameList_->setModel(&editor_.Frames());
    frameList_->SetDropHandler([this](const QStringList& files) { editor_.DropFiles(TPackerEditor::List::Frames, files); });
    ContextMenu<TFrmPacker>(frameList_, QStringLiteral("pmFrame"), this,
                            {{QStringLiteral("Add Fragment"), &TFrmPacker::OnAddFramesClicked},
                             {QStringLiteral("Delete Fragment"), &TFrmPacker::OnDeleteFramesClicked},
                             {QStringLiteral("Import Sprite Sheet…"), &TFrmPacker::OnImportSpriteSheetClicked},
                             {QStringLiteral("Open Containing Folder"), &TFrmPacker::OnOpenFrameFolderClicked}});

    auto* framesAndAudio = new QWidget;
    auto* rightLayout = new QVBoxLayout(framesAndAudio);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightLayout->addWidget(frameList_, 1);
    rightLayout->addWidget(AudioPane());
    auto* framesAndPreview = new QSplitter(Qt::Horizontal);
    framesAndPreview->addWidget(framesAndAudio);
    framesAndPreview->addWidget(PreviewPane());
    framesAndPreview->setStretchFactor(0, 1);
    // Each frame's name with a small picture of it, from the preview's decoder.
    frameList_->setItemDelegateForColumn(0, new TFrameThumbnails(preview_->Decoded(), frameList_));
    frameList_->verticalHeader()->setDefaultSectionSize(TFrameThumbnails::kSide + 4);
    framesAndPreview->setSizes({1041 - 304 - 260, 260});

    return Pane(QStringLiteral("Action Fragment"),
                ToolBar<TFrmPacker>(QStringLiteral("tbFrame"), 38, this,
                                    {{QStringLiteral("Add"), &TFrmPacker::OnAddFramesClicked},
                                     {QStringLiteral("Delete"), &TFrmPacker::OnDeleteFramesClicked},
                                     {QStringLiteral("Up"), &TFrmPacker::OnMoveFramesUpClicked},
                                     {QStringLiteral("Down"), &TFrmPacker::OnMoveFramesDownClicked},
                                     {QStringLiteral("Clear"), &TFrmPacker::OnClearFramesClicked},
                                     {QStringLiteral("Import Sprite Sheet…"), &TFrmPacker::OnImportSpriteSheetClicked}}),
                framesAndPreview);
}

QWidget* TFrmPacker::AudioPane()
{
    audioList_ = new TFileListView(QStringLiteral("audioList"));
    audioList_->setModel(&editor_.Audio());
    audioList_->SetDropHandler([this](const QStringList& files) { editor_.DropFiles(TPackerEditor::List::Audio, files); });
    // The audio panel stays hidden, as designed; its menu's items are there but inert.
    ContextMenu<TFrmPacker>(audioList_, QStringLiteral("pmAudio"), this,
                            {{QStringLiteral("Add Audio"), nullptr},
                             {QStringLiteral("Rename Audio"), nullptr},
                             {QStringLiteral("Delete Audio"), nullptr}});
    QWidget* audio = Pane(QStringLiteral("Audio"),
                          ToolBar<TFrmPacker>(QStringLiteral("tbAudio"), 38, this,
                                              {{QStringLiteral("Add"), &TFrmPacker::OnAddAudioClicked},
                                               {QStringLiteral("Delete"), &TFrmPacker::OnDeleteAudioClicked},
                                               {QStringLiteral("Up"), &TFrmPacker::OnMoveAudioUpClicked},
                                               {QStringLiteral("Down"), &TFrmPacker::OnMoveAudioDownClicked},
                                               {QStringLiteral("Clear"), &TFrmPacker::OnClearAudioClicked}}),
                          audioList_);
    audio->setObjectName(QStringLiteral("pnlAudio"));
    audio->setFixedHeight(121);
    audio->hide();
    return audio;
}

// The shown action playing as the pet will play it.
QWidget* TFrmPacker::PreviewPane()
{
    preview_ = new TPreviewPane(editor_.Frames());
    connect(&editor_, &TPackerEditor::ProjectCleared, preview_, &TPreviewPane::Forget);
    // A new or opened project starts with a clear log and status: the last build was another's.
    connect(&editor_, &TPackerEditor::ProjectCleared, this, [this] {
        log_->clear();
        projectStatus_->clear();
        buildStatus_->clear();
    });
    transparentBox_ = new QCheckBox(QStringLiteral("Transparent"));
    transparentBox_->setObjectName(QStringLiteral("cbTransparent"));
    connect(transparentBox_, &QCheckBox::toggled, this, [](bool on) { SetTransparentPet(on); });
    connect(&SettingsSignals(), &TSettingsSignals::TransparentPetChanged, this, [this](bool on) {
        transparentBox_->setChecked(on);
        preview_->SetTransparent(on);
    });
    auto* previewBar = new QToolBar;
    previewBar->addWidget(transparentBox_);
    return Pane(QStringLiteral("Preview"), previewBar, preview_);
}

void TFrmPacker::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Another Zuvora may have changed it since.
    const bool transparent = TransparentPet();
    transparentBox_->setChecked(transparent);
    preview_->SetTransparent(transparent);
    if (!shown_) {
        shown_ = true;
        frameList_->SetStartingColumnWidths();
    }
}

void TFrmPacker::closeEvent(QCloseEvent* event)
{
    // Closing empties the project; the person may still keep it by cancelling.
    if (editor_.CloseQuery())
        event->accept();
    else
        event->ignore();
}

void TFrmPacker::OnNewActionClicked()
{
    // The new action is selected, ready to be named.
    editor_.NewAction();
    OnRenameActionClicked();
}

void TFrmPacker::OnRenameActionClicked()
{
    const QModelIndex current = editor_.ActionSelection().currentIndex();
    if (current.isValid())
        actionTree_->edit(current);
}

void TFrmPacker::MoveAction(void (TPackerEditor::*step)())
{
    actionTree_->CancelEdit();
    (editor_.*step)();
}

void TFrmPacker::OnClearFramesClicked()
{
    editor_.Edit(QStringLiteral("Clear Frames"), [this] { editor_.Frames().Clear(); });
}

void TFrmPacker::OnImportSpriteSheetClicked()
{
    const QString path = editor_.ChooseSpriteSheet();
    if (path.isEmpty())
        return;
    const std::optional<TSheetImage> sheet = editor_.LoadSpriteSheet(path);
    if (!sheet)
        return;
    TSheetGridDialog dialog(*sheet, path, this);
    // Over the packer only: pets go on taking the mouse meanwhile.
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() == QDialog::Accepted)
        editor_.ImportSpriteSheet(*sheet, path, dialog.Grid());
}

void TFrmPacker::OnClearAudioClicked()
{
    editor_.Edit(QStringLiteral("Clear Audio"), [this] { editor_.Audio().Clear(); });
}

void TFrmPacker::Build(bool ask)
{
    if (editor_.IsBuilding())
        return;
    const QString chosen = editor_.ChoosePackageFile(ask);
    if (chosen.isEmpty())
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    buildItem_->setEnabled(false);
    buildAsItem_->setEnabled(false);
    const auto restore = qScopeGuard([this] {
        QGuiApplication::restoreOverrideCursor();
        buildItem_->setEnabled(true);
        buildAsItem_->setEnabled(true);
    });
    log_->clear();
    // Composing keeps the event loop waiting, so progress is painted at once.
    const auto status = [this](const QString& first, const QString& second) {
        projectStatus_->setText(first);
        buildStatus_->setText(second);
        statusBar()->repaint();
    };
    TBuildHooks hooks;
    hooks.Memo = [this](const QString& line) { log_->appendPlainText(line); };
    hooks.FramesComposed = [status, shown = QElapsedTimer()](int done, int total) mutable {
        if (shown.isValid() && shown.elapsed() < 50 && done < total)
            return;
        shown.start();
        status(QStringLiteral("Frame %1 of %2").arg(done).arg(total), QString());
    };
    hooks.Zipping = [status, chosen] { status(QStringLiteral("Packing"), WithPackageExtension(chosen)); };
    hooks.ProcessMessages = [] { QCoreApplication::processEvents(); };
    hooks.Play = [this](const QString& package) { emit PlayPackage(package); };
    // The outcome stays in sight after the build's box is closed.
    hooks.Done = [status, chosen](bool built) {
        status(built ? QStringLiteral("Built") : QStringLiteral("Not built"), WithPackageExtension(chosen));
    };
    editor_.BuildPackage(chosen, hooks);
}

void TFrmPacker::OnOpenFrameFolderClicked() { editor_.OpenContainingFolder(frameList_->SelectedRow()); }

void TFrmPacker::OnAboutClicked() { ShowAbout(prompts_); }
