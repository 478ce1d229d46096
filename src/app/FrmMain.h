#pragma once

#include "app/LibraryEditor.h"

#include <QMainWindow>
#include <QTimer>

class PlayerHost;
class Prompts;
class TFileListView;
class QAction;
class QMenu;
class QPlainTextEdit;
class QToolBar;

// The library window: the user's packages in the user's order, kept in the library file
// between runs, and the doors to the player and the packer.
class TFrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `libraryFile` is the native path of the library file, read at the first show and
    // written at close.
    TFrmMain(Prompts& prompts, QString libraryFile, QWidget* parent = nullptr);

    void SetPlayer(PlayerHost* player) { player_ = player; }
    void SetPacker(QWidget* packer) { packer_ = packer; }

    const TLibraryModel& Library() const { return editor_.Model(); }

    // Packages given to the program: appended as "Add" appends them, each played as a pet
    // of its own beside those playing.
    void OpenPackages(const QStringList& nativePaths);
    // Appends the packages whose paths the library file can keep; names the others.
    void AppendPackages(const QStringList& nativePaths);
    // A package just built: added unless the same path is listed already, then played.
    void PlayPackage(const QString& nativePath);
    int SelectedRow() const;
    void SelectRow(int row);
    // Reads the library file, once; the first show does it for a window shown at once.
    void EnsureLoaded();
    // Writes or removes the desktop session's entry that starts Zuvora with its pets.
    void SetStartWithDesktop(bool on);
    QAction* StartWithDesktopItem() const { return startWithDesktop_; }

    // How long "Play" waits between closing the player and showing it again.
    static constexpr int kPlayDelayMs = 180;

signals:
    // The close went through: the library is saved and the pets are gone.
    void Closed();

public slots:
    void OnAddClicked();
    void OnDeleteClicked();
    void OnMoveUpClicked();
    void OnMoveDownClicked();
    void OnClearClicked();
    void OnPlayClicked();
    void OnPlayAlongsideClicked();
    void OnPackerClicked();
    void OnAboutClicked();
    void OnOpenFolderClicked();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCloseQuery();
    void BuildToolBar();
    // The list with its keys and its pop-up menu.
    void BuildList();
    // The selected row's path when that file exists; otherwise reports it and returns empty.
    QString SelectedExistingPath();

    Prompts& prompts_;
    TLibraryEditor editor_;
    PlayerHost* player_ = nullptr;
    QWidget* packer_ = nullptr;
    bool loaded_ = false;

    QToolBar* toolBar_ = nullptr;
    TFileListView* packageList_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QMenu* listMenu_ = nullptr;
    QAction* startWithDesktop_ = nullptr;
    QAction* holdStill_ = nullptr;
    QAction* aboveFullscreen_ = nullptr;
    QTimer playTimer_;
    QString pendingPlayPath_;
};
