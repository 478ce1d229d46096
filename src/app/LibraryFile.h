#pragma once

#include "app/LibraryModel.h"

#include <optional>

// The library file "Zuvora.Dat": an XML list of package paths, each stored relative to
// the file's own folder.

inline const QString kLibraryFileName = QStringLiteral("Zuvora.Dat");

// Where the library file lives: beside the program when a file is there already, or when the
// program's folder can be written to and is not an installed prefix's bin (one with
// share/zuvora beside it); otherwise in the application folder under the application-data
// folder ($APPDATA, else $XDG_DATA_HOME, else ~/.local/share).
QString LibraryFilePath(const QString& executableFolder, const QString& appDataFolder);

// Appends the rows of the file (native path) to `rows`. Never raises: a missing file gives
// no rows, and the first error of any kind ends reading, keeping the rows read before it,
// and is returned. Anything but a regular file is not opened at all.
std::optional<QString> ReadLibrary(const QString& libraryPath, QList<TLibraryRow>& rows);

// Whether a package path comes back as itself after being stored in the library file at
// `libraryPath`: control characters, a "\" in a name, a name that looks like a drive or a
// path too long for the system would lead elsewhere.
bool StoresFaithfully(const QString& libraryPath, const QString& packagePath);

// Replaces the file atomically with the rows. Raises TError with the reason on failure,
// leaving the old file as it was.
void WriteLibrary(const QString& libraryPath, const QList<TLibraryRow>& rows);
