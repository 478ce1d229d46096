#pragma once

#include "image/PngEncoder.h"
#include "packer/FrameImport.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Raises TError "<source>: the import was interrupted" once InterruptImports has been called.
void ThrowIfInterrupted(const QString& source);

// The frames of one import, written into a hidden folder of their own beside the project
// and moved into place under a free name only once all are there, so that a failure leaves
// nothing behind and nothing that exists is ever overwritten. The hidden folder's name
// carries the process, so that the next import can tell a dead one's leftovers.
class FrameFolder {
public:
    FrameFolder(const QString& source, const QString& projectFile);

    // How many files there will be, so that their names sort in frame order.
    void Expect(int count);

    // Writes the `area` of `image` as the next frame's PNG file, encoded as it is written.
    // Returns the file's name.
    QString Write(const QImage& image, const QRect& area, TPngKind kind, const TImportProgress& progress);

    // Deletes a frame's file written before, so that it does not go into place.
    void Remove(const QString& name);

    // How many files were written.
    int Count() const { return static_cast<int>(names_.size()); }

    // Moves the folder into place; returns its full path.
    QString Commit();

private:
    QString BaseName() const;

    QString source_;
    QString parent_;
    QTemporaryDir staging_;
    QStringList names_;
    int digits_ = 3;
};
