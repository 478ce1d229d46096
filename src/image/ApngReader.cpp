// Animated PNG: the chunks are walked here, each frame is rebuilt as a still PNG in memory
// and decoded by the PNG decoder, and the frames are composed onto the canvas.

#include "common/ByteReader.h"
#include "common/Error.h"
#include "image/Animation.h"
#include "image/ImageDecoders.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::uint32_t Tag(const char (&name)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3]));
}

constexpr std::uint32_t kIHDR = Tag("IHDR");
constexpr std::uint32_t kPLTE = Tag("PLTE");
constexpr std::uint32_t kTRNS = Tag("tRNS");
constexpr std::uint32_t kACTL = Tag("acTL");
constexpr std::uint32_t kFCTL = Tag("fcTL");
constexpr std::uint32_t kIDAT = Tag("IDAT");
constexpr std::uint32_t kFDAT = Tag("fdAT");
constexpr std::uint32_t kIEND = Tag("IEND");

std::uint32_t Big32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint16_t Big16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

void AppendBig32(QByteArray& out, std::uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                           static_cast<char>(value)};
    out.append(bytes, 4);
}

QString TypeName(std::uint32_t type)
{
    const char name[4] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16), static_cast<char>(type >> 8),
                          static_cast<char>(type)};
    return QString::fromLatin1(name, 4);
}

[[noreturn]] void Fail(const QString& name, const QString& reason) { throw TError(name + QStringLiteral(": ") + reason); }

struct Chunk {
    std::uint32_t type = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::size_t begin = 0;  // offsets of the chunk's length field and of the byte after its CRC
    std::size_t end = 0;
    std::uint32_t crc = 0;
};

// Walks whole chunks over [from, to) of the file. Stops at the end of the range, or on a
// chunk that is cut short or malformed, and then says why.
class ChunkWalker {
public:
    ChunkWalker(const QByteArray& file, std::size_t from, std::size_t to)
        : base_(reinterpret_cast<const std::uint8_t*>(file.constData())), reader_(base_ + from, to - from), from_(from)
    {
    }

    bool Next(Chunk* chunk)
    {
        if (reader_.Remaining() == 0)
            return false;
        chunk->begin = from_ + reader_.Position();
        const std::uint8_t* head = reader_.Bytes(8);
        if (head == nullptr)
            return Stop("the file ends inside a chunk header");
        chunk->length = Big32(head);
        chunk->type = Big32(head + 4);
        // The PNG format caps lengths at 2^31 - 1, and a type is four ASCII letters.
        if (chunk->length > 0x7FFFFFFF)
            return Stop("a chunk claims more than 2 GB");
        for (int i = 4; i < 8; ++i) {
            const std::uint8_t c = head[i];
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return Stop("a chunk has an invalid type");
        }
        chunk->data = reader_.Bytes(chunk->length);
        const std::uint8_t* crc = reader_.Bytes(4);
        if (chunk->data == nullptr || crc == nullptr) {
            error_ = QStringLiteral("the file ends inside chunk %1").arg(TypeName(chunk->type));
            return false;
        }
        chunk->crc = Big32(crc);
        chunk->end = from_ + reader_.Position();
        return true;
    }

    // Why the walk stopped early, or empty at the end of the range.
    const QString& Error() const { return error_; }

private:
    bool Stop(const char* reason)
    {
        error_ = QString::fromLatin1(reason);
        return false;
    }

    const std::uint8_t* base_;
    ByteReader reader_;
    std::size_t from_;
    QString error_;
};

void CheckCrc(const Chunk& chunk, const QString& name)
{
    // The type sits just before the data and is covered by the checksum.
    const uLong crc = crc32(0, chunk.data - 4, static_cast<uInt>(chunk.length) + 4);
    if (crc != chunk.crc)
        Fail(name, QStringLiteral("chunk %1 has a bad checksum").arg(TypeName(chunk.type)));
}

constexpr std::uint8_t kDisposeNone = 0;
constexpr std::uint8_t kDisposeBackground = 1;
constexpr std::uint8_t kDisposePrevious = 2;
constexpr std::uint8_t kBlendSource = 0;
constexpr std::uint8_t kBlendOver = 1;

struct FrameControl {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int delayMs = 0;
    std::uint8_t dispose = kDisposeNone;
    std::uint8_t blend = kBlendSource;
    bool fromIdat = false;  // the image data is the IDAT run, not fdAT chunks
    // The span of the file holding the frame's data chunks; 0 until the first is seen.
    std::size_t dataBegin = 0;
    std::size_t dataEnd = 0;
};

struct Layout {
    int width = 0;
    int height = 0;
    std::uint8_t header[5] = {};  // IHDR's bit depth, colour type, compression, filter, interlace
    QByteArray palette;
    QByteArray transparency;  // kept only where libpng would use it
    bool transparent = false;
    std::vector<FrameControl> frames;
};

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

// Checks the whole chunk structure against the APNG rules and the limits; reads no pixels.
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

Layout ReadLayout(const QByteArray& data, const QString& name) { return LayoutReader(name).Read(data); }

void AppendChunk(QByteArray& out, const char* type, const QByteArray& data)
{
    AppendBig32(out, static_cast<std::uint32_t>(data.size()));
    out.append(type, 4);
    out.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size()));
    AppendBig32(out, static_cast<std::uint32_t>(crc));
}

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
