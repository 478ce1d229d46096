#pragma once

#include "packer/PackerEditor.h"

#include <QMainWindow>

class Prompts;
class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class TFileListModel;
class QPlainTextEdit;
class TActionTree;
class TFileListView;
class TMotionPane;
class TPreviewPane;

// The packer window: a pet's actions on the left, the frames of the shown action on the
// right, the build's log below. A view over TPackerEditor, which holds every rule.
class TFrmPacker : public QMainWindow {
    Q_OBJECT
public:
    explicit TFrmPacker(Prompts& prompts, QWidget* parent = nullptr);

    TPackerEditor& Editor() { return editor_; }
    QPlainTextEdit* Log() const { return log_; }
    TPreviewPane* Preview() const { return preview_; }
    QCheckBox* TransparentBox() const { return transparentBox_; }

    // How long "... has been saved" stays in the status bar.
    static constexpr int kSavedMessageMs = 5000;

signals:
    // "Play" in the box of a build that went through.
    void PlayPackage(const QString& path);

public slots:
    // Actions: tool bar and the tree's pop-up menu.
    void OnNewActionClicked();
    void OnRenameActionClicked();
    void OnDeleteActionClicked() { editor_.DeleteAction(); }
    void OnMoveActionUpClicked() { MoveAction(&TPackerEditor::MoveActionUp); }
    void OnMoveActionDownClicked() { MoveAction(&TPackerEditor::MoveActionDown); }
    // Frames: tool bar and the list's pop-up menu.
    void OnAddFramesClicked() { editor_.AddFiles(TPackerEditor::List::Frames); }
    void OnDeleteFramesClicked() { EditList(frameList_, QStringLiteral("Delete Frames"), &TFileListModel::Delete); }
    void OnMoveFramesUpClicked() { EditList(frameList_, QStringLiteral("Move Frames"), &TFileListModel::MoveUp); }
    void OnMoveFramesDownClicked() { EditList(frameList_, QStringLiteral("Move Frames"), &TFileListModel::MoveDown); }
    void OnClearFramesClicked();
    void OnImportSpriteSheetClicked();
    void OnOpenFrameFolderClicked();
    // The hidden audio panel's tool bar.
    void OnAddAudioClicked() { editor_.AddFiles(TPackerEditor::List::Audio); }
    void OnDeleteAudioClicked() { EditList(audioList_, QStringLiteral("Delete Audio"), &TFileListModel::Delete); }
    void OnMoveAudioUpClicked() { EditList(audioList_, QStringLiteral("Move Audio"), &TFileListModel::MoveUp); }
    void OnMoveAudioDownClicked() { EditList(audioList_, QStringLiteral("Move Audio"), &TFileListModel::MoveDown); }
    void OnClearAudioClicked();
    // Menus.
    void OnNewClicked() { editor_.FileNew(); }
    void OnOpenClicked() { editor_.FileOpen(); }
    void OnSaveClicked() { editor_.FileSave(); }
    void OnSaveAsClicked() { editor_.FileSaveAs(); }
    void OnCloseClicked() { editor_.FileClose(); }
    void OnExitClicked() { close(); }
    // Builds where the project was last built, asking only the first time; Build As asks.
    void OnBuildClicked() { Build(false); }
    void OnBuildAsClicked() { Build(true); }
    void OnAboutClicked();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void Build(bool ask);
    QWidget* ActionPane();
    QWidget* FramePane();
    QWidget* AudioPane();
    QWidget* PreviewPane();
    void MoveAction(void (TPackerEditor::*step)());
    QMenu* EditMenu();
    // The recent projects, filled each time the menu opens.
    void FillRecentMenu(QMenu* menu);
    // Delete, Alt+Up and Alt+Down act on the list that has the focus.
    void DeleteSelected();
    void MoveSelected(int offset);
    // A list edit of the shown action, as one step of history.
    void EditList(TFileListView* list, const QString& name, int (TFileListModel::*edit)(int));
    // "NAME.zvp – Zuvo Packer", marked while the project differs from its file.
    void ShowTitle();

    Prompts& prompts_;
    TPackerEditor editor_;
    bool shown_ = false;

    QAction* saveItem_ = nullptr;
    QAction* saveAsItem_ = nullptr;
    QAction* closeItem_ = nullptr;
    QAction* buildItem_ = nullptr;
    QAction* buildAsItem_ = nullptr;
    QLabel* projectStatus_ = nullptr;
    QLabel* buildStatus_ = nullptr;
    TActionTree* actionTree_ = nullptr;
    TFileListView* frameList_ = nullptr;  // frames
    TFileListView* audioList_ = nullptr;  // audio
    QPlainTextEdit* log_ = nullptr;
    TPreviewPane* preview_ = nullptr;
    TMotionPane* motion_ = nullptr;
    QCheckBox* transparentBox_ = nullptr;
};
