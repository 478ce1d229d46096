// WebP, animated or still, through libwebp's demuxer: it reads the container (canvas,
// frames, flags) without decoding, which is checked against the limits; then each frame is
// decoded by libwebp straight into its place on our one canvas, or, when it is blended over
// what is there, into a buffer of its own size first. Composition is libwebp's own animation
// decoder's, to the pixel: its rounding of straight-alpha blending, its key frames (drawn
// without blending), and its leaving unblended the rectangle of a previous frame disposed to
// the background. That decoder is not used itself because it keeps two more canvases.

#include "image/Animation.h"

#include "common/ByteReader.h"
#include "common/Error.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <QRect>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

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

// Straight alpha, each pixel a QRgb in memory.
constexpr WEBP_CSP_MODE kPixelMode = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;

// What decoding a frame may take beside the canvas before the limit counts it: a small
// frame on the largest canvas still decodes.
constexpr std::int64_t kDecodeAllowance = std::int64_t{16} << 20;

struct TWebpFrame {
    QRect Area;  // on the canvas
    int DurationMs = 0;
    bool DisposeToBackground = false;
    // Mixed over the canvas rather than replacing its rectangle; then, when the frame before
    // was cleared after showing, its rectangle is taken from this frame unmixed.
    bool Blended = false;
    QRect Unmixed;
    const std::uint8_t* Bytes = nullptr;
    std::size_t Size = 0;
    std::int64_t DecodeBytes = 0;  // held while the frame is decoded: libwebp's, and ours
};

struct IteratorReleaser {
    void operator()(WebPIterator* iterator) const { WebPDemuxReleaseIterator(iterator); }
};

// Every frame's place and composition, checked without decoding.
std::vector<TWebpFrame> PlanFrames(WebPDemuxer* demux, const QSize& canvas, int count, const QString& name)
{
    std::vector<TWebpFrame> frames;
    frames.reserve(static_cast<std::size_t>(count));
    WebPIterator iterator{};
    const std::unique_ptr<WebPIterator, IteratorReleaser> release(&iterator);
    bool previousKey = false;
    bool previousCleared = false;
    QRect previous;
    for (int number = 1; number <= count; ++number) {
        if (!(number == 1 ? WebPDemuxGetFrame(demux, 1, &iterator) : WebPDemuxNextFrame(&iterator)))
            Fail(name, QStringLiteral("frame %1 is damaged").arg(number));
        WebPBitstreamFeatures features{};
        const QRect area(iterator.x_offset, iterator.y_offset, iterator.width, iterator.height);
        if (WebPGetFeatures(iterator.fragment.bytes, iterator.fragment.size, &features) != VP8_STATUS_OK ||
            features.width != iterator.width || features.height != iterator.height || area.isEmpty() ||
            !QRect(QPoint(0, 0), canvas).contains(area))
            Fail(name, QStringLiteral("frame %1 is damaged").arg(number));
        const bool whole = area.size() == canvas;
        const bool blends = iterator.blend_method == WEBP_MUX_BLEND;
        // A key frame starts from a clear canvas: the first, one that covers it all without
        // mixing, or one after a frame that left the canvas clear.
        const bool key = number == 1 || (whole && (!iterator.has_alpha || !blends)) ||
                         (previousCleared && (previous.size() == canvas || previousKey));
        TWebpFrame frame;
        frame.Area = area;
        frame.DurationMs = iterator.duration;
        frame.DisposeToBackground = iterator.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND;
        frame.Blended = !key && blends && iterator.has_alpha;
        if (frame.Blended && previousCleared)
            frame.Unmixed = previous;
        frame.Bytes = iterator.fragment.bytes;
        frame.Size = iterator.fragment.size;
        // A lossless image is decoded whole inside libwebp before it is handed over, and an
        // alpha plane beside a lossy one too, with a lossless decoder of its own; a blended
        // frame is decoded into its own buffer first.
        const std::int64_t pixels = std::int64_t{area.width()} * area.height();
        frame.DecodeBytes = pixels * ((features.format == 2 ? 4 : features.has_alpha ? 5 : 0) + (frame.Blended ? 4 : 0));
        frames.push_back(frame);
        previousKey = key;
        previousCleared = frame.DisposeToBackground;
        previous = area;
    }
    return frames;
}

// Decodes a frame into `out`, rows `stride` bytes apart.
bool DecodeFrame(const TWebpFrame& frame, std::uint8_t* out, int stride)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return false;
    config.options.use_threads = 0;
    config.output.colorspace = kPixelMode;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out;
    config.output.u.RGBA.stride = stride;
    config.output.u.RGBA.size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(frame.Area.height() - 1) +
                                static_cast<std::size_t>(frame.Area.width()) * 4;
    const bool decoded = WebPDecode(frame.Bytes, frame.Size, &config) == VP8_STATUS_OK;
    WebPFreeDecBuffer(&config.output);
    return decoded;
}

