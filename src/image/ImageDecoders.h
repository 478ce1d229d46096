#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decoders for frame images, chosen by the detected format name through the format
// registry (ImageFormat.h), never by the file's name. Each hands its rows, top to bottom, to a sink as 32-bit ARGB
// with straight alpha, so a caller can place them without holding a whole copy.

// How a PNG marks transparency; BMP and JPEG frames are opaque as far as the sheet goes.
enum class TTransparency {
    None,
    OneColour,  // tRNS on grey or RGB, or a palette with one entry fully clear, the rest opaque
    Partial,    // an alpha channel, or any other palette transparency
};

struct TImageInfo {
    int Width = 0;
    int Height = 0;
    TTransparency Transparency = TTransparency::None;
};

class TImageSink {
public:
    virtual ~TImageSink() = default;
    // Once the header is read, before any pixel memory is taken. May raise TError to refuse.
    virtual void Begin(const TImageInfo& info) = 0;
    // Every row once, top to bottom; `pixels` holds info.Width values.
    virtual void Row(int y, const QRgb* pixels) = 0;
    // Polled between rows and while a multi-scan JPEG's scans are read, on the decoding
    // thread (a flag set from elsewhere must be atomic): true stops the decode with the
    // reason "cancelled".
    virtual bool Cancelled() const { return false; }
    // A sink that keeps the whole image may offer it, Width x Height values in rows one
    // after another, once Begin is over: an interlaced PNG, whose passes each fill part of
    // every row, is then put together there rather than in a copy, and Row hands the sink
    // its own rows.
    virtual QRgb* WholeImage() { return nullptr; }
};

// A JPEG may hold at most this many scans (as djpeg -maxscans): each costs a pass over
// every block, so a small file repeating one scan could take minutes.
inline constexpr int kMaxJpegScans = 100;

// Reads the header only. Raises TError with the decoder's reason.
TImageInfo ReadImageInfo(const QString& path, const QString& format);

// Decodes the whole image into the sink. Raises TError with the decoder's reason; the sink
// may have seen some rows by then.
void DecodeImage(const QString& path, const QString& format, TImageSink& sink);

// Decodes a whole PNG held in memory into the sink, as DecodeImage does a PNG file; `name`
// starts every message.
void DecodePngData(const QByteArray& data, const QString& name, TImageSink& sink);

// The whole image as ARGB32 (straight alpha), refusing one larger than `maxBytes` decoded.
QImage DecodeImage(const QString& path, const QString& format, TImageInfo* info, std::int64_t maxBytes);
