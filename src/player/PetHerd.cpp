#include "player/PetHerd.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/PetOutput.h"
#include "player/Placement.h"

#include <QApplication>


namespace {

// Zuvora's own windows that the person sees: the library, the packer, their dialogs; not
// pets, menus or tool tips.
QList<QRect> OwnWindows()
{
    QList<QRect> windows;
    // Wayland tells no window where it is: Zuvora's could be anywhere.
    if (QGuiApplication::platformName() == u"wayland")
        return windows;
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (!window->isVisible() || window->isMinimized() || qobject_cast<const TFrmPlay*>(window) != nullptr ||
            type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop)
            continue;
        windows.append(window->frameGeometry());
    }
    return windows;
}

}  // namespace

TPetHerd::TPetHerd(Prompts& prompts, TDesktop* desktop)
    : prompts_(prompts), playPet_(prompts), ownDesktop_(desktop == nullptr ? std::make_unique<TScreensDesktop>() : nullptr),
      desktop_(desktop != nullptr ? *desktop : *ownDesktop_)
{
    connect(&desktop_, &TDesktop::WorkAreasChanged, this, &TPetHerd::KeepPetsOnScreens);
    playPet_.Controller().SetDesktop(&desktop_);
    connect(&playPet_.Controller(), &TPetController::PackageArrived, this, [this] { PlaceBySize(playPet_); });
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
    connect(&pet->Controller(), &TPetController::PackageArrived, this, [this, pet] { PlaceBySize(*pet); });
    connect(pet, &QObject::destroyed, this, [this, pet] { unplaced_.remove(pet); });
    Place(*pet, path, at);
    Started(pet);
    pet->Controller().SetPackagePath(path);
    pet->ShowPlayer();
    return pet;
}

QList<QRect> TPetHerd::PlacedPets(const TFrmPlay& pet) const
{
    QList<QRect> places;
    for (const TFrmPlay* other : Pets()) {
        if (other != &pet && !unplaced_.contains(other))
            places.append(other->geometry());
    }
    return places;
}

void TPetHerd::Place(TFrmPlay& pet, const QString& path, std::optional<QPoint> at)
{
    unplaced_.remove(&pet);
    const std::optional<QRect> kept = PetPlace(path);
    // As large as it was, until its first frame says otherwise.
    if (kept)
        pet.resize(kept->size());
    if (at) {
        pet.move(desktop_.KeepOnScreens(*at, pet.size()));
        return;
    }
    if (kept) {
        const QRect place(desktop_.KeepOnScreens(kept->topLeft(), kept->size()), kept->size());
        if (Clear(place, PlacedPets(pet), 0)) {
            pet.move(place.topLeft());
            return;
        }
    }
    unplaced_.insert(&pet);
}

void TPetHerd::PlaceBySize(TFrmPlay& pet)
{
    if (!unplaced_.remove(&pet))
        return;  // it has its place
    QSize size = pet.Controller().FirstFrameSize();
    if (size.isEmpty())
        size = pet.size();
    const QList<QRect> pets = PlacedPets(pet);
    // The windows first: past kMaxAvoided rectangles, the last are not looked at.
    const QList<QRect> avoid = OwnWindows() + pets;
    if (pets.isEmpty()) {
        const QRect here(desktop_.KeepOnScreens(pet.pos(), size), size);
        if (Clear(here, avoid)) {
            pet.setGeometry(here);
            return;
        }
    }
    // On the screen of the pet placed last, else of the window.
    const QPoint near = pets.isEmpty() ? pet.pos() : pets.last().center();
    pet.setGeometry(QRect(desktop_.PlaceNew(size, near, avoid), size));
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
