#pragma once

#include "player/PackageShelf.h"
#include "player/PetClock.h"
#include "player/PetMemory.h"
#include "player/PetSound.h"
#include "player/PlaybackEngine.h"
#include "player/Roamer.h"

#include <QObject>
#include <QRect>
#include <QTimer>

#include <memory>

class Prompts;
class TDesktop;
class TPetMenu;

// What the controller asks of the window that shows the pet.
class TPetView {
public:
    virtual ~TPetView() = default;
    virtual QRect Geometry() const = 0;
    // The window takes `geometry` and draws the controller's current frame.
    virtual void ShowFrame(const QRect& geometry) = 0;
    // The package has come and playback starts.
    virtual void PackageCame() = 0;
    // The package cannot play: the pet goes (its messages follow).
    virtual void Abandon() = 0;
};

// The pet apart from its window: its package, the engine stepping it on the pets' one clock,
// its sound, and the memory of its place and size. It follows the choices made in its menu and
// tells its view what to show and where.
class TPetController : public QObject, public TPetClock::TClocked, public FrameTarget {
    Q_OBJECT
public:
    TPetController(Prompts& prompts, TPetView& view, TPetMenu& menu);
    ~TPetController() override;

    // The package the next start plays.
    void SetPackagePath(const QString& path) { packagePath_ = path; }
    const QString& PackagePath() const { return packagePath_; }
    // The show sequence: the package loads on the shelf's thread, and playback starts when it
    // has come.
    void Start();
    // The close sequence: the place `geometry` is kept, playback stops and the package goes.
    void Stop(const QRect& geometry);
    // Between a start and its stop, whether loading or playing.
    bool Started() const { return started_; }
    bool PlaybackStarted() const { return engine_ != nullptr; }

    // Resting: hidden or minimized, so not stepped, and owing nothing when it plays again.
    void SetResting(bool resting);
    bool Resting() const { return resting_; }
    // The window moved; its place is kept once it rests there (a roaming pet's at its close).
    void Moved();

    // Where a roaming pet finds its screens; none: the ones Qt knows.
    void SetDesktop(const TDesktop* desktop);
    // In Roam, the pet moves its window itself: the person holds it with its foot (the
    // bottom centre) at `foot`, and lets go at `velocity` pixels a frame.
    bool Roaming() const { return roamer_ != nullptr && state_.PlayMode == kPlayRoam; }
    void Hold(QPoint foot);
    void Release(QPoint velocity);
    // The frame is drawn facing the other way than its art.
    bool Mirrored() const { return mirrored_; }

    // The package this pet plays; none when stopped.
    const TLoadedPackage* Package() const { return package_.get(); }
    bool HasSheet() const { return package_ && package_->Sheet; }
    const QString& CacheFolder() const { return cacheFolder_; }
    TPlaybackState& State() { return state_; }
    // The sheet rectangle shown now; null before the first frame.
    QRect CurrentFrame() const { return frame_; }
    // Frames are shown this many times their size (1 to 4).
    int Scale() const { return scale_; }
    void SetScale(int scale);

    // The size of the package's first frame at the pet's scale: the pet's size as far as it
    // can be known before it plays. Empty without a package or a frame.
    QSize FirstFrameSize() const;

    // The pet as Zuvora keeps it at its close, and the same given back to a started pet.
    TPetRecord Record(const QPoint& place) const;
    void Resume(const TPetRecord& record);

    // The clock's side: when the next step is due (never while resting), and the step.
    TPetClock::TTime Due() const override;
    void Tick(TPetClock::TTime now) override;
    // The engine's side: the frame shown, the action begun.
    void ShowFrame(const TFrame& frame, int action) override;
    void ActionStarts(int action) override;

signals:
    // The package has loaded; its first frame, and a roaming pet's first step, are still to
    // come from where the window stands then.
    void PackageArrived();

private:
    void SetMode(std::int32_t mode);
    void StartRoaming();
    void UpdateScreens();
    void ShowRoamStep(const TRoamStep& step);
    // The sheet rectangle of `frame`, kept within the sheet's possible sides.
    static QRect SheetRect(const TFrame& frame);
    void PackageReady(const std::shared_ptr<const TLoadedPackage>& package);
    // The first audio file of the action, when Sound is on.
    void PlayActionSound(int action);
    // The window's size for a frame's side; `now` when the frame gives none.
    int Side(std::int32_t frameSide, int now) const;

    Prompts& prompts_;
    TPetView& view_;
    TPetMenu& menu_;
    QString packagePath_;
    QString cacheFolder_;
    bool started_ = false;
    int session_ = 0;               // counts starts
    TPackageShelf::Ticket ticket_;  // while the package loads
    std::shared_ptr<const TLoadedPackage> package_;
    TPlaybackState state_;
    std::unique_ptr<TPlaybackEngine> engine_;
    QRect frame_;
    bool resting_ = true;
    int scale_ = 1;
    int pendingAction_ = -1;  // to be marked and picked once the package has come
    QTimer placeTimer_;
    TPetSound sound_;
    const TDesktop* desktop_ = nullptr;
    std::unique_ptr<TRoamer> roamer_;  // for a package that can roam
    TPetClock::TTime roamDue_{};
    bool roamAtStart_ = true;  // a package that can roam starts roaming unless told otherwise
    bool chase_ = false;
    bool mirrored_ = false;
};
