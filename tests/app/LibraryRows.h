#pragma once

#include "app/LibraryFile.h"

// The rows a library file gives, whatever the reason it may not be read whole.
inline QList<TLibraryRow> LibraryRows(const QString& path)
{
    QList<TLibraryRow> rows;
    ReadLibrary(path, rows);
    return rows;
}
