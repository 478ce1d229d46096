#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

// What Zuvora keeps of its pets in its settings: each package's place and size, the sound
// choice, and the pets that played when it last closed.

// Sizes a pet may take: frames scaled by a whole factor.
inline constexpr int kMinPetScale = 1;
inline constexpr int kMaxPetScale = 4;
// Wider or taller than any screen: a frame this large shows nothing more, and a window of the
// size a damaged manifest or settings file may ask for would take gigabytes of backing store.
inline constexpr int kMaxPetSide = 4096;
// Beyond any desktop: X11's coordinates are 16 bits wide. Kept positions are held within it.
inline constexpr int kMaxPetCoordinate = 32767;
// The packages whose places and sizes are kept; the ones played least recently go first.
inline constexpr int kMaxKeptPackages = 256;

// Where the package's pet was last, and how large: its sides at most kMaxPetSide, its
// corner within kMaxPetCoordinate of the origin.
std::optional<QRect> PetPlace(const QString& package);
void SetPetPlace(const QString& package, const QRect& place);
// 1 to 4; 1 when none is kept or the kept one is out of range.
int PetScale(const QString& package);
void SetPetScale(const QString& package, int scale);
// Off unless turned on.
bool PetSound();
void SetPetSound(bool on);
// Roaming pets only idle and sit while held still; off unless turned on. A change is told
// to every pet of this process.
bool PetsHeldStill();
void SetPetsHeldStill(bool still);
// Pets stay above fullscreen windows (games, videos) too; off unless turned on. A change is
// told to every pet of this process.
bool PetsAboveFullscreen();
void SetPetsAboveFullscreen(bool above);

// A pet as it played when Zuvora closed.
struct TPetRecord {
    QString Package;
    QPoint Position;
    int Action = -1;  // the marked action; -1: none
    int Mode = 1;     // the play mode
    bool operator==(const TPetRecord&) const = default;
};
// Positions within kMaxPetCoordinate of the origin, actions -1 or more, modes those of the
// engine (Repeat for any other).
QList<TPetRecord> LastPets();
// At most this many are kept; a damaged settings file gives no more.
void SetLastPets(const QList<TPetRecord>& pets);

// Where a window of `size` at `position` goes so that it lies wholly on one of `screens`:
// where it is when it does already, else the nearest place on the nearest screen. No
// screens: where it is.
QPoint KeepOnScreens(QPoint position, QSize size, const QList<QRect>& screens);
