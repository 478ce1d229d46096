#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>

// Animated images (GIF, APNG, WebP) read into whole frames: each frame is the full canvas
// at that moment, with the format's disposal and blending applied.

// What every reader holds to, whatever a file claims; checked before any pixels are
// allocated.
inline constexpr int kMaxAnimationFrames = 10000;
inline constexpr int kMaxCanvasSide = 16384;
inline constexpr std::int64_t kMaxAnimationBytes = std::int64_t{1} << 30;  // frames x canvas x 4
// Files are read whole; a bigger one is refused unread.
inline constexpr std::int64_t kMaxAnimationFileSize = std::int64_t{256} << 20;

struct TAnimationInfo {
    int Width = 0;  // the canvas
    int Height = 0;
    int FrameCount = 0;
    // The file can mark pixels see-through (an alpha channel, a transparent colour or index):
    // its frames keep their alpha.
    bool Transparent = false;
};

class TAnimationSink {
public:
    virtual ~TAnimationSink() = default;
    // Once the file's structure has been checked against the limits, before any pixel memory
    // is taken. May raise TError to refuse.
    virtual void Begin(const TAnimationInfo& info) = 0;
    // Every frame in order: the whole canvas as ARGB32 with straight alpha, shown for
    // `delayMs` milliseconds. `canvas` is only valid during the call.
    virtual void Frame(const QImage& canvas, int delayMs) = 0;
    // Polled between frames and between the rows of a frame, on the reading thread (a flag
    // set from elsewhere must be atomic): true stops the reading with the reason
    // "cancelled".
    virtual bool Cancelled() const { return false; }
};

// Each reads a whole file's bytes and raises TError "<name>: <reason>" for damaged data or
// data beyond the limits.
void ReadGif(const QByteArray& data, const QString& name, TAnimationSink& sink);
// A PNG without animation control is read as one frame.
void ReadApng(const QByteArray& data, const QString& name, TAnimationSink& sink);
// A still WebP is read as one frame.
void ReadWebp(const QByteArray& data, const QString& name, TAnimationSink& sink);

// Whether the bytes are a PNG whose animation control chunk, before its image data, names
// more than one frame.
bool IsAnimatedPng(const QByteArray& data);
