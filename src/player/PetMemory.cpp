#include "player/PetMemory.h"

#include "common/Settings.h"
#include "player/PackageCache.h"

#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <climits>

namespace {

// One group per package, named by the digest of its path: a path holds characters that
// the settings file cannot take as a key.
QString PetKey(const QString& package, const char* name)
{
    return QStringLiteral("Pets/%1/%2").arg(PathDigest(package), QLatin1String(name));
}

const QString kSoundKey = QStringLiteral("Player/Sound");
const QString kLastPetsKey = QStringLiteral("Session/Pets");
constexpr int kMaxRecords = 32;

}  // namespace

std::optional<QRect> PetPlace(const QString& package)
{
    const QRect place = ReadSetting(PetKey(package, "Place")).toRect();
    if (!place.isValid())
        return std::nullopt;
    return place;
}

void SetPetPlace(const QString& package, const QRect& place) { WriteSetting(PetKey(package, "Place"), place); }

int PetScale(const QString& package)
{
    const int scale = ReadSetting(PetKey(package, "Size"), 1).toInt();
    return scale >= kMinPetScale && scale <= kMaxPetScale ? scale : 1;
}

void SetPetScale(const QString& package, int scale) { WriteSetting(PetKey(package, "Size"), scale); }

bool PetSound() { return ReadSetting(kSoundKey, false).toBool(); }

void SetPetSound(bool on) { WriteSetting(kSoundKey, on); }

QList<TPetRecord> LastPets()
{
    QList<TPetRecord> pets;
    for (const QVariant& item : ReadSetting(kLastPetsKey).toList()) {
        const QVariantMap map = item.toMap();
        const QString package = map.value(QStringLiteral("Package")).toString();
        if (package.isEmpty())
            continue;
        pets.append({package, map.value(QStringLiteral("Position")).toPoint(),
                     map.value(QStringLiteral("Action"), -1).toInt(), map.value(QStringLiteral("Mode"), 1).toInt()});
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
    QPoint best = position;
    qint64 bestDistance = LLONG_MAX;
    for (const QRect& screen : screens) {
        // The top-left corners that keep the window wholly on this screen; a window larger
        // than the screen keeps its top left on the screen's.
        const int maxX = std::max(screen.left(), screen.right() + 1 - size.width());
        const int maxY = std::max(screen.top(), screen.bottom() + 1 - size.height());
        const QPoint nearest(std::clamp(position.x(), screen.left(), maxX), std::clamp(position.y(), screen.top(), maxY));
        const QPoint away = nearest - position;
        const qint64 distance = qint64{away.x()} * away.x() + qint64{away.y()} * away.y();
        if (distance < bestDistance) {
            bestDistance = distance;
            best = nearest;
        }
    }
    return best;
}
