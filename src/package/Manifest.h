#pragma once

#include "package/Zvk.h"

#include <QString>

#include <cstdint>
#include <optional>

// Reads the manifest into `zvk`, appending its actions. Never raises: the first error of any
// kind ends the reading, keeping the actions read completely before it, and is returned.
// More than kMaxPackageActions actions or kMaxPackageFrames frames is such an error. A
// motion part that cannot be read is left out and reading goes on; the first such is
// returned when nothing worse happened.
std::optional<QString> ReadManifest(const QString& manifestPath, TZvk& zvk);

// Writes the package's manifest: every action with its name, its frames (index and
// rectangle in the sprite sheet), its audio member names and the motion parts it has set.
// Replaces the file atomically; raises TError on failure.
void WriteManifest(const TZvk& zvk, const QString& manifestPath);

// The manifest's integer form: leading spaces, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing after, within 32 bits.
std::optional<std::int32_t> ParseManifestInteger(const QString& text);
