#include "player/PetController.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/PetMenu.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <climits>

#include <malloc.h>

TPetController::TPetController(Prompts& prompts, TPetView& view, TPetMenu& menu)
    : prompts_(prompts), view_(view), menu_(menu)
{
    menu_.SetSound(PetSound());
    connect(&menu_, &TPetMenu::ModeChosen, this, [this](std::int32_t mode) { SetPlayMode(state_, mode); });
    connect(&menu_, &TPetMenu::SizeChosen, this, &TPetController::SetScale);
    connect(&menu_, &TPetMenu::ActionChosen, this, [this](int action) { PickAction(state_, action); });
    connect(&menu_, &TPetMenu::SoundChosen, this, [this](bool on) {
        if (!on)
            sound_.Stop();
        SetPetSound(on);
        emit SettingsSignals().PetSoundChanged(on);
    });
    connect(&SettingsSignals(), &TSettingsSignals::PetSoundChanged, &menu_, &TPetMenu::SetSound);
    // A drag moves the window many times; its place is kept once it rests.
    placeTimer_.setSingleShot(true);
    placeTimer_.setInterval(1000);
    connect(&placeTimer_, &QTimer::timeout, this, [this] {
        if (started_ && !packagePath_.isEmpty())
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
    }
    pendingAction_ = -1;
    state_.Running = true;
    // On the beat of the pets playing already, so that they share the clock's wake-ups.
    engine_ = std::make_unique<TPlaybackEngine>(state_, &package_->Model, PetClock().Beat(std::chrono::steady_clock::now()));
    PetClock().Add(this);
    view_.PackageCame();
    // Extraction, manifest and decoding leave freed buffers in the heap; hand them back, so
    // a playing pet costs little more than its sheet.
    malloc_trim(0);
}

void TPetController::Stop(const QRect& geometry)
{
    // A package still loading is no longer wanted.
    ticket_.reset();
    if (package_) {
        placeTimer_.stop();
        SetPetPlace(packagePath_, geometry);
    }
    sound_.Stop();
    StopPlayback(state_);
    PetClock().Remove(this);
    engine_.reset();
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
    if (started_)
        placeTimer_.start();
}

TPetClock::TTime TPetController::Due() const
{
    return engine_ && !resting_ && !engine_->Finished() ? engine_->Due() : TPetClock::TTime::max();
}

void TPetController::Tick(TPetClock::TTime now)
{
    if (engine_ && engine_->Step(now, *this) == TPause::Ended)
        PetClock().Remove(this);
}

int TPetController::Side(std::int32_t frameSide, int now) const
{
    return frameSide >= 0 ? static_cast<int>(std::min<qint64>(qint64{frameSide} * scale_, kMaxPetSide)) : now;
}

void TPetController::ShowFrame(const TFragment& frame, int /*action*/)
{
    // A new size keeps the pet's foot (the bottom centre) where it stands, once it stands
    // somewhere: its first frame goes where the pet was placed.
    const QRect now = view_.Geometry();
    QRect geometry(now.topLeft(), QSize(Side(frame.Width, now.width()), Side(frame.Height, now.height())));
    if (!frame_.isNull())
        geometry.moveBottomLeft(QPoint(now.x() + (now.width() - geometry.width()) / 2, now.bottom()));
    if (HasSheet()) {
        // Negative values have no place in a sheet; right and bottom edges stay within int.
        const int left = std::max(frame.Left, 0);
        const int top = std::max(frame.Top, 0);
        frame_ = QRect(left, top, std::min(std::max(frame.Width, 0), INT_MAX - left),
                       std::min(std::max(frame.Height, 0), INT_MAX - top));
    } else {
        frame_ = QRect();
    }
    view_.ShowFrame(geometry);
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
    const std::int32_t mode = record.Mode == kPlaySingleRepeat || record.Mode == kPlayRandom ? record.Mode : kPlayRepeat;
    menu_.MarkMode(mode);
    SetPlayMode(state_, mode);
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
