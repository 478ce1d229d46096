#pragma once

#include "package/Zvk.h"
#include "player/Ledges.h"

#include <QList>
#include <QPair>
#include <QPoint>
#include <QRect>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// What one step of roaming shows, and where.
struct TRoamStep {
    int Action = -1;                   // whose frame shows; -1: none has frames
    const TFrame* Frame = nullptr;  // the frame of that action
    QPoint TopLeft;                    // the window's place for it
    bool Mirrored = false;             // drawn facing the other way than the art
    bool Starts = false;               // the action's first frame: it begins (again)
    TRole State = TRole::Idle;
    std::int32_t PauseMs = 0;          // until the next step
};

// A pet living on the desktop: walks along floors (the screens' work areas' bottoms and
// ledges), turns or climbs at the sides, falls with gravity when nothing holds it, lands,
// rests more than it runs, and can be held, thrown and made to chase the pointer. Only the
// actions with a role take part. Time is counted in steps, one a frame, so the same draws
// give the same walk; the caller keeps the clock and moves the window.
class TRoamer {
public:
    using Drawer = std::function<std::int32_t(std::int32_t last)>;  // uniform in 0..last

    static constexpr int kGravity = 2;          // pixels a frame, each frame
    static constexpr int kTerminalSpeed = 40;   // pixels a frame
    static constexpr int kMaxThrowSpeed = 60;   // pixels a frame
    static constexpr int kNearPointer = 48;     // pixels: a chasing pet rests this close

    // Whether a package can roam: it has an action with frames in the walk role that
    // roaming may pick (a weight above 0).
    static bool CanRoam(const TZvk& model);

    // The model must outlive the roamer.
    TRoamer(const TZvk& model, Drawer draw);
    TRoamer(TZvk&& model, Drawer draw) = delete;

    // Every screen's work area; a pet on a screen that went falls onto the nearest one.
    void SetScreens(const QList<QRect>& areas);
    void SetLedges(const QList<TLedge>& ledges);
    // Frames are shown this many times their size.
    void SetScale(int scale) { scale_ = scale; }
    // Where the pet's foot (the bottom centre of its window) is.
    void PlaceFoot(QPoint foot);
    QPoint Foot() const { return foot_; }
    TRole State() const { return state_; }

    // The person holds the pet with its foot at `foot`; let go, it falls with `velocity`
    // (pixels a frame, capped), bouncing off the screen's sides.
    void Hold(QPoint foot);
    void Release(QPoint velocity);
    // Only idle and sit while still; a chasing pet walks toward `pointer` while it is given.
    void SetStill(bool still) { still_ = still; }
    void SetChase(std::optional<QPoint> pointer) { chase_ = pointer; }

    // Plays the action once, as chosen in the menu (a weight of 0 too), where the pet stands;
    // then roaming goes on. Nothing while it is held or in the air.
    void Play(int action);

    TRoamStep Step();

private:
    QRect Screen() const;
    std::optional<int> FloorAt(int x, int from, int to) const;
    bool OnFloor() const;
    bool Has(TRole role) const { return !byRole_[static_cast<std::size_t>(role)].empty(); }
    void Begin(TRole role, int cycles = 1);
    void ChooseNext();
    void Move(const TAction& action, QSize size);
    void Walk(const TAction& action, QSize size);
    void Fall(QSize size);
    // The frame's window size on screen.
    QSize SizeOf(const TFrame& frame) const;
    // The columns where the foot of a window of `size` keeps it wholly on `area`, first and
    // last.
    static QPair<int, int> FootSpan(const QRect& area, QSize size);
    // The foot put back so that a window of `size` lies wholly on `area`.
    void KeepInside(const QRect& area, QSize size);

    const TZvk& model_;
    Drawer draw_;
    // Per role, the actions that roaming picks from (frames and a weight above 0), or for the
    // roles played by situation (fall, land, drag, climb), any with frames.
    std::array<std::vector<int>, 7> byRole_;
    QList<QRect> screens_;
    QList<TLedge> ledges_;
    int scale_ = 1;
    QPoint foot_;
    QSize size_{1, 1};  // the window of the last frame shown
    TRole state_ = TRole::Idle;
    int action_ = -1;
    std::size_t next_ = 0;
    int cycles_ = 0;     // more times the action plays through before the next choice
    int facing_ = 1;     // +1 right, -1 left
    QPoint velocity_;    // while falling
    bool held_ = false;
    bool still_ = false;
    std::optional<QPoint> chase_;
};