// Straight-alpha `source` over `target` as libwebp's animation decoder mixes them, in its
// integers: the same pixels come out.
QRgb Blend(QRgb source, QRgb target)
{
    const std::uint32_t alpha = static_cast<std::uint32_t>(qAlpha(source));
    if (alpha == 255)
        return source;
    if (alpha == 0)
        return target;
    const std::uint32_t under = (static_cast<std::uint32_t>(qAlpha(target)) * (256 - alpha)) >> 8;
    const std::uint32_t total = alpha + under;
    const std::uint32_t scale = (std::uint32_t{1} << 24) / total;
    const auto mix = [&](int s, int t) {
        const std::uint32_t unscaled = static_cast<std::uint32_t>(s) * alpha + static_cast<std::uint32_t>(t) * under;
        return static_cast<int>((unscaled * scale) >> 24);  // below 255 * 2^24: no overflow
    };
    return qRgba(mix(qRed(source), qRed(target)), mix(qGreen(source), qGreen(target)), mix(qBlue(source), qBlue(target)),
                 static_cast<int>(total));
}

// Draws `frame` on the canvas, replacing its area or blended over it; `mixed` holds a
// blended frame before it is mixed in. False for a frame that cannot be decoded.
bool PaintFrame(QImage& canvas, const TWebpFrame& frame, std::vector<QRgb>& mixed)
{
    const QRect& area = frame.Area;
    // Asked afresh each time: a sink may have kept the last frame.
    const qsizetype stride = canvas.bytesPerLine();
    std::uint8_t* place = canvas.bits() + area.top() * stride + static_cast<qsizetype>(area.left()) * 4;
    if (!frame.Blended)
        return DecodeFrame(frame, place, static_cast<int>(stride));
    mixed.resize(static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height()));
    if (!DecodeFrame(frame, reinterpret_cast<std::uint8_t*>(mixed.data()), area.width() * 4))
        return false;
    for (int y = 0; y < area.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(place + y * stride);
        const QRgb* source = mixed.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(area.width());
        const int canvasY = area.top() + y;
        for (int x = 0; x < area.width(); ++x)
            row[x] = frame.Unmixed.contains(area.left() + x, canvasY) ? source[x] : Blend(source[x], row[x]);
    }
    return true;
}

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
    const std::int64_t canvasBytes = std::int64_t{width} * height * 4;
    if (frames * canvasBytes > kMaxAnimationBytes)
        Fail(name, QStringLiteral("%1 frames of %2 by %3 pixels are too large").arg(frames).arg(width).arg(height));

    const QSize size(static_cast<int>(width), static_cast<int>(height));
    const std::vector<TWebpFrame> plan = PlanFrames(demux.get(), size, static_cast<int>(frames), name);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (canvasBytes + plan[i].DecodeBytes > kMaxAnimationBytes + kDecodeAllowance) {
            Fail(name, QStringLiteral("frame %1 of %2 by %3 pixels takes %4 MB to decode beside the canvas of %5 by %6 "
                                      "pixels, more than the %7 MB an animation may take")
                           .arg(i + 1)
                           .arg(plan[i].Area.width())
                           .arg(plan[i].Area.height())
                           .arg(plan[i].DecodeBytes >> 20)
                           .arg(width)
                           .arg(height)
                           .arg(kMaxAnimationBytes >> 20));
        }
    }

    TAnimationInfo info;
    info.Width = size.width();
    info.Height = size.height();
    info.FrameCount = static_cast<int>(frames);
    info.Transparent = (flags & ALPHA_FLAG) != 0;
    sink.Begin(info);

    QImage canvas(size, QImage::Format_ARGB32);
    if (canvas.isNull())
        Fail(name, QStringLiteral("out of memory"));
    canvas.fill(0);
    std::vector<QRgb> mixed;  // a blended frame, before it is mixed in
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (sink.Cancelled())
            Fail(name, QStringLiteral("cancelled"));
        const TWebpFrame& frame = plan[i];
        const QRect& area = frame.Area;
        if (!PaintFrame(canvas, frame, mixed))
            Fail(name, QStringLiteral("frame %1 is damaged").arg(i + 1));
        sink.Frame(canvas, frame.DurationMs);
        if (frame.DisposeToBackground && i + 1 < plan.size()) {
            for (int y = area.top(); y <= area.bottom(); ++y) {
                auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
                std::fill(row + area.left(), row + area.left() + area.width(), QRgb{0});
            }
        }
    }
}
