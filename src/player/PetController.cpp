#include "player/PetController.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/Desktop.h"
#include "player/PetMenu.h"
#include "player/PetOutput.h"
#include "player/WindowLedges.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <random>

#include <algorithm>
#include <climits>

#include <malloc.h>

TPetController::TPetController(Prompts& prompts, TPetView& view, TPetMenu& menu)
    : prompts_(prompts), view_(view), menu_(menu)
{
    menu_.SetSound(PetSound());
    connect(&menu_, &TPetMenu::ModeChosen, this, &TPetController::SetMode);
    connect(&menu_, &TPetMenu::ChaseChosen, this, [this](bool on) {
        chase_ = on;
        if (roamer_ && !on)
            roamer_->SetChase(std::nullopt);
    });
    connect(&menu_, &TPetMenu::SizeChosen, this, &TPetController::SetScale);
    connect(&menu_, &TPetMenu::ActionChosen, this, [this](int action) {
        PickAction(state_, action);
        if (Roaming())
            roamer_->Play(action);
    });
    connect(&menu_, &TPetMenu::SoundChosen, this, [this](bool on) {
        if (!on)
            sound_.Stop();
        SetPetSound(on);
        emit SettingsSignals().PetSoundChanged(on);
    });
    connect(&SettingsSignals(), &TSettingsSignals::PetSoundChanged, &menu_, &TPetMenu::SetSound);
    connect(&SettingsSignals(), &TSettingsSignals::PetsHeldStillChanged, this, [this](bool still) {
        if (roamer_)
            roamer_->SetStill(still);
    });
    // A drag moves the window many times; its place is kept once it rests.
    placeTimer_.setSingleShot(true);
    placeTimer_.setInterval(1000);
    connect(&placeTimer_, &QTimer::timeout, this, [this] {
        if (started_ && !packagePath_.isEmpty() && PetPlacesKnown())
            SetPetPlace(packagePath_, view_.Geometry());
    });
}

TPetController::~TPetController() { PetClock().Remove(this); }

void TPetController::Start()
{
    started_ = true;
    state_.PlayMode = kPlayRepeat;
    menu_.MarkMode(kPlayRepeat);
    // Another Zuvora may have changed it since.
    menu_.SetSound(PetSound());
    scale_ = PetScale(packagePath_);
    menu_.MarkSize(scale_);
    roamAtStart_ = true;
    mirrored_ = false;
    // Nothing of the last package stays: no action items, none marked, no frame.
    pendingAction_ = -1;
    menu_.SetActions({});
    frame_ = QRect();
    ++session_;
    // Extraction and decoding may take seconds: they run on the shelf's thread, and the pet
    // comes when its package is ready.
    ticket_ = PackageShelf().Take(packagePath_, [this](const auto& package) { PackageReady(package); });
}

void TPetController::PackageReady(const std::shared_ptr<const TLoadedPackage>& package)
{
    ticket_.reset();
    if (!package->Sheet) {
        // Abandoning may delete the pet; its boxes need only the prompts.
        Prompts& prompts = prompts_;
        view_.Abandon();
        ShowLoadMessages(*package, prompts);
        return;
    }
    // A box runs an event loop of its own, in which the pet may be closed.
    const QPointer<TPetController> alive(this);
    const int session = session_;
    ShowLoadMessages(*package, prompts_);
    if (alive.isNull() || session != session_ || !started_)
        return;
    package_ = package;
    cacheFolder_ = package_->CacheFolder;
    QStringList names;
    names.reserve(static_cast<qsizetype>(package_->Model.Actions.size()));
    for (const TAction& action : package_->Model.Actions)
        names.append(action.Name);
    menu_.SetActions(names);
    // An action picked before the package came (a pet brought back) is picked now.
    if (pendingAction_ >= 0 && pendingAction_ < static_cast<int>(names.size())) {
        menu_.MarkAction(pendingAction_);
        PickAction(state_, pendingAction_);
        // It is the one that plays, frames or none.
        menu_.ShowPlaying(pendingAction_);
    }
    pendingAction_ = -1;
    // Placed by its true size before anything of it shows; this may move the window.
    emit PackageArrived();
    state_.Running = true;
    // On the beat of the pets playing already, so that they share the clock's wake-ups.
    engine_ = std::make_unique<TPlaybackEngine>(state_, &package_->Model, PetClock().Beat(std::chrono::steady_clock::now()));
    PetClock().Add(this);
    if (TRoamer::CanRoam(package_->Model)) {
        std::random_device seed;
        roamer_ = std::make_unique<TRoamer>(package_->Model, [generator = std::mt19937(seed())](std::int32_t last) mutable {
            return std::uniform_int_distribution<std::int32_t>(0, last)(generator);
        });
        roamer_->SetStill(PetsHeldStill());
        menu_.SetCanRoam(true);
        if (roamAtStart_)
            SetMode(kPlayRoam);
        else if (Roaming())
            StartRoaming();
    } else if (state_.PlayMode == kPlayRoam) {
        SetMode(kPlayRepeat);
    }
    view_.PackageCame();
    // Extraction, manifest and decoding leave freed buffers in the heap; hand them back, so
    // a playing pet costs little more than its sheet.
    malloc_trim(0);
}

