#pragma once

#include "player/PetController.h"
#include "player/PetDrag.h"

#include <QImage>
#include <QRegion>
#include <QTimer>
#include <QWidget>

class Prompts;
class QAction;
class QMenu;
class TLayerSurface;
class TPetMenu;
class TWaylandConnection;

// The pet on the desktop: a borderless, always-on-top window exactly as large as the current
// frame, moved by dragging anywhere in it and controlled through its pop-up menu. What it
// plays and where is its controller's: every show starts it, every close stops it.
class TFrmPlay : public QWidget, public TPetView {
    Q_OBJECT
public:
    explicit TFrmPlay(Prompts& prompts);
    ~TFrmPlay() override;

    // Restores a minimized pet to its normal state and closes it, stopping playback.
    void RestoreAndClose();
    // Loads the package on the shelf's thread; the window shows with the first frame.
    void ShowPlayer();
    // The first show of a closed pet starts its controller; until the first frame a show is
    // only kept for it.
    void setVisible(bool visible) override;

    TPetController& Controller() { return controller_; }
    const TPetController& Controller() const { return controller_; }
    QMenu* PopupMenu() const;
    QAction* TransparentItem() const;
    // The pet as Zuvora keeps it at its close.
    TPetRecord Record() const { return controller_.Record(pos()); }

    // The view's side, for the controller.
    QRect Geometry() const override { return geometry(); }
    void ShowFrame(const QRect& geometry) override;
    void PackageCame() override;
    void Abandon() override { RestoreAndClose(); }

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
    void Close();
    // Leaves the sheet's see-through pixels of the current frame out of the window, or
    // gives the window back its whole rectangle.
    void ApplyShape();
    // A compositor shows the window's alpha (X11 only): see-through pixels are painted clear.
    void SetComposited(bool composited);
    // Shows the window, if it is to be seen, once it has something to show.
    void ShowFirstFrame();
    // On X11 a pet hides while a fullscreen window is active, unless pets stay above those.
    bool Covered() const;
    void FollowCover();

    TPetMenu* menu_ = nullptr;
    TPetController controller_;
    bool firstFrame_ = false;       // drawn since the show, or no longer waited for
    bool wantVisible_ = false;      // to be seen once the first frame is there
    QTimer firstFrameTimer_;        // shows the pet when no frame comes

    bool composited_ = false;
    bool x11_ = false;
    bool coveredHidden_ = false;  // hidden by a fullscreen window, not by the person
    QRegion shape_;       // the creature's part of the window; empty: all of it
    QRegion inputShape_;  // as last given to the X server

    // A drag begun and ended at the pointer's place on the screen; between them the window
    // follows the mouse, and a roaming pet is held there.
    void BeginDrag(QPoint pointer);
    void FollowMouse(QPoint pointer);
    void EndDrag(QPoint pointer);
    // Ends a drag whose release will not come here: a roaming pet falls from where it is.
    void LetGo();
    // Draws the pet as a layer surface of `connection` instead of a window of its own.
    void UseLayerSurface(TWaylandConnection& connection);
    // The frame as painted, to the layer surface; nothing without one.
    void PushToLayer();

    std::unique_ptr<TLayerSurface> layer_;

    TPetDrag drag_;  // a move the window manager would not do for us, or a roaming pet held
};
