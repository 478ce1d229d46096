#pragma once

#include "archive/ZipRecord.h"

#include <QByteArray>

#include <cstdint>

// The records the writer puts into an archive, byte for byte: local and central headers and
// the end records, with their Zip64 forms where a value does not fit the classic fields.
namespace zipwrite {

// APPNOTE 4.5; high byte 0 says the host is MS-DOS, so external attributes are MS-DOS bits.
constexpr std::uint16_t kVersionMadeBy = 45;
constexpr std::uint16_t kVersionNeeded = 20;       // deflate
constexpr std::uint16_t kVersionNeededZip64 = 45;  // Zip64 records

// An entry as it goes into both headers, its stored name kept as its bytes.
struct WrittenEntry : TZipRecord {
    QByteArray storedName;
    std::uint16_t versionNeeded = kVersionNeeded;
};

// Values from `sizeLimit` up, and entry counts from `countLimit` up, go into Zip64 fields.
struct Zip64Limits {
    std::uint64_t sizeLimit;
    std::uint64_t countLimit;
};

// With `zip64`, the local header's Zip64 field holds both sizes.
QByteArray LocalHeader(const WrittenEntry& entry, bool zip64);
QByteArray CentralHeader(const WrittenEntry& entry, const Zip64Limits& limits);
// The end-of-central-directory record, led by the Zip64 end record and its locator when the
// count, size or offset needs them; `position` is where these records begin.
QByteArray EndRecords(std::uint64_t count, std::uint64_t directorySize, std::uint64_t directoryOffset,
                      std::uint64_t position, const Zip64Limits& limits);

}  // namespace zipwrite
