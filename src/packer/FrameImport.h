#pragma once

#include "image/ImageDecoders.h"
#include "package/Motion.h"
#include "package/PackageLayout.h"

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

// Turning the art people have into frame files a project can list: the frames of an
// animation (GIF, APNG, WebP) or the cells of a sprite sheet, written as PNG files into a
// new folder beside the project file, named after the source (cat.gif gives cat/000.png...).

// How an import that takes a while tells how far it is, and how it is stopped. Both are
// called on the importing thread; an empty one is never called.
struct TImportProgress {
    // `done` steps (frames, cells or rows) of `total`.
    std::function<void(int done, int total)> Step;
    // Asked between rows and frames: true stops the import, which raises TImportCancelled.
    std::function<bool()> Cancelled;

    bool Stopped() const { return Cancelled && Cancelled(); }
    void Report(int done, int total) const
    {
        if (Step)
            Step(done, total);
    }
};

// What an import raises when it was stopped; it leaves nothing behind, as a failed one.
struct TImportCancelled {};

// How an animation's frames go into the frame list of an action that plays every entry for
// `FrameMs`: each frame takes `Entries[i]` consecutive entries, 0 for a frame left out (it
// is shorter than half a frame time and falls between two entries).
struct TAnimationTiming {
    int FrameMs = kFrameMs;
    QList<int> Entries;
    std::int64_t Total = 0;  // the sum of Entries
};

// The timing of frames shown for `delays` ms each. The frame time is `frameMs` when given;
// else the delays' greatest common divisor when it is kMinInterval or more, so that every
// frame is a whole number of entries; else the commonest delay (of equals, the shortest).
// Either is held to kMinInterval..kMaxInterval. Frame i starts at entry round(S / T), S the
// sum of the delays before it, and the last ends at round(total / T): every frame starts
// within half a frame time of where the animation shows it, and the whole lasts within one
// frame time of the animation. When no delay is more than 0 (the file says nothing of its
// pace) each frame takes one entry; the animation keeps at least one entry.
TAnimationTiming AnimationTiming(const QList<int>& delays, std::optional<int> frameMs = std::nullopt);

// Makes every import under way fail at its next frame as any failure does, so that its
// temporary folder goes. Only stores the signal: a signal handler may call it.
void InterruptImports(int signal);
// The signal InterruptImports was given; 0 while there was none.
int ImportInterruption();

// How a sprite sheet is cut: into `Columns` x `Rows` cells, which must divide the picture
// exactly, or into cells of `CellSize`, pixels beyond the last whole cell left out.
struct TSheetGrid {
    enum class Kind { Count, CellSize };
    Kind By = Kind::Count;
    int Columns = 1;
    int Rows = 1;
    QSize CellSize;
};

// The cells of an image of `size`, in reading order; empty when the grid does not fit the
// image or would cut more than kMaxAnimationFrames cells.
QList<QRect> GridCells(QSize size, const TSheetGrid& grid);
// Why a count of columns or rows does not divide an image of `size` (the cells would slice
// the creatures), naming the counts that would; empty when it does, or for a cell size.
QString GridLeftover(QSize size, const TSheetGrid& grid);

// A picture to cut into cells: straight ARGB32, and how its file marks transparency.
struct TSheetImage {
    QImage Image;
    TTransparency Transparency = TTransparency::None;
};

// Reads a file of a format taken as a sprite sheet (of an animation, its first frame).
// Raises TError naming the file and the reason.
TSheetImage LoadSheetImage(const QString& path, const TImportProgress& progress = {});
// The size of that picture, read from the file's header (for a GIF, its structure) without
// decoding any pixels. Raises TError as LoadSheetImage does.
QSize SheetImageSize(const QString& path);

// Whether every pixel of the cell would be see-through on the pet.
bool IsClearCell(const TSheetImage& sheet, const QRect& cell);

// Whether a file chosen for a frame list is imported into frames rather than listed as it
// is: a file named as an animation format (GIF, APNG, WebP), or a still's file that holds
// an animation (a PNG can). Other files are listed, and their content decides at the build,
// as always.
bool IsImportedImage(const QString& path);

struct TImportedAnimation {
    QStringList Entries;     // the frame files' full paths in play order, each repeated
    int FrameMs = kFrameMs;  // the frame time they are repeated for
};

// Imports the frames of an animation file (a still GIF or WebP gives one frame), repeated
// for their delays as AnimationTiming says at `frameMs`, or at the frame time it chooses.
// Frames left out are not kept in the folder. Raises TError naming the file and the reason,
// leaving nothing behind; so also when the entries would be more than `room`, what the
// project has left of the frames it may hold. The frames' folder is named after the file,
// made a name the project file keeps as it is.
TImportedAnimation ImportAnimation(const QString& path, const QString& projectFile, int room = kMaxPackageFrames,
                                   const TImportProgress& progress = {}, std::optional<int> frameMs = std::nullopt);

// Imports the cells of a sprite sheet that are not wholly see-through, in reading order.
// Raises TError as ImportAnimation does; a grid that does not fit the picture is refused
// from the file's header, before anything is decoded.
QStringList ImportSpriteSheet(const QString& path, const QString& projectFile, const TSheetGrid& grid,
                              int room = kMaxPackageFrames, const TImportProgress& progress = {});
QStringList ImportSpriteSheet(const TSheetImage& sheet, const QString& path, const QString& projectFile,
                              const TSheetGrid& grid, int room = kMaxPackageFrames,
                              const TImportProgress& progress = {});
