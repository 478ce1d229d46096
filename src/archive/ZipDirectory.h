#pragma once

#include "archive/ZipEntry.h"

#include <QByteArray>
#include <QIODevice>

#include <cstdint>
#include <vector>

// Reading an archive's directory from any device: the end record (Zip64 too), the central
// directory, and, when that is unusable, a scan of the local headers that stays linear in
// the archive's size whatever its bytes claim.
namespace zipread {

enum class DirectoryState {
    Complete,
    Incomplete,  // no end record: a cut archive, one part of a split one, or no archive
};

struct Directory {
    DirectoryState state = DirectoryState::Complete;
    std::vector<TZipEntry> entries;
};

std::uint64_t FileSize(const QIODevice& device);
// Up to `count` bytes from `offset`, fewer at the end of the device.
QByteArray ReadAt(QIODevice& device, std::uint64_t offset, std::size_t count);

// Raises TZipError when the device holds no archive at all.
Directory ReadArchiveDirectory(QIODevice& device);

}  // namespace zipread
