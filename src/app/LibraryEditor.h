#pragma once

#include "app/LibraryModel.h"

#include <QString>
#include <QStringList>

class Prompts;

// The library's rules without widgets, as TPackerEditor holds the packer's: the list, its
// file, which paths the file can keep, and what is said when something cannot be done. The
// library window shows the list and forwards its commands here.
class TLibraryEditor {
public:
    // `libraryFile` is the native path of the library file.
    TLibraryEditor(Prompts& prompts, QString libraryFile);

    TLibraryModel& Model() { return model_; }
    const TLibraryModel& Model() const { return model_; }
    const QString& LibraryFile() const { return libraryFile_; }

    // Appends the file's rows. A file read only in part is named in a warning, and kept as
    // FILE.bak at the next save rather than replaced by what was read of it.
    void Load();
    // Writes the list to the file; a failure is shown in an error box and gives false.
    bool Save();
    // Appends the packages whose paths the file can keep; the others are named in one box.
    void AppendPackages(const QStringList& nativePaths);
    // The row's path when that file exists; otherwise "PATH does not exist!" is shown and
    // the result is empty.
    QString ExistingPath(int row);

private:
    Prompts& prompts_;
    const QString libraryFile_;
    TLibraryModel model_;
    bool damaged_ = false;  // read only in part: kept aside at the next save
};
