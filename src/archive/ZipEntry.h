#pragma once

#include "archive/ZipRecord.h"

#include <QString>

#include <cstdint>

// One entry of an archive's directory as the extractor lists it: its record, read from its
// central-directory header (or, for a damaged directory, from its local header), and its
// stored name split into folder part and file name.
struct TZipEntry : TZipRecord {
    QString FolderPart;  // stored folder with "\" separators and a trailing "\"; may be empty
    QString FileName;    // empty for a folder entry
    std::uint16_t VersionMadeBy = 0;
};
