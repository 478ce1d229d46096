#pragma once

// What the animation and sprite-sheet imports share; their public face is FrameImport.h.

#include "common/Error.h"
#include "packer/FrameImport.h"

#include <QImage>
#include <QString>

class TAnimationSink;

// Why frames do not fit: what the project has left of the frames it may hold.
QString RoomText(int room);

// Whether any pixel of an ARGB32 image is not wholly opaque.
bool HasClearPixel(const QImage& argb);

// Reads an animation file with the reader its signature names. Raises TError naming the
// file, for a file of no animation format too.
void ReadAnimationFile(const QString& path, TAnimationSink& sink);

// Runs a step of an import: a failure that came of a cancellation is the cancellation.
template <typename Work>
auto Cancellable(const TImportProgress& progress, Work&& work) -> decltype(work())
{
    try {
        return work();
    } catch (const TError&) {
        if (progress.Stopped())
            throw TImportCancelled{};
        throw;
    }
}
