#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

// Zuvora's own choices, kept between runs in "Zuvora/Zuvora.conf" under the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config). The library file stays as it is.

// The settings file's native path, looked up at every call.
QString SettingsFilePath();

// A value kept under `key` ("Group/Name"), or `fallback`. Written at once; an invalid value
// removes the key. When the file cannot keep a value, it holds for this process, and that is
// said once.
QVariant ReadSetting(const QString& key, const QVariant& fallback = {});
void WriteSetting(const QString& key, const QVariant& value);

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
    // Once a run, the first time settings cannot be read or kept: the text for the log.
    void SettingsNotKept(const QString& text);
};

TSettingsSignals& SettingsSignals();
