#include "player/PetHerd.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/PetOutput.h"

#include <algorithm>

TPetHerd::TPetHerd(Prompts& prompts, TDesktop* desktop)
    : prompts_(prompts), playPet_(prompts), ownDesktop_(desktop == nullptr ? std::make_unique<TScreensDesktop>() : nullptr),
      desktop_(desktop != nullptr ? *desktop : *ownDesktop_)
{
    connect(&desktop_, &TDesktop::WorkAreasChanged, this, &TPetHerd::KeepPetsOnScreens);
    playPet_.Controller().SetDesktop(&desktop_);
}

TPetHerd::~TPetHerd()
{
    // Play's pet is a member; every other pet is ours to delete.
    for (const QPointer<TFrmPlay>& pet : started_) {
        if (pet.data() != &playPet_)
            delete pet.data();
    }
}

QList<TFrmPlay*> TPetHerd::Pets() const
{
    QList<TFrmPlay*> pets;
    for (const QPointer<TFrmPlay>& pointer : started_) {
        if (TFrmPlay* pet = pointer.data(); pet != nullptr && pet->Controller().Started())
            pets.append(pet);
    }
    return pets;
}

bool TPetHerd::RoomForOneMore()
{
    if (Pets().size() < kMaxPets)
        return true;
    prompts_.Error(QStringLiteral("%1 pets are playing already. Close one to play another.").arg(kMaxPets));
    return false;
}

void TPetHerd::Started(TFrmPlay* pet)
{
    started_.removeAll(pet);
    started_.removeAll(nullptr);
    started_.append(pet);
}

void TPetHerd::SetPetsHidden(bool hidden)
{
    petsHidden_ = hidden;
    for (TFrmPlay* pet : Pets())
        pet->setVisible(!hidden);
}

void TPetHerd::ShowPlayer()
{
    SetPetsHidden(false);
    if (playPet_.Controller().Started()) {
        playPet_.ShowPlayer();
        return;
    }
    if (!RoomForOneMore())
        return;
    Place(playPet_, playPet_.Controller().PackagePath());
    Started(&playPet_);
    playPet_.ShowPlayer();
}

bool TPetHerd::PlayAlongside(const QString& path)
{
    SetPetsHidden(false);
    if (!RoomForOneMore())
        return false;
    StartAlongside(path);
    return true;
}

TFrmPlay* TPetHerd::StartAlongside(const QString& path, std::optional<QPoint> at)
{
    auto* pet = new TFrmPlay(prompts_);
    pet->setAttribute(Qt::WA_DeleteOnClose);
    pet->Controller().SetDesktop(&desktop_);
    Place(*pet, path);
    if (at)
        pet->move(desktop_.KeepOnScreens(*at, pet->size()));
    Started(pet);
    pet->Controller().SetPackagePath(path);
    pet->ShowPlayer();
    return pet;
}

void TPetHerd::Place(TFrmPlay& pet, const QString& path)
{
    const QList<TFrmPlay*> playing = Pets();
    QList<QPoint> taken;
    for (const TFrmPlay* other : playing)
        taken.append(other->pos());
    if (const std::optional<QRect> kept = PetPlace(path)) {
        // As large as it was, until its first frame says otherwise.
        const QPoint onScreen = desktop_.KeepOnScreens(kept->topLeft(), kept->size());
        if (!taken.contains(onScreen)) {
            pet.setGeometry(QRect(onScreen, kept->size()));
            return;
        }
    }
    if (playing.isEmpty())
        return;  // the first pet goes where pets first go
    const TFrmPlay* last = playing.last();
    // Until its first frame the new pet takes the size of the last; most often the same pet.
    pet.resize(last->size());
    pet.move(desktop_.Beside(last->geometry(), last->size(), taken));
}

void TPetHerd::RestoreLastPets()
{
    for (const TPetRecord& record : LastPets()) {
        if (Pets().size() >= kMaxPets)
            break;
        TFrmPlay* pet = StartAlongside(record.Package, record.Position);
        if (pet->Controller().Started())
            pet->Controller().Resume(record);
    }
}

void TPetHerd::KeepPetsOnScreens()
{
    for (TFrmPlay* pet : Pets()) {
        if (!desktop_.Shows(pet->geometry()))
            pet->move(desktop_.KeepOnScreens(pet->pos(), pet->size()));
    }
}

void TPetHerd::CloseAll()
{
    // Every pet keeps its place as it closes: one write of the file for them all.
    const TSettingsBatch batch;
    QList<TPetRecord> records;
    for (const TFrmPlay* pet : Pets()) {
        TPetRecord record = pet->Record();
        // Where the platform cannot tell a window's place, the one remembered stands for it.
        if (!PetPlacesKnown())
            record.Position = PetPlace(record.Package).value_or(QRect(record.Position, QSize())).topLeft();
        records.append(record);
    }
    SetLastPets(records);
    for (TFrmPlay* pet : Pets())
        pet->RestoreAndClose();
}
