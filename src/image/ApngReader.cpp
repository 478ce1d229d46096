// Animated PNG: the chunks are walked (ApngLayout), each frame is rebuilt as a still PNG in
// memory and decoded by the PNG decoder, and the frames are composed onto the canvas.

#include "common/Error.h"
#include "image/Animation.h"
#include "image/ApngLayout.h"
#include "image/ImageDecoders.h"
#include "image/PngChunks.h"

#include <cstring>
#include <vector>

using namespace apng;

namespace {

// The frame as a still PNG: the file's header with the frame's size, its palette and
// transparency, and the frame's data as one IDAT.
QByteArray FramePng(const QByteArray& file, const Layout& layout, const FrameControl& frame)
{
    const std::uint32_t dataType = frame.fromIdat ? kIDAT : kFDAT;
    const std::size_t skip = frame.fromIdat ? 0 : 4;  // fdAT's sequence number
    QByteArray image;
    // The chunks were checked by ReadLayout; this walk cannot fail.
    Chunk chunk;
    std::size_t total = 0;
    for (ChunkWalker walker(file, frame.dataBegin, frame.dataEnd); walker.Next(&chunk);) {
        if (chunk.type == dataType)
            total += chunk.length - skip;
    }
    image.reserve(static_cast<qsizetype>(total));
    for (ChunkWalker walker(file, frame.dataBegin, frame.dataEnd); walker.Next(&chunk);) {
        if (chunk.type == dataType)
            image.append(reinterpret_cast<const char*>(chunk.data + skip), static_cast<qsizetype>(chunk.length - skip));
    }

    QByteArray header;
    AppendBig32(header, static_cast<std::uint32_t>(frame.width));
    AppendBig32(header, static_cast<std::uint32_t>(frame.height));
    header.append(reinterpret_cast<const char*>(layout.header), 5);

    QByteArray png(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
    png.reserve(image.size() + 1024 + layout.palette.size());
    AppendChunk(png, "IHDR", header);
    if (layout.header[1] == 3)
        AppendChunk(png, "PLTE", layout.palette);
    if (!layout.transparency.isEmpty())
        AppendChunk(png, "tRNS", layout.transparency);
    AppendChunk(png, "IDAT", image);
    AppendChunk(png, "IEND", {});
    return png;
}

// Straight-alpha OVER as the APNG format gives it, in exact integers with rounding.
QRgb Over(QRgb source, QRgb target)
{
    const unsigned alpha = static_cast<unsigned>(qAlpha(source));
    if (alpha == 255)
        return source;
    if (alpha == 0)
        return target;
    const unsigned u = alpha * 255;
    const unsigned v = (255 - alpha) * static_cast<unsigned>(qAlpha(target));
    const unsigned sum = u + v;
    const auto mix = [&](int s, int t) {
        return static_cast<int>((static_cast<unsigned>(s) * u + static_cast<unsigned>(t) * v + sum / 2) / sum);
    };
    return qRgba(mix(qRed(source), qRed(target)), mix(qGreen(source), qGreen(target)), mix(qBlue(source), qBlue(target)),
                 static_cast<int>((sum + 127) / 255));
}

// Puts the decoded rows of one frame onto the canvas.
class FrameComposer : public TImageSink {
public:
    FrameComposer(QImage& canvas, const FrameControl& frame, const QString& name, const TAnimationSink& sink)
        : canvas_(canvas), frame_(frame), name_(name), sink_(sink)
    {
    }

    void Begin(const TImageInfo& info) override
    {
        if (info.Width != frame_.width || info.Height != frame_.height)
            Fail(name_, QStringLiteral("the frame decodes to another size"));
    }

    void Row(int y, const QRgb* pixels) override
    {
        QRgb* target = reinterpret_cast<QRgb*>(canvas_.scanLine(frame_.y + y)) + frame_.x;
        if (frame_.blend == kBlendSource) {
            std::memcpy(target, pixels, static_cast<std::size_t>(frame_.width) * sizeof(QRgb));
            return;
        }
        for (int x = 0; x < frame_.width; ++x)
            target[x] = Over(pixels[x], target[x]);
    }

    bool Cancelled() const override { return sink_.Cancelled(); }

private:
    QImage& canvas_;
    const FrameControl& frame_;
    const QString& name_;
    const TAnimationSink& sink_;
};

// Copies the frame's region of the canvas out to `saved`, or back.
void SaveRegion(const QImage& canvas, const FrameControl& frame, std::vector<QRgb>& saved)
{
    saved.resize(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(frame.y + y)) + frame.x;
        std::memcpy(saved.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width), row,
                    static_cast<std::size_t>(frame.width) * sizeof(QRgb));
    }
}

void RestoreRegion(QImage& canvas, const FrameControl& frame, const std::vector<QRgb>* saved)
{
    for (int y = 0; y < frame.height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(canvas.scanLine(frame.y + y)) + frame.x;
        const auto bytes = static_cast<std::size_t>(frame.width) * sizeof(QRgb);
        if (saved == nullptr)
            std::memset(row, 0, bytes);
        else
            std::memcpy(row, saved->data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width), bytes);
    }
}

}  // namespace

void ReadApng(const QByteArray& data, const QString& name, TAnimationSink& sink)
{
    const Layout layout = ReadLayout(data, name);
    TAnimationInfo info;
    info.Width = layout.width;
    info.Height = layout.height;
    info.FrameCount = static_cast<int>(layout.frames.size());
    info.Transparent = layout.transparent;
    sink.Begin(info);

    QImage canvas(layout.width, layout.height, QImage::Format_ARGB32);
    if (canvas.isNull())
        Fail(name, QStringLiteral("out of memory"));
    canvas.fill(0);
    std::vector<QRgb> saved;
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        const FrameControl& frame = layout.frames[i];
        if (sink.Cancelled())
            Fail(name, QStringLiteral("cancelled"));
        // Nothing before the first frame to go back to: it is cleared instead. After the
        // last, nothing is shown to need the disposal.
        std::uint8_t dispose = i == 0 && frame.dispose == kDisposePrevious ? kDisposeBackground : frame.dispose;
        if (i + 1 == layout.frames.size())
            dispose = kDisposeNone;
        if (dispose == kDisposePrevious)
            SaveRegion(canvas, frame, saved);
        const QString frameName = layout.frames.size() == 1 ? name : QStringLiteral("%1: frame %2").arg(name).arg(i);
        FrameComposer composer(canvas, frame, frameName, sink);
        DecodePngData(FramePng(data, layout, frame), frameName, composer);
        sink.Frame(canvas, frame.delayMs);
        if (dispose == kDisposeBackground)
            RestoreRegion(canvas, frame, nullptr);
        else if (dispose == kDisposePrevious)
            RestoreRegion(canvas, frame, &saved);
    }
}

bool IsAnimatedPng(const QByteArray& data)
{
    const auto size = static_cast<std::size_t>(data.size());
    if (size < sizeof kSignature || std::memcmp(data.constData(), kSignature, sizeof kSignature) != 0)
        return false;
    ChunkWalker walker(data, sizeof kSignature, size);
    Chunk chunk;
    while (walker.Next(&chunk)) {
        if (chunk.type == kIDAT || chunk.type == kIEND)
            return false;
        if (chunk.type == kACTL && chunk.length == 8)
            return Big32(chunk.data) > 1;
    }
    return false;
}
