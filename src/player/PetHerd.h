#pragma once

#include "player/Desktop.h"
#include "player/PlayerHost.h"
#include "player/FrmPlay.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <memory>
#include <optional>

class Prompts;

// Every pet on the desktop: Play's pet, which the next Play replaces, and the pets started
// alongside it, each closing alone.
class TPetHerd : public QObject, public PlayerHost {
    Q_OBJECT
public:
    // More pets than this cost more than they delight.
    static constexpr int kMaxPets = 32;

    // The pets live on `desktop`; none: the one Qt's screens tell.
    explicit TPetHerd(Prompts& prompts, TDesktop* desktop = nullptr);
    ~TPetHerd() override;

    bool IsShowing() const override { return playPet_.Controller().Started(); }
    void RestoreAndClose() override { playPet_.RestoreAndClose(); }
    void SetPackagePath(const QString& path) override { playPet_.Controller().SetPackagePath(path); }
    void ShowPlayer() override;
    bool PlayAlongside(const QString& path) override;
    // Keeps the pets that play as the ones to bring back, then closes every one.
    void CloseAll() override;
    // Brings back the pets that played when Zuvora last closed, each where it was, with its
    // action and mode.
    void RestoreLastPets();
    // Moves a pet that no screen shows any more to the nearest edge of one that remains.
    void KeepPetsOnScreens();
    const TDesktop& Desktop() const { return desktop_; }

    // The pets playing now, hidden or not, in the order they started.
    QList<TFrmPlay*> Pets() const;
    // Hides every pet, its thread resting, or shows them again.
    void SetPetsHidden(bool hidden);
    bool PetsHidden() const { return petsHidden_; }
    TFrmPlay& PlayPet() { return playPet_; }

private:
    // False, having said so, when kMaxPets play already.
    bool RoomForOneMore();
    // Puts a starting pet at `at` if given, else where its package's pet was last unless
    // another pet stands there; any other pet is placed by its size once its package says it.
    void Place(TFrmPlay& pet, const QString& path, std::optional<QPoint> at = std::nullopt);
    // The first pet where its window stands, the designed first place for a new one; later
    // pets, or the first where that is taken, on the free spot nearest the screen's bottom.
    // Never on another pet or on one of Zuvora's own windows while a spot is free.
    void PlaceBySize(TFrmPlay& pet);
    // The places of the pets that have one, but `pet`'s, in the order they started.
    QList<QRect> PlacedPets(const TFrmPlay& pet) const;
    // A new pet, where `at` says if given.
    TFrmPlay* StartAlongside(const QString& path, std::optional<QPoint> at = std::nullopt);
    void Started(TFrmPlay* pet);

    Prompts& prompts_;
    TFrmPlay playPet_;
    std::unique_ptr<TDesktop> ownDesktop_;
    TDesktop& desktop_;
    QList<QPointer<TFrmPlay>> started_;  // every pet, the last started last
    QSet<const TFrmPlay*> unplaced_;     // started, placed once its package has come
    bool petsHidden_ = false;
};
