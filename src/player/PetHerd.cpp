#include "player/PetHerd.h"

#include "common/Prompts.h"
#include "common/Settings.h"
#include "player/Cascade.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

QList<QRect> ScreenAreas()
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

}  // namespace

TPetHerd::TPetHerd(Prompts& prompts) : prompts_(prompts), playPet_(prompts)
{
    // Screens come and go, and change size, under a running Zuvora.
    const auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, [this] { KeepPetsOnScreens(ScreenAreas()); });
    };
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, watch);
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] {
        // The screen is still listed while it goes.
        QMetaObject::invokeMethod(this, [this] { KeepPetsOnScreens(ScreenAreas()); }, Qt::QueuedConnection);
    });
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
        if (TFrmPlay* pet = pointer.data(); pet != nullptr && pet->Playing())
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
    if (playPet_.Playing()) {
        playPet_.ShowPlayer();
        return;
    }
    if (!RoomForOneMore())
        return;
    Place(playPet_, playPet_.PackagePath());
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
    Place(*pet, path);
    if (at)
        pet->move(KeepOnScreens(*at, pet->size(), ScreenAreas()));
    Started(pet);
    pet->SetPackagePath(path);
    pet->ShowPlayer();
    return pet;
}

void TPetHerd::Place(TFrmPlay& pet, const QString& path)
{
    const QList<TFrmPlay*> playing = Pets();
    QList<QPoint> taken;
    for (const TFrmPlay* other : playing)
        taken.append(other->pos());
    const QList<QRect> screens = ScreenAreas();
    if (const std::optional<QRect> kept = PetPlace(path)) {
        // As large as it was, until its first frame says otherwise.
        const QPoint onScreen = KeepOnScreens(kept->topLeft(), kept->size(), screens);
        if (!taken.contains(onScreen)) {
            pet.setGeometry(QRect(onScreen, kept->size()));
            return;
        }
    }
    if (playing.isEmpty())
        return;  // the first pet goes where pets first go
    const TFrmPlay* last = playing.last();
    QScreen* screen = QGuiApplication::screenAt(last->geometry().center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(QPoint(0, 0), last->size());
    // Until its first frame the new pet takes the size of the last; most often the same pet.
    pet.resize(last->size());
    pet.move(CascadePosition(last->pos(), last->size(), area, taken));
}

void TPetHerd::RestoreLastPets()
{
    for (const TPetRecord& record : LastPets()) {
        if (Pets().size() >= kMaxPets)
            break;
        TFrmPlay* pet = StartAlongside(record.Package, record.Position);
        if (pet->Playing())
            pet->Resume(record);
    }
}

void TPetHerd::KeepPetsOnScreens(const QList<QRect>& screens)
{
    for (TFrmPlay* pet : Pets()) {
        const bool seen = std::any_of(screens.begin(), screens.end(),
                                      [pet](const QRect& screen) { return screen.intersects(pet->geometry()); });
        if (!seen)
            pet->move(KeepOnScreens(pet->pos(), pet->size(), screens));
    }
}

void TPetHerd::CloseAll()
{
    // Every pet keeps its place as it closes: one write of the file for them all.
    const TSettingsBatch batch;
    QList<TPetRecord> records;
    for (const TFrmPlay* pet : Pets())
        records.append(pet->Record());
    SetLastPets(records);
    for (TFrmPlay* pet : Pets())
        pet->RestoreAndClose();
}
