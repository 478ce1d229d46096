#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

// Zuvora's own choices, kept between runs in "Zuvora/Zuvora.conf" under the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config). The library file stays as it is.

// A settings file larger than this is none of ours: it is neither read nor written.
inline constexpr qint64 kMaxSettingsBytes = qint64{1} << 20;

// The settings file's native path, looked up at every call.
QString SettingsFilePath();

// A value kept under `key` ("Group/Name"), or `fallback`. Written at once, unless a batch is
// open; an invalid value removes the key and everything under it. When the file cannot keep a
// value, it holds for this process, and that is said once.
QVariant ReadSetting(const QString& key, const QVariant& fallback = {});
void WriteSetting(const QString& key, const QVariant& value);
// The groups directly under `group`, as the file holds them.
QStringList SettingGroups(const QString& group);

// While one lives, writes wait, and the file is written once when the last one ends: closing
// many pets rewrites it once, not once a pet.
class TSettingsBatch {
public:
    TSettingsBatch();
    ~TSettingsBatch();
    TSettingsBatch(const TSettingsBatch&) = delete;
    TSettingsBatch& operator=(const TSettingsBatch&) = delete;
};

// Whether the pet, and the packer's preview, leave the sheet's transparent colour out of
// the window. On unless turned off.
bool TransparentPet();
// Stores the choice and announces it to every window of this process at once. When the
// settings file cannot keep it, it holds for this process, and that is said once.
void SetTransparentPet(bool on);

class TSettingsSignals : public QObject {
    Q_OBJECT
signals:
    void TransparentPetChanged(bool on);
    // The pets' "Sound" choice, changed in one of them.
    void PetSoundChanged(bool on);
    // Roaming pets held still, or let go again.
    void PetsHeldStillChanged(bool still);
    void PetsAboveFullscreenChanged(bool above);
    // Once a run, the first time settings cannot be read or kept: the text for the log.
    void SettingsNotKept(const QString& text);
};

TSettingsSignals& SettingsSignals();
