#include "archive/DosTime.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <ctime>

namespace {

TDosDateTime DosFields(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980)
        return {0, (0 << 9) | (1 << 5) | 1};
    if (year > 2107)
        return {(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31};
    TDosDateTime stamp;
    stamp.Time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    stamp.Date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    return stamp;
}

}  // namespace

TDosDateTime ToDosDateTime(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QTime clock = local.time();
    return DosFields(date.year(), date.month(), date.day(), clock.hour(), clock.minute(), clock.second());
}


TDosDateTime ToDosDateTime(std::int64_t secondsSinceEpoch)
{
    const auto time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr)
        return DosFields(1980, 1, 1, 0, 0, 0);
    return DosFields(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                     std::min(local.tm_sec, 59));
}

TDosDateTime NormaliseDosDateTime(TDosDateTime stamp)
{
    const int year = 1980 + (stamp.Date >> 9);
    const int month = std::clamp((stamp.Date >> 5) & 0x0F, 1, 12);
    const int day = std::clamp(stamp.Date & 0x1F, 1, QDate(year, month, 1).daysInMonth());
    const int hour = std::min(stamp.Time >> 11, 23);
    const int minute = std::min((stamp.Time >> 5) & 0x3F, 59);
    const int second = std::min((stamp.Time & 0x1F) * 2, 58);
    return DosFields(year, month, day, hour, minute, second);
}

QDateTime FromDosDateTime(TDosDateTime stamp)
{
    const TDosDateTime valid = NormaliseDosDateTime(stamp);
    // Local time is the default; the constructor taking a time spec is deprecated in newer Qt.
    return QDateTime(QDate(1980 + (valid.Date >> 9), (valid.Date >> 5) & 0x0F, valid.Date & 0x1F),
                     QTime(valid.Time >> 11, (valid.Time >> 5) & 0x3F, (valid.Time & 0x1F) * 2));
}

std::int64_t SecondsSinceEpoch(TDosDateTime stamp)
{
    const TDosDateTime valid = NormaliseDosDateTime(stamp);
    std::tm local{};
    local.tm_year = 80 + (valid.Date >> 9);
    local.tm_mon = ((valid.Date >> 5) & 0x0F) - 1;
    local.tm_mday = valid.Date & 0x1F;
    local.tm_hour = valid.Time >> 11;
    local.tm_min = (valid.Time >> 5) & 0x3F;
    local.tm_sec = (valid.Time & 0x1F) * 2;
    // mktime() looks at the time-zone file on every call; localtime_r() does not. So the
    // fields are read as UTC and shifted by the local offset at that moment (checked once
    // more, for the offset on the other side of a daylight-saving change).
    const std::time_t asUtc = timegm(&local);
    std::tm offset{};
    std::time_t time = asUtc;
    if (localtime_r(&time, &offset) == nullptr)
        return static_cast<std::int64_t>(asUtc);
    time = asUtc - offset.tm_gmtoff;
    std::tm check{};
    if (localtime_r(&time, &check) != nullptr && check.tm_gmtoff != offset.tm_gmtoff)
        time = asUtc - check.tm_gmtoff;
    return static_cast<std::int64_t>(time);
}

std::uint32_t DosAttributesOf(const QString& nativePath)
{
    const QFileInfo info(nativePath);
    std::uint32_t attributes = 0;
    if (!(info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)))
        attributes |= kDosReadOnly;
    if (info.fileName().startsWith(u'.'))
        attributes |= kDosHidden;
    attributes |= info.isDir() ? kDosDirectory : kDosArchive;
    return attributes;
}

bool ApplyDosAttributes(const QString& nativePath, std::uint32_t attributes)
{
    QFile::Permissions permissions = QFile::permissions(nativePath);
    constexpr QFile::Permissions kWrite = QFile::WriteOwner | QFile::WriteUser;
    if (attributes & kDosReadOnly)
        permissions &= ~(QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther);
    else
        permissions |= kWrite;
    return QFile::setPermissions(nativePath, permissions);
}
