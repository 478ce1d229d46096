#pragma once

// The structure of a GIF file, walked block by block without decoding: its frames, their
// rectangles and how each is disposed of, checked against the limits.

#include <QByteArray>
#include <QString>

#include <vector>

namespace gif {

enum class TDisposal { Keep, Clear, Restore };

struct TGifFrame {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool Interlaced = false;
    int Colours = 0;  // entries in the table the frame uses; 0 without one
    // From the graphic control block before the frame, if any.
    TDisposal Disposal = TDisposal::Keep;
    int DelayMs = 0;
    int TransparentIndex = -1;
};

struct TGifLayout {
    int Width = 0;
    int Height = 0;
    std::vector<TGifFrame> Frames;
};

// Raises TError "<name>: <reason>".
[[noreturn]] void Fail(const QString& name, const QString& reason);

// The structure pass: every block is walked over without decoding, so the frames and their
// rectangles are known, and the file is known to be whole, before any pixel is touched.
// Each step consumes bytes, so the walk is bounded by the data.
TGifLayout WalkGif(const QByteArray& data, const QString& name);

// Fixes the canvas and holds the frames to the limits; raises TError otherwise.
void CheckLayout(TGifLayout& layout, const QString& name);

}  // namespace gif
