#include "common/Settings.h"

#include "common/AppDirs.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <map>
#include <memory>
#include <tuple>
#include <utility>

namespace {

const QString kTransparentKey = QStringLiteral("Player/Transparent");

// Choices made in this process once the file could not keep them, so that they still hold
// until Zuvora ends. Settings are used on the UI thread alone.
std::map<QString, QVariant>& SessionValues()
{
    static std::map<QString, QVariant> values;
    return values;
}

// Said once a run, after the windows are there to hear it.
void ReportNotKept(const QString& reason)
{
    static bool said = false;
    if (std::exchange(said, true))
        return;
    const QString text = QStringLiteral("Settings cannot be kept: %1. Choices hold until Zuvora ends.").arg(reason);
    QMetaObject::invokeMethod(
        &SettingsSignals(), [text] { emit SettingsSignals().SettingsNotKept(text); }, Qt::QueuedConnection);
}

// A settings file that is a pipe or a device would never end reading; only a regular file,
// or none yet, is used.
bool Usable(const QString& path)
{
    const QFileInfo info(path);
    if ((!info.exists() && !info.isSymLink()) || info.isFile())
        return true;
    ReportNotKept(QStringLiteral("%1 is not a regular file").arg(path));
    return false;
}

// The settings file, read once and kept: read again only when its path or the file itself
// changed under us (another Zuvora, a person with an editor).
class KeptSettings {
public:
    QSettings* Get()
    {
        const QString path = SettingsFilePath();
        if (!Usable(path))
            return nullptr;
        const Stamp now = StampOf(path);
        if (!settings_ || path_ != path || now != stamp_) {
            settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
            path_ = path;
            stamp_ = now;
        }
        return settings_.get();
    }
    // After our own write: the file as it is now is the one read.
    void Written() { stamp_ = StampOf(path_); }

private:
    using Stamp = std::tuple<bool, qint64, qint64>;  // exists, modified (ms), size
    static Stamp StampOf(const QString& path)
    {
        const QFileInfo info(path);
        return {info.exists(), info.lastModified().toMSecsSinceEpoch(), info.size()};
    }

    std::unique_ptr<QSettings> settings_;
    QString path_;
    Stamp stamp_;
};

KeptSettings& Kept()
{
    static KeptSettings kept;
    return kept;
}

}  // namespace

QString SettingsFilePath()
{
    // An explicit file, not QSettings' own lookup, which keeps the first folder it found
    // for the life of the process.
    const QDir config(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return QDir::toNativeSeparators(config.filePath(kAppTitle + u'/' + kAppTitle + QStringLiteral(".conf")));
}

QVariant ReadSetting(const QString& key, const QVariant& fallback)
{
    if (const auto kept = SessionValues().find(key); kept != SessionValues().end())
        return kept->second.isValid() ? kept->second : fallback;
    QSettings* settings = Kept().Get();
    return settings != nullptr ? settings->value(key, fallback) : fallback;
}

void WriteSetting(const QString& key, const QVariant& value)
{
    const QString path = SettingsFilePath();
    bool kept = false;
    if (QSettings* settings = Kept().Get()) {
        if (value.isValid())
            settings->setValue(key, value);
        else
            settings->remove(key);
        settings->sync();
        Kept().Written();
        kept = settings->status() == QSettings::NoError;
        if (!kept) {
            // QSettings says no more than "access error": the folder or file says why.
            QDir().mkpath(QFileInfo(path).absolutePath());
            QSaveFile probe(path);
            ReportNotKept(probe.open(QIODevice::WriteOnly) ? QStringLiteral("%1 cannot be written").arg(path)
                                                           : QStringLiteral("%1: %2").arg(path, probe.errorString()));
        }
    }
    if (kept)
        SessionValues().erase(key);
    else
        SessionValues()[key] = value;
}

bool TransparentPet() { return ReadSetting(kTransparentKey, true).toBool(); }

void SetTransparentPet(bool on)
{
    WriteSetting(kTransparentKey, on);
    emit SettingsSignals().TransparentPetChanged(on);
}

TSettingsSignals& SettingsSignals()
{
    static TSettingsSignals instance;
    return instance;
}
