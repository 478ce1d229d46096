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
    QPlainTextEdit* DebugMemo() const { return memo_; }
    TPreviewPane* Preview() const { return preview_; }
    QCheckBox* TransparentBox() const { return cbTransparent_; }

signals:
    // "Play" in the box of a build that went through.
    void PlayPackage(const QString& path);

public slots:
    // Actions: tool bar and the tree's pop-up menu.
    void NewAction1Click();
    void RenameAction1Click();
    void DeleteAction1Click();
    void btn20Click();  // Up
    void btn24Click();  // Down
    // Fragments: tool bar and the list's pop-up menu.
    void AddFragmentClick();
    void DeleteFragmentClick();
    void btn26Click();  // Up
    void btn27Click();  // Down
    void btn3Click();   // Clear
    void ImportSpriteSheetClick();
    void OpenContainingFolder1Click();
    // The hidden audio panel's tool bar.
    void btn7Click();   // Add
    void btn11Click();  // Delete
    void btn29Click();  // Up
    void btn30Click();  // Down
    void btn10Click();  // Clear
    // Menus.
    void New1Click();
    void miFileOpenClick();
    void miFileSaveClick();
    void miFileSaveAsClick();
    void miFileCloseClick();
    void miFileExitClick();
    void miBuildClick();
    void miHelpAboutClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    QWidget* ActionPane();
    QWidget* FragmentPane();
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
    // The editor's import runner: the work runs on a thread of its own while the window
    // keeps drawing; after a moment a progress bar with Cancel comes up over the window.
    void RunImport(const QString& what, const std::function<void(const TImportProgress&)>& work);

    Prompts& prompts_;
    TPackerEditor editor_;
    bool shown_ = false;

    QAction* miFileSave_ = nullptr;
    QAction* miFileSaveAs_ = nullptr;
    QAction* miFileClose_ = nullptr;
    QAction* miBuild_ = nullptr;
    QLabel* pnlStatus1_ = nullptr;
    QLabel* pnlStatus2_ = nullptr;
    TActionTree* tv1_ = nullptr;
    TFileListView* lv1_ = nullptr;  // fragments
    TFileListView* lv2_ = nullptr;  // audio
    QPlainTextEdit* memo_ = nullptr;
    TPreviewPane* preview_ = nullptr;
    TMotionPane* motion_ = nullptr;
    QCheckBox* cbTransparent_ = nullptr;
};
