#pragma once

#include "player/FrameHandOff.h"
#include "player/PackageShelf.h"
#include "player/PetMemory.h"
#include "player/PetSound.h"
#include "player/PlaybackEngine.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class Prompts;
class QAction;
class QMenu;

// The pet on the desktop: a borderless, always-on-top window exactly as large as the current
// frame, moved by dragging anywhere in it and controlled through its pop-up menu. Every show
// loads the package and starts playback; every close stops it and frees the package.
class TFrmPlay : public QWidget {
    Q_OBJECT
public:
    explicit TFrmPlay(Prompts& prompts);
    ~TFrmPlay() override;

    // Restores a minimized pet to its normal state and closes it, stopping playback.
    void RestoreAndClose();
    // The package the next show plays.
    void SetPackagePath(const QString& path) { packagePath_ = path; }
    const QString& PackagePath() const { return packagePath_; }
    // Loads the package on the shelf's thread; the window shows with the first frame.
    void ShowPlayer();
    // Between a show and its close, whether seen or not, loading or playing.
    bool Playing() const { return loaded_; }
    // The first show of a closed pet starts its show sequence; until the first frame a show
    // is only kept for it.
    void setVisible(bool visible) override;

    // What the playback thread draws through. The new size is applied, width then height,
    // on the UI thread right before the frame it belongs to.
    FrameTarget& Target() { return handOff_; }

    // The frame request on the UI thread: draws the sheet's rectangle named by the four
    // ten-digit fields of `text` (Left, Top, Width, Height).
    void FrameRequestHandler(std::string_view text);

    QMenu* PopupMenu() const { return pm1_; }
    const QString& CacheFolder() const { return cacheFolder_; }
    // The package this pet plays; none when closed.
    const TLoadedPackage* Package() const { return package_.get(); }
    bool HasSheet() const { return package_ && package_->Sheet; }
    TPlaybackState& State() { return state_; }
    QRect CurrentFrame() const { return frame_; }
    QAction* TransparentItem() const { return Transparent_; }
    // Frames are shown this many times their size (1 to 4).
    int Scale() const { return scale_; }
    // The pet as Zuvora keeps it at its close, and the same given back to a shown pet.
    TPetRecord Record() const;
    void Resume(const TPetRecord& record);
    bool PlaybackStarted() const { return engine_ != nullptr; }

    static constexpr QPoint kFirstPosition{412, 207};
    static constexpr QSize kFirstSize{553, 335};

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void BuildMenu();
    void FormShow();
    // The shelf's answer: the pet plays, or goes saying why.
    void PackageReady(const std::shared_ptr<const TLoadedPackage>& package);
    void FormCloseQuery();
    void BuildActionMenu();
    // Items for the actions [first, end) at the end of `menu`.
    void AddActionItems(QMenu* menu, int first, int end);
    void tmr1Timer();
    void play1Click();
    void N11Click();
    void Repeat1Click();
    void SingleRepeat1Click();
    void Random1Click();
    void PlayModeClick(QAction* item, std::int32_t mode);
    void ActionItemClick(QAction* item);
    void SoundClick();
    void SizeClick(int scale);
    // The first audio file of the action, when Sound is on.
    void PlayActionSound(int action);
    void TransparentClick();
    // Leaves the sheet's see-through pixels of the current frame out of the window, or
    // gives the window back its whole rectangle.
    void ApplyShape();
    // A frame request from the playback thread, on the UI thread.
    void ServeFrame(int width, int height, std::string_view text, int startedAction);
    // Shows the window, if it is to be seen, once it has something to show.
    void ShowFirstFrame();

    Prompts& prompts_;
    QString packagePath_;
    QString cacheFolder_;
    bool loaded_ = false;  // between the show sequence and the close sequence
    int session_ = 0;      // counts show sequences
    TPackageShelf::Ticket ticket_;  // while the package loads
    bool firstFrame_ = false;       // drawn since the show, or no longer waited for
    bool wantVisible_ = false;      // to be seen once the first frame is there
    QTimer firstFrameTimer_;        // shows the pet when no frame comes

    std::shared_ptr<const TLoadedPackage> package_;
    QRect frame_;  // the sheet rectangle on screen now
    bool surfaceLocked_ = false;

    QMenu* pm1_ = nullptr;
    QAction* Repeat1_ = nullptr;
    QAction* SingleRepeat1_ = nullptr;
    QAction* Random1_ = nullptr;
    QAction* Sound_ = nullptr;
    QAction* Transparent_ = nullptr;
    QList<QAction*> sizeItems_;  // 1x to 4x
    int scale_ = 1;
    QTimer placeTimer_;  // keeps the place once a move has ended
    QPointer<QAction> checkedItem_;  // the marked action item, if any
    int checkedAction_ = -1;           // its action number
    QTimer tmr1_;
    TPlaybackState state_;
    std::unique_ptr<TPlaybackEngine> engine_;

    TFrameHandOff handOff_;
    TPetSound sound_;

    bool dragging_ = false;  // a move the window manager would not do for us
    QPoint dragOffset_;
};
