#include "archive/DosTime.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

TDosDateTime ToDosDateTime(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QTime clock = local.time();
    if (date.year() < 1980)
        return {0, (0 << 9) | (1 << 5) | 1};
    if (date.year() > 2107)
        return {(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31};
    TDosDateTime stamp;
    stamp.Time = static_cast<std::uint16_t>((clock.hour() << 11) | (clock.minute() << 5) | (clock.second() / 2));
    stamp.Date = static_cast<std::uint16_t>(((date.year() - 1980) << 9) | (date.month() << 5) | date.day());
    return stamp;
}

QDateTime FromDosDateTime(TDosDateTime stamp)
{
    const int year = 1980 + (stamp.Date >> 9);
    const int month = std::clamp((stamp.Date >> 5) & 0x0F, 1, 12);
    const int day = std::clamp(stamp.Date & 0x1F, 1, QDate(year, month, 1).daysInMonth());
    const int hour = std::min(stamp.Time >> 11, 23);
    const int minute = std::min((stamp.Time >> 5) & 0x3F, 59);
    const int second = std::min((stamp.Time & 0x1F) * 2, 58);
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime);
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
