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
#include <vector>

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

// A settings file that is a pipe or a device would never end reading, and one of many
// megabytes would cost its size in memory and in time at every write: only a regular file of
// a sane size, or none yet, is used. Any other is left as it is, for its owner to look at.
bool Usable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isFile()) {
        ReportNotKept(QStringLiteral("%1 is not a regular file").arg(path));
        return false;
    }
    if (info.size() > kMaxSettingsBytes) {
        ReportNotKept(QStringLiteral("%1 is larger than %2 MiB and is left as it is").arg(path).arg(kMaxSettingsBytes >> 20));
        return false;
    }
    return true;
}

// Drops what this process keeps under `key` ("key/...").
void ForgetUnder(const QString& key)
{
    auto& values = SessionValues();
    const QString under = key + u'/';
    for (auto it = values.lower_bound(under); it != values.end() && it->first.startsWith(under);)
        it = values.erase(it);
}

// A value in this process's own keeping; a removal takes what lies under it along.
void KeepForSession(const QString& key, const QVariant& value)
{
    if (!value.isValid())
        ForgetUnder(key);
    SessionValues()[key] = value;
}

// The file has the value: what this process kept of it goes.
void ForgetSession(const QString& key)
{
    SessionValues().erase(key);
    ForgetUnder(key);
}

// The settings file, read once and kept: read again only when its path or the file itself
// changed under us (another Zuvora, a person with an editor).
class KeptSettings {
public:
    QSettings* Get()
    {
        // In a batch, the file as found at its first use is the one used throughout: the
        // writes wait in it, and many reads should not each cost a look at the disk.
        if (held_ && settings_)
            return settings_.get();
        const QString path = SettingsFilePath();
        if (!Usable(path))
            return nullptr;
        const Stamp now = StampOf(path);
        if (!settings_ || path_ != path || now != stamp_) {
            settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
            path_ = path;
            stamp_ = now;
        }
        held_ = holding_;
        return settings_.get();
    }
    // After our own write: the file as it is now is the one read.
    void Written() { stamp_ = StampOf(path_); }
    // While a batch is open.
    void Hold(bool on)
    {
        holding_ = on;
        held_ = false;
    }

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
    bool holding_ = false;
    bool held_ = false;
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

namespace {

// Writes made since the file was last written, in order, and how many batches are open.
struct TPending {
    std::vector<std::pair<QString, QVariant>> Values;
    int Batches = 0;
};

TPending& Pending()
{
    static TPending pending;
    return pending;
}

// Writes the file with every pending value; what it cannot keep holds for this process.
void Flush()
{
    const auto values = std::exchange(Pending().Values, {});
    if (values.empty())
        return;
    const QString path = SettingsFilePath();
    bool kept = false;
    if (QSettings* settings = Kept().Get()) {
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
    for (const auto& [key, value] : values) {
        if (kept)
            ForgetSession(key);
        else
            KeepForSession(key, value);
    }
}

}  // namespace

void WriteSetting(const QString& key, const QVariant& value)
{
    QSettings* settings = Kept().Get();
    if (settings == nullptr) {
        KeepForSession(key, value);
        return;
    }
    if (value.isValid())
        settings->setValue(key, value);
    else
        settings->remove(key);
    Pending().Values.emplace_back(key, value);
    if (Pending().Batches == 0)
        Flush();
}

QStringList SettingGroups(const QString& group)
{
    QSettings* settings = Kept().Get();
    if (settings == nullptr)
        return {};
    settings->beginGroup(group);
    QStringList groups = settings->childGroups();
    settings->endGroup();
    return groups;
}

TSettingsBatch::TSettingsBatch()
{
    if (Pending().Batches++ == 0)
        Kept().Hold(true);
}

TSettingsBatch::~TSettingsBatch()
{
    if (--Pending().Batches > 0)
        return;
    Flush();
    Kept().Hold(false);
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
