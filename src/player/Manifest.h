#pragma once

#include "player/Zvk.h"

#include <QString>

#include <cstdint>
#include <optional>

// Reads the manifest into `zvk`, appending its actions. Never fails: the first error of any
// kind ends the reading silently, keeping the actions read completely before it.
void ReadManifest(const QString& manifestPath, TZvk& zvk);

// The manifest's integer form: leading spaces, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing after, within 32 bits.
std::optional<std::int32_t> ParseManifestInteger(const QString& text);
