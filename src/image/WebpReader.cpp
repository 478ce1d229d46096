// WebP, animated or still, through libwebp's demuxer and animation decoder: the demuxer
// reads the container (canvas, frames, flags) without decoding, which is checked against
// the limits; the animation decoder then composes each frame, disposal and blending
// included, onto a transparent canvas.

#include "image/Animation.h"

#include "archive/ByteReader.h"
#include "common/Error.h"

#include <QtEndian>

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void Fail(const QString& name, const QString& reason)
{
    throw TError(QStringLiteral("%1: %2").arg(name, reason));
}

// The demuxer keeps a record of every frame and every chunk it does not know, so a file of
// many tiny chunks is refused before it is indexed. A real file has a handful of chunks
// besides its frames.
constexpr int kMaxWebpChunks = 2 * kMaxAnimationFrames;

void CountChunks(const QByteArray& data, const QString& name)
{
    ByteReader in(data.constData(), static_cast<std::size_t>(data.size()));
    const std::uint8_t* riff = in.Bytes(4);
    const std::uint32_t riffSize = in.U32();
    const std::uint8_t* form = in.Bytes(4);
    // A bare VP8 or VP8L stream has no chunks; libwebp judges anything else without a
    // container.
    if (!in.Ok() || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(form, "WEBP", 4) != 0)
        return;
    const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(data.size()), std::size_t{riffSize} + 8);
    int chunks = 0;
    int frames = 0;
    while (in.Position() < end && end - in.Position() >= 8) {
        const std::uint8_t* type = in.Bytes(4);
        const std::size_t size = in.U32();
        if (++chunks > kMaxWebpChunks)
            Fail(name, QStringLiteral("more than %1 chunks").arg(kMaxWebpChunks));
        if (type != nullptr && std::memcmp(type, "ANMF", 4) == 0 && ++frames > kMaxAnimationFrames)
            Fail(name, QStringLiteral("more than %1 frames").arg(kMaxAnimationFrames));
        in.Skip(size + (size & 1));
    }
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

struct DecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

}  // namespace

void ReadWebp(const QByteArray& data, const QString& name, TAnimationSink& sink)
{
    if (data.size() > kMaxAnimationFileSize)
        Fail(name, QStringLiteral("the file is larger than %1 MB").arg(kMaxAnimationFileSize >> 20));
    CountChunks(data, name);

    const WebPData bytes{reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&bytes, &state));
    if (!demux || state == WEBP_DEMUX_PARSE_ERROR)
        Fail(name, QStringLiteral("not a WebP file, or a damaged one"));
    if (state != WEBP_DEMUX_DONE)
        Fail(name, QStringLiteral("the file ends early"));

    const std::uint32_t width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const std::uint32_t height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    const std::uint32_t frames = WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT);
    const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    if (width == 0 || height == 0 || frames == 0)
        Fail(name, QStringLiteral("the file holds no image"));
    if (width > std::uint32_t{kMaxCanvasSide} || height > std::uint32_t{kMaxCanvasSide})
        Fail(name, QStringLiteral("the canvas of %1 by %2 pixels is larger than %3 a side").arg(width).arg(height).arg(kMaxCanvasSide));
    if (frames > std::uint32_t{kMaxAnimationFrames})
        Fail(name, QStringLiteral("more than %1 frames").arg(kMaxAnimationFrames));
    if (std::int64_t{frames} * width * height * 4 > kMaxAnimationBytes)
        Fail(name, QStringLiteral("%1 frames of %2 by %3 pixels are too large").arg(frames).arg(width).arg(height));

    TAnimationInfo info;
    info.Width = static_cast<int>(width);
    info.Height = static_cast<int>(height);
    info.FrameCount = static_cast<int>(frames);
    info.Transparent = (flags & ALPHA_FLAG) != 0;
    sink.Begin(info);

    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        Fail(name, QStringLiteral("libwebp does not match the version built against"));
    // Straight alpha. Bytes blue, green, red, alpha are a QRgb read as little-endian.
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, DecoderDeleter> decoder(WebPAnimDecoderNew(&bytes, &options));
    if (!decoder)
        Fail(name, QStringLiteral("the file is damaged, or there is not enough memory"));
    WebPAnimInfo animation{};
    if (!WebPAnimDecoderGetInfo(decoder.get(), &animation) || animation.canvas_width != width ||
        animation.canvas_height != height || animation.frame_count != frames)
        Fail(name, QStringLiteral("the file is damaged"));

    QImage canvas(info.Width, info.Height, QImage::Format_ARGB32);
    if (canvas.isNull())
        Fail(name, QStringLiteral("out of memory"));
    int previous = 0;
    for (std::uint32_t frame = 1; frame <= frames; ++frame) {
        std::uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderHasMoreFrames(decoder.get()) || !WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
            Fail(name, QStringLiteral("frame %1 is damaged").arg(frame));
        for (int y = 0; y < info.Height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
            std::memcpy(row, pixels + static_cast<std::size_t>(y) * width * 4, std::size_t{width} * 4);
            if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
                for (int x = 0; x < info.Width; ++x)
                    row[x] = qFromLittleEndian(row[x]);
            }
        }
        // Timestamps are when each frame ends, summed by libwebp in an int that a long
        // animation may wrap; the difference of two is the frame's duration (24 bits) still.
        const auto delay = static_cast<int>(static_cast<std::uint32_t>(timestamp) - static_cast<std::uint32_t>(previous));
        previous = timestamp;
        sink.Frame(canvas, delay);
    }
}
