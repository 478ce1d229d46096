#pragma once

#include "common/FileListModel.h"
#include "image/ImageFormat.h"
#include "packer/ActionModel.h"
#include "packer/FrameImport.h"
#include "packer/PackageBuild.h"

#include <QItemSelectionModel>
#include <QObject>
#include <QUndoStack>

#include <functional>
#include <optional>

class Prompts;

// The packer's project and every rule of editing it, without widgets: the action list with
// its selection, the two working lists of the shown action, and the project-file commands.
// The packer window shows these models and forwards its commands here.
//
// Only the shown action's lists are in the working lists. They are written back into its
// record when the selection moves, and into the selected action's record before a save or
// a build; rows added while no action is shown belong to no action.
class TPackerEditor : public QObject {
    Q_OBJECT
public:
    enum class List { Frames, Audio };

    explicit TPackerEditor(Prompts& prompts, QObject* parent = nullptr);

    TActionModel& Actions() { return actions_; }
    const TActionModel& Actions() const { return actions_; }
    QItemSelectionModel& ActionSelection() { return selection_; }
    TFileListModel& Frames() { return frames_; }
    const TFileListModel& Frames() const { return frames_; }
    TFileListModel& Audio() { return audio_; }
    TFileListModel& WorkingList(List list) { return list == List::Frames ? frames_ : audio_; }

    // The selected action's row; -1 for none.
    int SelectedAction() const;
    // Selects the action as a click would; the selection-change steps run.
    void SelectAction(int row);
    const TActionNode* ShownAction() const { return shown_; }
    const QString& ProjectFileName() const { return projectFileName_; }
    // "Save", "Save As" and "Close": off after Close until New, Open or New Action.
    bool FileCommandsEnabled() const { return fileCommandsEnabled_; }
    // Whether the project differs from what its file holds; a new project is compared
    // with an empty one.
    bool IsModified() const;

    // Every edit of the project, to undo and redo in order. Opening, starting or closing a
    // project starts it afresh; saving marks its clean step.
    QUndoStack& History() { return history_; }
    // Makes one step of history of whatever `change` does to the project, named `name`
    // ("Undo NAME"); nothing when the project stays as it was.
    void Edit(const QString& name, const std::function<void()>& change);

    // How the shown action moves a roaming pet; nothing set when no action is shown.
    TMotion ShownMotion() const;
    // Sets how the selected action moves, as one step of history.
    void SetMotion(const TMotion& motion);

    void NewAction();
    void DeleteAction();
    void MoveActionUp() { MoveAction(-1); }
    void MoveActionDown() { MoveAction(+1); }
    // Moves the selected action to stand directly before the one at `target`.
    void DropAction(int target);

    // Appends the files chosen in the list's dialog; needs at least one action.
    void AddFiles(List list);
    // Appends the dropped files of the list's types; others are skipped silently.
    void DropFiles(List list, const QStringList& nativePaths);
    // Frames: an animation (GIF, APNG, WebP) is imported into frame files beside the project
    // file, which is saved first when it has no file yet (declined, animations are left
    // out); other images are listed as they are. The animation's frames are repeated at the
    // shown action's frame time; one with neither frames nor a frame time takes the one the
    // animation's delays give.
    void AppendFrames(const QStringList& nativePaths);

    // The first steps of "Import Sprite Sheet": the image chosen in the dialog, with an action
    // to take the frames and a project file to keep them beside. Empty when cancelled.
    QString ChooseSpriteSheet();
    // The chosen sheet, read; nothing when that failed (reported) or was cancelled.
    std::optional<TSheetImage> LoadSpriteSheet(const QString& path);
    // Appends the sheet's cells as frames of the shown action; false when that failed
    // (reported) or was cancelled.
    bool ImportSpriteSheet(const TSheetImage& sheet, const QString& path, const TSheetGrid& grid);

    // Runs the long part of an import, `work`, handing it what reports progress and asks
    // whether to stop; returns once that is over and raises what it raised. `what` names it
    // for the person. Without one the work runs right here; the packer window hands one
    // that runs it on a thread of its own behind a progress bar with a Cancel button.
    using TImportRunner =
        std::function<void(const QString& what, const std::function<void(const TImportProgress&)>& work)>;
    void SetImportRunner(TImportRunner runner) { importRunner_ = std::move(runner); }
    bool IsImporting() const { return importing_; }
    void OpenContainingFolder(int frameRow);

    // Writes the working lists into the action's record (nothing for null).
    void StoreLists(TActionNode* action);
    void ClearLists();

