#pragma once

#include "package/PackageCache.h"
#include "package/Zvk.h"

#include <optional>

// Loads a package as the player's show does: the same cache folder (under $APPDATA/Zuvora,
// named after the package's absolute path), the same extraction and manifest reading.
struct TExtractedPackage {
    QString Path;  // absolute, as the library hands it to the player
    TCacheResult Cache;
    TZvk Zvk;
    std::optional<QString> ManifestFailure;  // why the manifest could be read only in part
};
TExtractedPackage LoadPackage(const QString& argument);
