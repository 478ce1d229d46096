#include "image/ApngLayout.h"

#include "image/Animation.h"
#include "image/PngChunks.h"

#include <cstring>

namespace apng {

namespace {

bool ValidDepth(int colourType, int depth)
{
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

int DelayMs(std::uint16_t numerator, std::uint16_t denominator)
{
    // A zero denominator means hundredths of a second.
    const std::int64_t den = denominator == 0 ? 100 : denominator;
    return static_cast<int>((std::int64_t{numerator} * 1000 + den / 2) / den);
}

void ReadHeader(const Chunk& chunk, const QString& name, Layout* layout)
{
    if (chunk.type != kIHDR || chunk.length != 13)
        Fail(name, QStringLiteral("the image header does not come first"));
    CheckCrc(chunk, name);
    const std::uint32_t width = Big32(chunk.data);
    const std::uint32_t height = Big32(chunk.data + 4);
    if (width == 0 || height == 0)
        Fail(name, QStringLiteral("the image has no pixels"));
    if (width > kMaxCanvasSide || height > kMaxCanvasSide) {
        Fail(name, QStringLiteral("the canvas is %1 by %2 pixels, more than %3 a side")
                       .arg(width)
                       .arg(height)
                       .arg(kMaxCanvasSide));
    }
    std::memcpy(layout->header, chunk.data + 8, 5);
    const int depth = layout->header[0];
    const int colourType = layout->header[1];
    if (!ValidDepth(colourType, depth))
        Fail(name, QStringLiteral("colour type %1 with %2-bit samples is not valid").arg(colourType).arg(depth));
    if (layout->header[2] != 0 || layout->header[3] != 0 || layout->header[4] > 1)
        Fail(name, QStringLiteral("unknown compression, filter or interlace method"));
    layout->width = static_cast<int>(width);
    layout->height = static_cast<int>(height);
}

// Keeps a transparency chunk that fits the colour type, as libpng would use it.
void ReadTransparency(const Chunk& chunk, Layout* layout)
{
    if (!layout->transparency.isEmpty())
        return;
    const int colourType = layout->header[1];
    const bool fits = (colourType == 0 && chunk.length == 2) || (colourType == 2 && chunk.length == 6) ||
                      (colourType == 3 && chunk.length >= 1 && chunk.length <= static_cast<std::uint32_t>(layout->palette.size() / 3));
    if (fits)
        layout->transparency = QByteArray(reinterpret_cast<const char*>(chunk.data), static_cast<qsizetype>(chunk.length));
}

FrameControl ReadFrameControl(const Chunk& chunk, const Layout& layout, bool beforeImageData, const QString& name)
{
    const int index = static_cast<int>(layout.frames.size());
    const std::uint8_t* d = chunk.data;
    const std::uint32_t width = Big32(d + 4);
    const std::uint32_t height = Big32(d + 8);
    const std::uint32_t x = Big32(d + 12);
    const std::uint32_t y = Big32(d + 16);
    const auto canvasWidth = static_cast<std::uint32_t>(layout.width);
    const auto canvasHeight = static_cast<std::uint32_t>(layout.height);
    if (width == 0 || height == 0 || width > canvasWidth || height > canvasHeight || x > canvasWidth - width ||
        y > canvasHeight - height) {
        Fail(name, QStringLiteral("frame %1 (%2 by %3 at %4, %5) is not inside the %6 by %7 canvas")
                       .arg(index)
                       .arg(width)
                       .arg(height)
                       .arg(x)
                       .arg(y)
                       .arg(canvasWidth)
                       .arg(canvasHeight));
    }
    // The default image is the first frame only when it is the whole canvas.
    if (beforeImageData && (x != 0 || y != 0 || width != canvasWidth || height != canvasHeight))
        Fail(name, QStringLiteral("the first frame does not cover the whole image"));
    FrameControl frame;
    frame.x = static_cast<int>(x);
    frame.y = static_cast<int>(y);
    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    frame.delayMs = DelayMs(Big16(d + 20), Big16(d + 22));
    frame.dispose = d[24];
    frame.blend = d[25];
    if (frame.dispose > kDisposePrevious)
        Fail(name, QStringLiteral("frame %1 has an unknown disposal %2").arg(index).arg(frame.dispose));
    if (frame.blend > kBlendOver)
        Fail(name, QStringLiteral("frame %1 has an unknown blending %2").arg(index).arg(frame.blend));
    frame.fromIdat = beforeImageData;
    return frame;
}

// The walk over a file's chunks that checks its structure and notes where each frame's
// data lies; one member per kind of chunk.
class LayoutReader {
public:
    explicit LayoutReader(const QString& name) : name_(name) {}
    Layout Read(const QByteArray& data);

private:
    enum class Idat { Before, Inside, After };

    void Palette(const Chunk& chunk);
    void AnimationControl(const Chunk& chunk);
    void FrameControlChunk(const Chunk& chunk);
    void ImageData(const Chunk& chunk);
    void FrameData(const Chunk& chunk);
    void Finish();
    void CheckSequence(const Chunk& chunk);
    bool UnfinishedFrame() const { return !layout_.frames.empty() && layout_.frames.back().dataBegin == 0; }

    const QString& name_;
    Layout layout_;
    Idat idat_ = Idat::Before;
    std::size_t idatBegin_ = 0;
    std::size_t idatEnd_ = 0;
    bool animated_ = false;  // an animation control came before the image data
    bool controlBeforeAnimation_ = false;
    std::uint32_t declaredFrames_ = 0;
    std::uint32_t nextSequence_ = 0;
};

Layout LayoutReader::Read(const QByteArray& data)
{
    if (data.size() > kMaxAnimationFileSize)
        Fail(name_, QStringLiteral("the file is larger than %1 MB").arg(kMaxAnimationFileSize >> 20));
    const auto size = static_cast<std::size_t>(data.size());
    if (size < sizeof kSignature || std::memcmp(data.constData(), kSignature, sizeof kSignature) != 0)
        Fail(name_, QStringLiteral("not a PNG file"));

    ChunkWalker walker(data, sizeof kSignature, size);
    Chunk chunk;
    if (!walker.Next(&chunk))
        Fail(name_, walker.Error().isEmpty() ? QStringLiteral("the image header is missing") : walker.Error());
    ReadHeader(chunk, name_, &layout_);

    bool ended = false;
    while (!ended && walker.Next(&chunk)) {
        if (idat_ == Idat::Inside && chunk.type != kIDAT)
            idat_ = Idat::After;
        switch (chunk.type) {
        case kIHDR:
            Fail(name_, QStringLiteral("a second image header"));
        case kPLTE:
            Palette(chunk);
            break;
        case kTRNS:
            CheckCrc(chunk, name_);
            if (idat_ == Idat::Before)
                ReadTransparency(chunk, &layout_);
            break;
        case kACTL:
            AnimationControl(chunk);
            break;
        case kFCTL:
            FrameControlChunk(chunk);
            break;
        case kIDAT:
            ImageData(chunk);
            break;
        case kFDAT:
            FrameData(chunk);
            break;
        case kIEND:
            ended = true;
            break;
        default:
            // Bit 5 of the first letter clear: a chunk the image cannot be shown without.
            if ((chunk.type & 0x20000000) == 0)
                Fail(name_, QStringLiteral("unknown critical chunk %1").arg(TypeName(chunk.type)));
            break;
        }
    }
    if (!walker.Error().isEmpty())
        Fail(name_, walker.Error());
    if (!ended)
        Fail(name_, QStringLiteral("the file ends without its end chunk"));
    Finish();
    return std::move(layout_);
}

void LayoutReader::CheckSequence(const Chunk& chunk)
{
    const std::uint32_t sequence = Big32(chunk.data);
    if (sequence != nextSequence_) {
        Fail(name_, QStringLiteral("chunk %1 has sequence number %2 where %3 belongs")
                        .arg(TypeName(chunk.type))
                        .arg(sequence)
                        .arg(nextSequence_));
    }
    ++nextSequence_;
}

void LayoutReader::Palette(const Chunk& chunk)
{
    CheckCrc(chunk, name_);
    if (idat_ != Idat::Before)
        Fail(name_, QStringLiteral("the palette comes after the image data"));
    if (!layout_.palette.isEmpty())
        Fail(name_, QStringLiteral("a second palette"));
    if (chunk.length == 0 || chunk.length % 3 != 0 || chunk.length > 768)
        Fail(name_, QStringLiteral("a palette of %1 bytes").arg(chunk.length));
    if (layout_.header[1] == 0 || layout_.header[1] == 4)
        Fail(name_, QStringLiteral("a palette in a grey image"));
    layout_.palette = QByteArray(reinterpret_cast<const char*>(chunk.data), static_cast<qsizetype>(chunk.length));
}

void LayoutReader::AnimationControl(const Chunk& chunk)
{
    // After the image data it is no animation: the file is a still.
    if (idat_ != Idat::Before)
        return;
    CheckCrc(chunk, name_);
    if (animated_)
        Fail(name_, QStringLiteral("a second animation control"));
    if (chunk.length != 8)
        Fail(name_, QStringLiteral("an animation control of %1 bytes").arg(chunk.length));
    if (controlBeforeAnimation_)
        Fail(name_, QStringLiteral("a frame control comes before the animation control"));
    declaredFrames_ = Big32(chunk.data);
    if (declaredFrames_ == 0)
        Fail(name_, QStringLiteral("the animation has no frames"));
    if (declaredFrames_ > kMaxAnimationFrames)
        Fail(name_, QStringLiteral("%1 frames, more than %2").arg(declaredFrames_).arg(kMaxAnimationFrames));
    if (std::int64_t{declaredFrames_} * layout_.width * layout_.height * 4 > kMaxAnimationBytes) {
        Fail(name_, QStringLiteral("%1 frames of %2 by %3 pixels need more than %4 MB")
                        .arg(declaredFrames_)
                        .arg(layout_.width)
                        .arg(layout_.height)
                        .arg(kMaxAnimationBytes >> 20));
    }
    animated_ = true;
    layout_.frames.reserve(declaredFrames_);
}

void LayoutReader::FrameControlChunk(const Chunk& chunk)
{
    if (!animated_) {
        controlBeforeAnimation_ = controlBeforeAnimation_ || idat_ == Idat::Before;
        return;
    }
    CheckCrc(chunk, name_);
    if (chunk.length != 26)
        Fail(name_, QStringLiteral("a frame control of %1 bytes").arg(chunk.length));
    CheckSequence(chunk);
    if (UnfinishedFrame())
        Fail(name_, QStringLiteral("frame %1 has no image data").arg(layout_.frames.size() - 1));
    if (layout_.frames.size() == declaredFrames_)
        Fail(name_, QStringLiteral("more frames than the %1 the animation control gives").arg(declaredFrames_));
    layout_.frames.push_back(ReadFrameControl(chunk, layout_, idat_ == Idat::Before, name_));
}

void LayoutReader::ImageData(const Chunk& chunk)
{
    CheckCrc(chunk, name_);
    if (idat_ == Idat::After)
        Fail(name_, QStringLiteral("the image data is split by other chunks"));
    if (idat_ == Idat::Before) {
        idat_ = Idat::Inside;
        idatBegin_ = chunk.begin;
    }
    idatEnd_ = chunk.end;
    if (animated_ && !layout_.frames.empty() && layout_.frames.back().fromIdat) {
        layout_.frames.back().dataBegin = idatBegin_;
        layout_.frames.back().dataEnd = idatEnd_;
    }
}

void LayoutReader::FrameData(const Chunk& chunk)
{
    if (!animated_)
        return;
    CheckCrc(chunk, name_);
    if (chunk.length < 4)
        Fail(name_, QStringLiteral("a frame data chunk without a sequence number"));
    CheckSequence(chunk);
    if (idat_ == Idat::Before)
        Fail(name_, QStringLiteral("frame data comes before the image data"));
    if (layout_.frames.empty() || layout_.frames.back().fromIdat)
        Fail(name_, QStringLiteral("frame data without its frame control"));
    FrameControl& frame = layout_.frames.back();
    if (frame.dataBegin == 0)
        frame.dataBegin = chunk.begin;
    frame.dataEnd = chunk.end;
}

void LayoutReader::Finish()
{
    if (idat_ == Idat::Before)
        Fail(name_, QStringLiteral("no image data"));
    if (layout_.header[1] == 3 && layout_.palette.isEmpty())
        Fail(name_, QStringLiteral("the palette is missing"));
    layout_.transparent = (layout_.header[1] & 4) != 0 || !layout_.transparency.isEmpty();

    if (!animated_) {
        FrameControl still;
        still.width = layout_.width;
        still.height = layout_.height;
        still.fromIdat = true;
        still.dataBegin = idatBegin_;
        still.dataEnd = idatEnd_;
        layout_.frames.assign(1, still);
    } else if (layout_.frames.size() != declaredFrames_) {
        Fail(name_, QStringLiteral("the animation control gives %1 frames, the file has %2")
                        .arg(declaredFrames_)
                        .arg(layout_.frames.size()));
    } else if (UnfinishedFrame()) {
        Fail(name_, QStringLiteral("frame %1 has no image data").arg(layout_.frames.size() - 1));
    }
}

}  // namespace

Layout ReadLayout(const QByteArray& data, const QString& name) { return LayoutReader(name).Read(data); }


}  // namespace apng
