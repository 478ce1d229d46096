#pragma once

#include "player/PlayerHost.h"
#include "player/TFrmPlay.h"

#include <QList>
#include <QObject>
#include <QPointer>

class Prompts;

// Every pet on the desktop: Play's pet, which the next Play replaces, and the pets started
// alongside it, each closing alone.
class TPetHerd : public QObject, public PlayerHost {
    Q_OBJECT
public:
    // More pets than this cost more than they delight.
    static constexpr int kMaxPets = 32;

    explicit TPetHerd(Prompts& prompts);
    ~TPetHerd() override;

    bool IsShowing() const override { return playPet_.isVisible(); }
    void RestoreAndClose() override { playPet_.RestoreAndClose(); }
    void SetPackagePath(const QString& path) override { playPet_.SetPackagePath(path); }
    void ShowPlayer() override;
    bool PlayAlongside(const QString& path) override;
    void CloseAll() override;

    // The pets playing now, in the order they started.
    QList<TFrmPlay*> Pets() const;
    TFrmPlay& PlayPet() { return playPet_; }

private:
    // False, having said so, when kMaxPets play already.
    bool RoomForOneMore();
    // Puts a new pet beside the one started last, never on top of another.
    void Place(TFrmPlay& pet);
    void Started(TFrmPlay* pet);

    Prompts& prompts_;
    TFrmPlay playPet_;
    QList<QPointer<TFrmPlay>> alongside_;
    QList<QPointer<TFrmPlay>> started_;  // every pet, the last started last
};
