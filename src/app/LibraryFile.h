#pragma once

#include "app/LibraryModel.h"

// The library file "Zuvora.Dat": an XML list of package paths, each stored relative to
// the file's own folder.

// Reads the file (native path). Never fails: a missing file gives no rows, and the first
// error of any kind ends reading silently, keeping the rows read before it.
QList<TLibraryRow> ReadLibrary(const QString& libraryPath);

// Replaces the file atomically with the rows. Raises TError with the reason on failure,
// leaving the old file as it was.
void WriteLibrary(const QString& libraryPath, const QList<TLibraryRow>& rows);
