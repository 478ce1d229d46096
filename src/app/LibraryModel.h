#pragma once

#include "common/FileListModel.h"

// A library row: the package's file name and full path; the path may be empty in a damaged
// library file.
using TLibraryRow = TFileRow;

// The library list: packages in the user's order, shown as the columns "Zuvo" and "Path".
class TLibraryModel : public TFileListModel {
public:
    explicit TLibraryModel(QObject* parent = nullptr) : TFileListModel(QStringLiteral("Zuvo"), parent) {}
};
