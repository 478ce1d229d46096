#include "player/PetHerd.h"

#include "common/Prompts.h"
#include "player/Cascade.h"

#include <QGuiApplication>
#include <QScreen>

TPetHerd::TPetHerd(Prompts& prompts) : prompts_(prompts), playPet_(prompts) {}

TPetHerd::~TPetHerd()
{
    for (const QPointer<TFrmPlay>& pet : alongside_)
        delete pet.data();
}

QList<TFrmPlay*> TPetHerd::Pets() const
{
    QList<TFrmPlay*> pets;
    for (const QPointer<TFrmPlay>& pointer : started_) {
        if (TFrmPlay* pet = pointer.data(); pet != nullptr && pet->isVisible())
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

void TPetHerd::ShowPlayer()
{
    if (!playPet_.isVisible() && !RoomForOneMore())
        return;
    if (!playPet_.isVisible())
        Started(&playPet_);
    playPet_.ShowPlayer();
}

bool TPetHerd::PlayAlongside(const QString& path)
{
    if (!RoomForOneMore())
        return false;
    auto* pet = new TFrmPlay(prompts_);
    pet->setAttribute(Qt::WA_DeleteOnClose);
    alongside_.removeAll(nullptr);
    alongside_.append(pet);
    Place(*pet);
    Started(pet);
    pet->SetPackagePath(path);
    pet->ShowPlayer();
    return true;
}

void TPetHerd::Place(TFrmPlay& pet)
{
    const QList<TFrmPlay*> playing = Pets();
    if (playing.isEmpty())
        return;  // the first pet goes where pets first go
    const TFrmPlay* last = playing.last();
    QList<QPoint> taken;
    for (const TFrmPlay* other : playing)
        taken.append(other->pos());
    QScreen* screen = QGuiApplication::screenAt(last->geometry().center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(QPoint(0, 0), last->size());
    // Until its first frame the new pet takes the size of the last; most often the same pet.
    pet.resize(last->size());
    pet.move(CascadePosition(last->pos(), last->size(), area, taken));
}

void TPetHerd::CloseAll()
{
    if (playPet_.isVisible())
        playPet_.RestoreAndClose();
    for (const QPointer<TFrmPlay>& pointer : alongside_) {
        if (TFrmPlay* pet = pointer.data(); pet != nullptr)
            pet->RestoreAndClose();
    }
}
