#include "player/PetMemory.h"

#include "common/Settings.h"
#include "package/PackageCache.h"
#include "player/PlaybackEngine.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace {

const QString kPetsGroup = QStringLiteral("Pets");

// One group per package, named by the digest of its path: a path holds characters that
// the settings file cannot take as a key.
QString PetKey(const QString& package, const char* name)
{
    return QStringLiteral("%1/%2/%3").arg(kPetsGroup, PathDigest(package), QLatin1String(name));
}

const QString kSoundKey = QStringLiteral("Player/Sound");
const QString kHoldStillKey = QStringLiteral("Player/HoldStill");
const QString kAboveFullscreenKey = QStringLiteral("Player/AboveFullscreen");
const QString kLastPetsKey = QStringLiteral("Session/Pets");
constexpr int kMaxRecords = 32;

int Coordinate(int value) { return std::clamp(value, -kMaxPetCoordinate, kMaxPetCoordinate); }

QPoint KeptPosition(QPoint position) { return {Coordinate(position.x()), Coordinate(position.y())}; }

// Marks the package's group as just used, and lets the groups of the packages played least
// recently go, so that the file holds no more than kMaxKeptPackages of them.
void Used(const QString& package)
{
    // Increasing within a run even when the clock stands still or goes back.
    static qint64 last = 0;
    last = std::max(QDateTime::currentMSecsSinceEpoch(), last + 1);
    WriteSetting(PetKey(package, "Used"), last);

    const QStringList groups = SettingGroups(kPetsGroup);
    if (groups.size() <= kMaxKeptPackages)
        return;
    // A group without a time is the oldest; this package's stays, whatever times the others say.
    const QString own = PathDigest(package);
    std::vector<std::pair<qint64, QString>> byUse;
    byUse.reserve(static_cast<std::size_t>(groups.size()));
    for (const QString& group : groups) {
        const qint64 used = group == own ? std::numeric_limits<qint64>::max()
                                         : ReadSetting(kPetsGroup + u'/' + group + QStringLiteral("/Used")).toLongLong();
        byUse.emplace_back(used, group);
    }
    const auto excess = static_cast<std::ptrdiff_t>(byUse.size()) - kMaxKeptPackages;
    std::nth_element(byUse.begin(), byUse.begin() + excess, byUse.end());
    for (auto it = byUse.begin(); it != byUse.begin() + excess; ++it)
        WriteSetting(kPetsGroup + u'/' + it->second, QVariant());
}

}  // namespace

std::optional<QRect> PetPlace(const QString& package)
{
    // Edges, not width(): a damaged rectangle's width does not fit an int.
    const QRect place = ReadSetting(PetKey(package, "Place")).toRect();
    if (!place.isValid())
        return std::nullopt;
    const auto side = [](int first, int last) {
        return static_cast<int>(std::min<qint64>(qint64{last} - first + 1, kMaxPetSide));
    };
    return QRect(KeptPosition(place.topLeft()), QSize(side(place.left(), place.right()), side(place.top(), place.bottom())));
}

void SetPetPlace(const QString& package, const QRect& place)
{
    // The place, its time and the groups that go: one write.
    const TSettingsBatch batch;
    WriteSetting(PetKey(package, "Place"), place);
    Used(package);
}

int PetScale(const QString& package)
{
    const int scale = ReadSetting(PetKey(package, "Size"), 1).toInt();
    return scale >= kMinPetScale && scale <= kMaxPetScale ? scale : 1;
}

void SetPetScale(const QString& package, int scale)
{
    const TSettingsBatch batch;
    WriteSetting(PetKey(package, "Size"), scale);
    Used(package);
}

bool PetSound() { return ReadSetting(kSoundKey, false).toBool(); }

void SetPetSound(bool on) { WriteSetting(kSoundKey, on); }

bool PetsHeldStill() { return ReadSetting(kHoldStillKey, false).toBool(); }

void SetPetsHeldStill(bool still)
{
    WriteSetting(kHoldStillKey, still);
    emit SettingsSignals().PetsHeldStillChanged(still);
}

bool PetsAboveFullscreen() { return ReadSetting(kAboveFullscreenKey, false).toBool(); }

void SetPetsAboveFullscreen(bool above)
{
    WriteSetting(kAboveFullscreenKey, above);
    emit SettingsSignals().PetsAboveFullscreenChanged(above);
}

QList<TPetRecord> LastPets()
{
    QList<TPetRecord> pets;
    for (const QVariant& item : ReadSetting(kLastPetsKey).toList()) {
        const QVariantMap map = item.toMap();
        const QString package = map.value(QStringLiteral("Package")).toString();
        if (package.isEmpty())
            continue;
        const int mode = map.value(QStringLiteral("Mode"), kPlayRepeat).toInt();
        pets.append({package, KeptPosition(map.value(QStringLiteral("Position")).toPoint()),
                     std::max(map.value(QStringLiteral("Action"), -1).toInt(), -1),
                     IsPlayMode(mode) ? mode : kPlayRepeat});
        if (pets.size() == kMaxRecords)
            break;
    }
    return pets;
}

void SetLastPets(const QList<TPetRecord>& pets)
{
    QVariantList list;
    for (const TPetRecord& pet : pets.mid(0, kMaxRecords)) {
        list.append(QVariantMap{{QStringLiteral("Package"), pet.Package},
                                {QStringLiteral("Position"), pet.Position},
                                {QStringLiteral("Action"), pet.Action},
                                {QStringLiteral("Mode"), pet.Mode}});
    }
    WriteSetting(kLastPetsKey, list);
}

QPoint KeepOnScreens(QPoint position, QSize size, const QList<QRect>& screens)
{
    if (screens.isEmpty())
        return position;
    // In 64 bits and the distance in floating point: a position may be anywhere in the int range.
    QPoint best = position;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const QRect& screen : screens) {
        // The top-left corners that keep the window wholly on this screen; a window larger
        // than the screen keeps its top left on the screen's.
        const qint64 maxX = std::max<qint64>(screen.left(), qint64{screen.right()} + 1 - size.width());
        const qint64 maxY = std::max<qint64>(screen.top(), qint64{screen.bottom()} + 1 - size.height());
        const qint64 x = std::clamp<qint64>(position.x(), screen.left(), maxX);
        const qint64 y = std::clamp<qint64>(position.y(), screen.top(), maxY);
        const auto dx = static_cast<double>(x - position.x());
        const auto dy = static_cast<double>(y - position.y());
        if (const double distance = dx * dx + dy * dy; distance < bestDistance) {
            bestDistance = distance;
            best = QPoint(static_cast<int>(x), static_cast<int>(y));
        }
    }
    return best;
}
