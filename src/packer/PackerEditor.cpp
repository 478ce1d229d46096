#include "packer/PackerEditor.h"

#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/PathList.h"
#include "common/Paths.h"
#include "common/Prompts.h"
#include "packer/EditStep.h"
#include "packer/ProjectDelta.h"
#include "packer/ProjectFile.h"
#include "packer/RecentProjects.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <new>
#include <utility>

TPackerEditor::TPackerEditor(Prompts& prompts, QObject* parent) : QObject(parent), prompts_(prompts)
{
    // A name typed into the action list is an edit of its own.
    connect(&actions_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& index) {
        if (editing_ == 0 && !restoring_)
            Record(QStringLiteral("Rename Action"), index.row());
    });
    connect(&selection_, &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { ActionChanged(current); });
    // However an action goes, the lists are never written into it afterwards.
    connect(&actions_, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        const int shown = actions_.RowOf(shown_);
        if (shown >= first && shown <= last)
            shown_ = nullptr;
    });
    connect(&actions_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { shown_ = nullptr; });
}

int TPackerEditor::SelectedAction() const
{
    const QModelIndex current = selection_.currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TPackerEditor::SelectAction(int row)
{
    const QModelIndex index = actions_.index(row);
    selection_.setCurrentIndex(index, index.isValid() ? QItemSelectionModel::ClearAndSelect
                                                      : QItemSelectionModel::Clear);
}

void TPackerEditor::ActionChanged(const QModelIndex& current)
{
    if (suppressSelection_)
        return;
    // The lists belong to the action they were filled from, whatever node the change names.
    StoreLists(shown_);
    ClearLists();
    TActionNode* node = actions_.Node(current.isValid() ? current.row() : -1);
    if (node != nullptr && node->Record) {
        frames_.AppendFiles(Split(node->Record->FramePaths, u';'));
        audio_.AppendFiles(Split(node->Record->AudioPaths, u';'));
    }
    shown_ = node;
    emit MotionShown(ShownMotion());
}

TMotion TPackerEditor::ShownMotion() const { return shown_ != nullptr && shown_->Record ? shown_->Record->Motion : TMotion{}; }

void TPackerEditor::SetMotion(const TMotion& motion)
{
    TActionNode* node = actions_.Node(SelectedAction());
    if (node == nullptr || ShownMotion() == motion)
        return;
    Edit(QStringLiteral("Change Motion"), [&] { node->EnsureRecord().Motion = motion; });
}

bool TPackerEditor::IsModified() const { return CurrentProject() != saved_; }

TPackerEditor::TState TPackerEditor::State() const { return {CurrentProject(), SelectedAction()}; }

void TPackerEditor::Edit(const QString& name, const std::function<void()>& change)
{
    const int selected = SelectedAction();
    ++editing_;
    const auto done = qScopeGuard([this] { --editing_; });
    change();
    if (editing_ == 1)
        Record(name, selected);
}

void TPackerEditor::Record(const QString& name, int selectedBefore)
{
    TState now = State();
    if (now.Actions == committed_.Actions) {
        committed_.Selected = now.Selected;
        return;
    }
    auto* step = new TEditStep(*this, name, TProjectDelta::Between(committed_.Actions, now.Actions), selectedBefore,
                               now.Selected);
    committed_ = std::move(now);
    history_.push(step);
    emit ProjectChanged();
}

void TPackerEditor::Restore(const QList<TProjectAction>& actions, int selected)
{
    restoring_ = true;
    shown_ = nullptr;
    suppressSelection_ = true;
    actions_.Clear();
    std::vector<std::unique_ptr<TActionNode>> nodes;
    for (const TProjectAction& action : actions) {
        auto node = std::make_unique<TActionNode>();
        node->Name = action.Name;
        node->Record = std::make_unique<TActionData>(
            TActionData{JoinPaths(action.Frames), JoinPaths(action.Audio), action.Motion});
        nodes.push_back(std::move(node));
    }
    actions_.Append(std::move(nodes));
    suppressSelection_ = false;
    ClearLists();
    SelectAction(selected);
    committed_ = {actions, SelectedAction()};
    restoring_ = false;
    emit ProjectChanged();
}

void TPackerEditor::ResetHistory()
{
    history_.clear();
    committed_ = State();
    emit ProjectChanged();
}

void TPackerEditor::NewAction()
{
    Edit(QStringLiteral("New Action"), [this] {
        actions_.Append(QStringLiteral("New Action") + QString::number(actions_.Count() + 1));
        SelectAction(actions_.Count() - 1);
    });
    SetFileCommandsEnabled(true);
}

void TPackerEditor::DeleteAction()
{
    Edit(QStringLiteral("Delete Action"), [this] { DeleteSelectedAction(); });
}

void TPackerEditor::DeleteSelectedAction()
{
    const int row = SelectedAction();
    if (row < 0)
        return;
    // The deleted action's lists go with it; the selection model moves the current row to
    // a neighbour, whose lists are then shown.
    shown_ = nullptr;
    actions_.Remove(row);
    if (selection_.currentIndex().isValid())
        selection_.select(selection_.currentIndex(), QItemSelectionModel::ClearAndSelect);
    else
        ClearLists();
}

void TPackerEditor::MoveAction(int offset)
{
    Edit(QStringLiteral("Move Action"), [this, offset] { SwapAction(offset); });
}

void TPackerEditor::SwapAction(int offset)
{
    const int row = SelectedAction();
    TActionNode* moved = actions_.Node(row);
    TActionNode* neighbour = actions_.Node(row + offset);
    if (moved == nullptr || neighbour == nullptr)
        return;
    // Nodes stay in place; names and records change places, and the selection follows.
    StoreLists(moved);
    std::swap(moved->Name, neighbour->Name);
    std::swap(moved->Record, neighbour->Record);
    shown_ = nullptr;
    actions_.NameChanged(row);
    actions_.NameChanged(row + offset);
    SelectAction(row + offset);
}

void TPackerEditor::DropAction(int target)
{
    Edit(QStringLiteral("Move Action"), [this, target] {
        const int row = SelectedAction();
        if (row >= 0)
            actions_.MoveBefore(row, target);
    });
}

QStringList TPackerEditor::Listable(const QStringList& nativePaths)
{
    QStringList listable;
    QStringList refused;
    for (const QString& path : nativePaths)
        (IsStorablePath(path) ? listable : refused).append(path);
    if (!refused.isEmpty())
        prompts_.Error(QStringLiteral("These files were left out, as the path of each %1.\n").arg(kUnstorablePath) + refused.join(u'\n'));
    return listable;
}

void TPackerEditor::AddFiles(List list)
{
    if (actions_.Count() == 0) {
        prompts_.Error(QStringLiteral("There must be one action!"));
        return;
    }
    const QStringList files = Listable(prompts_.OpenFiles(list == List::Frames ? kFrameFilter : kAudioFilter));
    AppendToList(list, files);
}

void TPackerEditor::AppendToList(List list, const QStringList& files)
{
    Edit(list == List::Frames ? QStringLiteral("Add Frames") : QStringLiteral("Add Audio"), [&] {
        if (list == List::Frames)
            AppendFrames(files);
        else
            audio_.AppendFiles(files);
    });
}

void TPackerEditor::DropFiles(List list, const QStringList& nativePaths)
{
    static const QStringList kImageExtensions = ImageExtensions(TImageUse::List);
    static const QStringList kAudioExtensions{QStringLiteral(".mp3"), QStringLiteral(".wav"), QStringLiteral(".aac"),
                                              QStringLiteral(".ogg")};
    const QStringList& accepted = list == List::Frames ? kImageExtensions : kAudioExtensions;
    QStringList files;
    for (const QString& path : nativePaths) {
        if (accepted.contains(ExtractFileExt(path).toLower()))
            files.append(path);
    }
    AppendToList(list, Listable(files));
}

void TPackerEditor::AppendFrames(const QStringList& nativePaths)
{
    if (importing_)
        return;
    QStringList listed;
    bool canImport = true;
    for (const QString& path : nativePaths) {
        if (!IsImportedImage(path)) {
            listed.append(path);
            continue;
        }
        // Without a file for the frames to go beside, animations are left out; asked once.
        canImport = canImport && EnsureProjectFile(path);
        if (!canImport)
            continue;
        frames_.AppendFiles(std::exchange(listed, {}));
        const QString project = projectFileName_;
        const int room = FrameRoom();
        // An action that has neither frames nor a frame time takes the one the animation's
        // delays give; any other keeps its own, so that its frames play as they did.
        const TMotion motion = ShownMotion();
        const bool choose = shown_ != nullptr && frames_.rowCount() == 0 && !motion.Interval;
        const std::optional<int> frameMs = choose ? std::nullopt : std::optional<int>(motion.FrameMs());
        TImportedAnimation animation;
        const TImportOutcome outcome = RunImport(
            QStringLiteral("Importing the frames of %1").arg(QFileInfo(path).fileName()),
            path + QStringLiteral(": there is not enough memory to import its frames"),
            [&](const TImportProgress& progress) { animation = ImportAnimation(path, project, room, progress, frameMs); });
        // Cancel stops the whole command: the files after this one are left out too.
        if (outcome == TImportOutcome::Cancelled)
            return;
        if (outcome == TImportOutcome::Done && choose && shown_ != nullptr && animation.FrameMs != kFrameMs) {
            // Within the edit that adds the frames: one undo takes both back.
            shown_->EnsureRecord().Motion.Interval = animation.FrameMs;
            emit MotionShown(ShownMotion());
        }
        frames_.AppendFiles(animation.Entries);
    }
    frames_.AppendFiles(listed);
}

TPackerEditor::TImportOutcome TPackerEditor::RunImport(const QString& what, const QString& outOfMemory,
                                                       const std::function<void(const TImportProgress&)>& work)
{
    importing_ = true;
    const auto done = qScopeGuard([this] { importing_ = false; });
    try {
        if (importRunner_)
            importRunner_(what, work);
        else
            work(TImportProgress{});
        return TImportOutcome::Done;
    } catch (const TImportCancelled&) {
        return TImportOutcome::Cancelled;
    } catch (const TError& error) {
        prompts_.Error(error.Text());
    } catch (const std::bad_alloc&) {
        prompts_.Error(outOfMemory);
    }
    return TImportOutcome::Failed;
}

bool TPackerEditor::EnsureProjectFile(const QString& source)
{
    if (!projectFileName_.isEmpty())
        return true;
    return prompts_.Confirm(kPackerTitle, QStringLiteral("The frames of %1 are written into a folder beside the project "
                                                      "file. Save the project first?")
                                           .arg(QFileInfo(source).fileName())) &&
           FileSave();
}

QString TPackerEditor::ChooseSpriteSheet()
{
    if (importing_)
        return {};
    if (actions_.Count() == 0) {
        prompts_.Error(QStringLiteral("There must be one action!"));
        return {};
    }
    const QString path = prompts_.OpenFile(kSpriteSheetFilter);
    return !path.isEmpty() && EnsureProjectFile(path) ? path : QString();
}

std::optional<TSheetImage> TPackerEditor::LoadSpriteSheet(const QString& path)
{
    std::optional<TSheetImage> sheet;
    const auto work = [&](const TImportProgress& progress) { sheet = LoadSheetImage(path, progress); };
    if (importing_ || RunImport(QStringLiteral("Reading %1").arg(QFileInfo(path).fileName()),
                                path + QStringLiteral(": there is not enough memory to open it"), work) != TImportOutcome::Done)
        return std::nullopt;
    return sheet;
}

bool TPackerEditor::ImportSpriteSheet(const TSheetImage& sheet, const QString& path, const TSheetGrid& grid)
{
    if (importing_)
        return false;
    const QString project = projectFileName_;
    const int room = FrameRoom();
    QStringList frames;
    const auto work = [&](const TImportProgress& progress) {
        frames = ::ImportSpriteSheet(sheet, path, project, grid, room, progress);
    };
    if (RunImport(QStringLiteral("Writing the frames of %1").arg(QFileInfo(path).fileName()),
                  path + QStringLiteral(": there is not enough memory to import its frames"), work) != TImportOutcome::Done)
        return false;
    Edit(QStringLiteral("Import Sprite Sheet"), [&] { frames_.AppendFiles(frames); });
    return true;
}

void TPackerEditor::OpenContainingFolder(int frameRow)
{
    if (frameRow < 0 || frameRow >= frames_.rowCount())
        return;
    const QString path = frames_.Rows()[frameRow].Path;
    if (!QFileInfo(path).isFile()) {
        prompts_.Error(path + QStringLiteral(" does not exist!"));
        return;
    }
    prompts_.ShowInFolder(path);
}

void TPackerEditor::StoreLists(TActionNode* action)
{
    if (action == nullptr)
        return;
    TActionData& record = action->EnsureRecord();
    record.FramePaths = JoinPaths(frames_.Paths());
    record.AudioPaths = JoinPaths(audio_.Paths());
}

void TPackerEditor::ClearLists()
{
    frames_.Clear();
    audio_.Clear();
}

int TPackerEditor::FrameRoom() const
{
    qsizetype frames = 0;
    for (const TProjectAction& action : CurrentProject())
        frames += action.Frames.size();
    return static_cast<int>(std::max<qsizetype>(0, kMaxPackageFrames - frames));
}

QList<TProjectAction> TPackerEditor::CurrentProject() const
{
    QList<TProjectAction> project = actions_.Read();
    const int selected = SelectedAction();
    if (selected >= 0 && selected < project.size()) {
        project[selected].Frames = Split(JoinPaths(frames_.Paths()), u';');
        project[selected].Audio = Split(JoinPaths(audio_.Paths()), u';');
    }
    return project;
}
