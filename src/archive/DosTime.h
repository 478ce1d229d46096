#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

// MS-DOS time stamps and attributes, as ZIP headers carry them.

struct TDosDateTime {
    std::uint16_t Time = 0;  // bits 15-11 hour, 10-5 minute, 4-0 seconds / 2
    std::uint16_t Date = 0;  // bits 15-9 years since 1980, 8-5 month, 4-0 day

    // Date in the high half, time in the low half: later stamps compare greater.
    std::uint32_t Packed() const { return (std::uint32_t{Date} << 16) | Time; }
};

// Local time to MS-DOS form; seconds are rounded down to an even number, years before 1980
// become 1980-01-01 00:00 and years after 2107 become 2107-12-31 23:59:58.
TDosDateTime ToDosDateTime(const QDateTime& time);
// The same for a time in seconds since the epoch, without Qt's time-zone lookups: cheap
// enough to compare every entry of an archive with the file it would replace.
TDosDateTime ToDosDateTime(std::int64_t secondsSinceEpoch);
// Impossible fields (month 0, day 31 in April, hour 25) clamped into range, as
// FromDosDateTime reads them.
TDosDateTime NormaliseDosDateTime(TDosDateTime stamp);
// MS-DOS form to local time; impossible fields (month 0, day 31 in April) are clamped into range.
QDateTime FromDosDateTime(TDosDateTime stamp);
// The same as seconds since the epoch, through the C library alone: cheap enough for every
// entry of an archive.
std::int64_t SecondsSinceEpoch(TDosDateTime stamp);

// MS-DOS attribute bits.
enum : std::uint32_t {
    kDosReadOnly = 0x01,
    kDosHidden = 0x02,
    kDosSystem = 0x04,
    kDosDirectory = 0x10,
    kDosArchive = 0x20,
};

// A file's attributes as this system can tell them: read-only when it has no write permission
// bit, hidden when its name begins with ".", directory for a folder, archive for a file.
// The system attribute never occurs here.
std::uint32_t DosAttributesOf(const QString& nativePath);

// Gives the file the read-only state of `attributes` (the other bits have no counterpart
// here). Returns false when the permissions could not be set.
bool ApplyDosAttributes(const QString& nativePath, std::uint32_t attributes);