    // The "File" menu. Each command that would drop changes not yet saved asks first;
    // the ones returning bool say whether they went through.
    void FileNew();
    void FileOpen();
    // Opens that project file as "Open" would, without the dialog.
    void OpenProject(const QString& path);
    // Opens a project of the recent list; one that is gone is said and dropped from it.
    void OpenRecent(const QString& path);
    bool FileSave();
    bool FileSaveAs();
    bool FileClose();
    // Whether the window may close: runs Close when it is enabled.
    bool CloseQuery();

    // Where to build: where the project was last built, without a question, unless `ask`
    // or it never was; else the package save dialog (empty when cancelled), which offers
    // the last place, or NAME.zvk beside the project.
    QString ChoosePackageFile(bool ask = false);
    // Where the project was last built; empty when it never was.
    const QString& BuiltTo() const { return builtTo_; }
    // Builds the project, the shown lists' latest edits included, into the package for the
    // chosen name. False when it failed (reported) or another build is running.
    bool BuildPackage(const QString& chosenName, const TBuildHooks& hooks);
    bool IsBuilding() const { return building_; }

signals:
    void FileCommandsEnabledChanged(bool enabled);
    // The project was emptied, before New, Open or Close went on.
    void ProjectCleared();
    // The project changed: an edit, an undo or redo, a save, an open.
    void ProjectChanged();
    // The project was written to its file; `message` says so.
    void Saved(const QString& message);
    // Another action is shown (none: nothing set), or the shown one's motion came back.
    void MotionShown(const TMotion& motion);

private:
    friend class TEditStep;
    struct TState {
        QList<TProjectAction> Actions;
        int Selected = -1;
    };
    TState State() const;
    // After an edit: the step it made, if any.
    void Record(const QString& name, int selectedBefore);
    // Puts the project as it was before or after a step.
    void Restore(const QList<TProjectAction>& actions, int selected);
    // A new history starting from the project as it is.
    void ResetHistory();
    void ActionChanged(const QModelIndex& current);
    void MoveAction(int offset);
    void SwapAction(int offset);
    void DeleteSelectedAction();
    void AppendToList(List list, const QStringList& files);
    void ClearProject();
    void LoadFrom(const QString& path);
    bool SaveTo(const QString& path);
    bool ConfirmDiscard();
    // Where the project was last built: kept for its file, read back with it.
    void RememberBuild(const QString& package);
    void RecallBuild();
    // Whether the project has a file to keep imported frames beside, saving it first if the
    // person agrees.
    bool EnsureProjectFile(const QString& source);
    enum class TImportOutcome { Done, Failed, Cancelled };
    // Runs an import through the runner; a failure is reported, `outOfMemory` when memory
    // ran out.
    TImportOutcome RunImport(const QString& what, const QString& outOfMemory,
                             const std::function<void(const TImportProgress&)>& work);
    // The project as a save would write it now.
    QList<TProjectAction> CurrentProject() const;
    // How many frames an import may still add before the project holds all it may.
    int FrameRoom() const;
    void SetFileCommandsEnabled(bool enabled);
    // What the save dialogs offer: the project's name with that extension, beside it.
    QString SuggestedFile(const QString& extension) const;
    // The paths a list can hold; the others are named in one error box.
    QStringList Listable(const QStringList& nativePaths);

    Prompts& prompts_;
    TActionModel actions_;
    QItemSelectionModel selection_{&actions_};
    TFileListModel frames_{QStringLiteral("Fragment")};
    TFileListModel audio_{QStringLiteral("Audio")};
    TActionNode* shown_ = nullptr;
    // Set while the project is emptied, so that nothing is written into dying actions.
    bool suppressSelection_ = false;
    QString projectFileName_;
    QString builtTo_;  // kept in settings per project file, and for an unsaved one until it closes
    bool fileCommandsEnabled_ = true;
    // What the project file holds, to tell whether closing would lose work.
    QList<TProjectAction> saved_;
    bool building_ = false;
    TImportRunner importRunner_;
    bool importing_ = false;
    QUndoStack history_;
    TState committed_;      // the project as the last step left it
    bool restoring_ = false;
    int editing_ = 0;        // inside Edit
};

inline const QString kFrameFilter = ImageFilter(QStringLiteral("Fragment"), TImageUse::List);
inline const QString kSpriteSheetFilter = ImageFilter(QStringLiteral("Sprite Sheet"), TImageUse::Sheet);
inline const QString kAudioFilter = QStringLiteral("Audio (*.mp3;*.wav;*.aac;*.ogg)|*.mp3;*.wav;*.aac;*.ogg");