void TPetController::Stop(const QRect& geometry)
{
    // A package still loading is no longer wanted.
    ticket_.reset();
    // Where the platform cannot tell a window's place, the one remembered stays.
    if (package_ && PetPlacesKnown()) {
        placeTimer_.stop();
        SetPetPlace(packagePath_, geometry);
    }
    sound_.Stop();
    StopPlayback(state_);
    PetClock().Remove(this);
    engine_.reset();
    roamer_.reset();
    menu_.SetCanRoam(false);
    package_.reset();
    resting_ = true;
    started_ = false;
}

void TPetController::SetResting(bool resting)
{
    if (resting == resting_)
        return;
    resting_ = resting;
    PetClock().Reschedule();
}

void TPetController::Moved()
{
    // A roaming pet moves all the time: its place is kept when it closes.
    if (started_ && !Roaming())
        placeTimer_.start();
}

TPetClock::TTime TPetController::Due() const
{
    if (resting_)
        return TPetClock::TTime::max();
    if (Roaming())
        return roamDue_;
    return engine_ && !engine_->Finished() ? engine_->Due() : TPetClock::TTime::max();
}

void TPetController::Tick(TPetClock::TTime now)
{
    if (Roaming()) {
        if (chase_) {
            const QPoint pointer = QCursor::pos();
            roamer_->SetChase(pointer);
        }
        const TRoamStep step = roamer_->Step();
        // On the beat like the engine: a late step skips what it missed.
        const std::chrono::milliseconds pause(step.PauseMs);
        roamDue_ += pause;
        if (roamDue_ <= now)
            roamDue_ += pause * ((now - roamDue_) / pause + 1);
        if (step.Starts)
            PlayActionSound(step.Action);
        if (step.Frame != nullptr)
            ShowRoamStep(step);
        return;
    }
    if (engine_ && engine_->Step(now, *this) == TPause::Ended)
        PetClock().Remove(this);
}

void TPetController::SetMode(std::int32_t mode)
{
    const bool wasRoaming = Roaming();
    SetPlayMode(state_, mode);
    menu_.MarkMode(mode);
    roamAtStart_ = false;
    if (Roaming() && !wasRoaming)
        StartRoaming();
    if (!Roaming())
        mirrored_ = false;
    PetClock().Reschedule();
}

void TPetController::SetDesktop(const TDesktop* desktop)
{
    desktop_ = desktop;
    if (desktop_ != nullptr)
        connect(desktop_, &TDesktop::WorkAreasChanged, this, &TPetController::UpdateScreens);
}

void TPetController::UpdateScreens()
{
    if (!roamer_)
        return;
    QList<QRect> areas;
    if (desktop_ != nullptr) {
        areas = desktop_->AreasFor(view_.Geometry().size());
    } else {
        for (const QScreen* screen : QGuiApplication::screens())
            areas.append(screen->availableGeometry());
    }
    roamer_->SetScreens(areas);
    roamer_->SetLedges(WindowLedges().Ledges());
}

void TPetController::StartRoaming()
{
    // It roams on from where it stands.
    const QRect now = view_.Geometry();
    roamer_->SetScale(scale_);
    roamer_->PlaceFoot(QPoint(now.x() + now.width() / 2, now.y() + now.height()));
    // Other windows' tops are floors too.
    connect(&WindowLedges(), &TWindowLedges::Changed, this, &TPetController::UpdateScreens, Qt::UniqueConnection);
    UpdateScreens();
    roamDue_ = PetClock().Beat(std::chrono::steady_clock::now());
}

