#include "common/Settings.h"

#include "common/AppDirs.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kTransparentKey = QStringLiteral("Player/Transparent");

}  // namespace

QString SettingsFilePath()
{
    // An explicit file, not QSettings' own lookup, which keeps the first folder it found
    // for the life of the process.
    const QDir config(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return QDir::toNativeSeparators(config.filePath(kAppTitle + u'/' + kAppTitle + QStringLiteral(".conf")));
}

bool TransparentPet() { return QSettings(SettingsFilePath(), QSettings::IniFormat).value(kTransparentKey, true).toBool(); }

void SetTransparentPet(bool on)
{
    QSettings(SettingsFilePath(), QSettings::IniFormat).setValue(kTransparentKey, on);
    emit SettingsSignals().TransparentPetChanged(on);
}

TSettingsSignals& SettingsSignals()
{
    static TSettingsSignals instance;
    return instance;
}