void TPetController::Hold(QPoint foot)
{
    if (Roaming())
        roamer_->Hold(foot);
}

void TPetController::Release(QPoint velocity)
{
    if (Roaming())
        roamer_->Release(velocity);
}

void TPetController::ShowRoamStep(const TRoamStep& step)
{
    frame_ = SheetRect(*step.Frame);
    mirrored_ = step.Mirrored;
    menu_.ShowPlaying(step.Action);
    view_.ShowFrame(QRect(step.TopLeft, QSize(Side(step.Frame->Width, 1), Side(step.Frame->Height, 1))));
}

QRect TPetController::SheetRect(const TFrame& frame)
{
    // Negative values have no place in a sheet; right and bottom edges stay within int.
    const int left = std::max(frame.Left, 0);
    const int top = std::max(frame.Top, 0);
    return QRect(left, top, std::min(std::max(frame.Width, 0), INT_MAX - left),
                 std::min(std::max(frame.Height, 0), INT_MAX - top));
}

int TPetController::Side(std::int32_t frameSide, int now) const
{
    return frameSide >= 0 ? static_cast<int>(std::min<qint64>(qint64{frameSide} * scale_, kMaxPetSide)) : now;
}

void TPetController::ShowFrame(const TFrame& frame, int action)
{
    menu_.ShowPlaying(action);
    // A new size keeps the pet's foot (the bottom centre) where it stands, once it stands
    // somewhere: its first frame goes where the pet was placed.
    const QRect now = view_.Geometry();
    QRect geometry(now.topLeft(), QSize(Side(frame.Width, now.width()), Side(frame.Height, now.height())));
    if (!frame_.isNull())
        geometry.moveBottomLeft(QPoint(now.x() + (now.width() - geometry.width()) / 2, now.bottom()));
    frame_ = HasSheet() ? SheetRect(frame) : QRect();
    view_.ShowFrame(geometry);
}

QSize TPetController::FirstFrameSize() const
{
    if (!package_)
        return {};
    for (const TAction& action : package_->Model.Actions) {
        if (!action.Frames.empty()) {
            const TFrame& frame = action.Frames.front();
            return {Side(frame.Width, 0), Side(frame.Height, 0)};
        }
    }
    return {};
}

void TPetController::ActionStarts(int action) { PlayActionSound(action); }

void TPetController::SetScale(int scale)
{
    scale_ = scale;
    menu_.MarkSize(scale);
    SetPetScale(packagePath_, scale);
    if (!frame_.isEmpty())
        view_.ShowFrame(QRect(view_.Geometry().topLeft(), QSize(std::min(frame_.width() * scale, kMaxPetSide),
                                                               std::min(frame_.height() * scale, kMaxPetSide))));
}

void TPetController::PlayActionSound(int action)
{
    if (!menu_.Sound() || !package_ || action >= static_cast<int>(package_->Model.Actions.size()))
        return;
    const QStringList& audio = package_->Model.Actions[static_cast<std::size_t>(action)].AudioFiles;
    // A member name, never a path: a damaged manifest must not name files elsewhere.
    if (audio.isEmpty() || audio[0].isEmpty() || audio[0].contains(u'/') || audio[0].contains(u'\\') ||
        audio[0] == u"." || audio[0] == u"..")
        return;
    sound_.Play(QDir(cacheFolder_).filePath(audio[0]));
}

TPetRecord TPetController::Record(const QPoint& place) const
{
    return {packagePath_, place, package_ ? menu_.MarkedAction() : pendingAction_, state_.PlayMode};
}

void TPetController::Resume(const TPetRecord& record)
{
    const std::int32_t mode = IsPlayMode(record.Mode) ? record.Mode : kPlayRepeat;
    // A pet brought back plays as it did; Roam waits for a package that can.
    if (mode == kPlayRoam && !roamer_) {
        roamAtStart_ = true;
        if (package_)
            SetMode(kPlayRepeat);
    } else {
        SetMode(mode);
    }
    if (record.Action < 0)
        return;
    // A pet whose package is still loading marks and picks it when the package comes.
    if (!package_) {
        pendingAction_ = record.Action;
        return;
    }
    if (record.Action >= static_cast<int>(package_->Model.Actions.size()))
        return;
    menu_.MarkAction(record.Action);
    PickAction(state_, record.Action);
}
