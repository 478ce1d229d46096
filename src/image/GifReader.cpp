// GIF animations through giflib's low-level calls, one line at a time: giflib's DGifSlurp
// would allocate whatever a frame claims. A walk over the blocks (GifLayout) first counts
// the frames and checks every rectangle against the limits; only then are pixels decoded.
//
// Composition follows the browsers: the canvas starts transparent; a frame's transparent
// index leaves the canvas as it was; disposal 2 clears the frame's rectangle to transparent
// (the background colour is ignored), 3 (and 4, which some writers use for it) restores the
// rectangle to what it was before the frame, anything else keeps the frame. Frames are
// clipped to the logical screen. A file is whole or damaged: data that ends before the
// trailer, a frame whose pixels run short, a frame without a colour table and an index
// beyond its table are errors, not drawn as far as they go.

#include "image/Animation.h"

#include "common/Error.h"
#include "image/GifLayout.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

using namespace gif;

namespace {

struct TMemoryInput {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Position = 0;
};

int ReadMemory(GifFileType* gif, GifByteType* out, int count)
{
    auto* input = static_cast<TMemoryInput*>(gif->UserData);
    if (count <= 0)
        return 0;
    const std::size_t taken = std::min(static_cast<std::size_t>(count), input->Size - input->Position);
    std::memcpy(out, input->Data + input->Position, taken);
    input->Position += taken;
    return static_cast<int>(taken);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void FailGif(const QString& name, int frame, int error)
{
    const char* text = GifErrorString(error);
    Fail(name, QStringLiteral("frame %1: %2").arg(frame).arg(text != nullptr ? QString::fromLatin1(text) : QStringLiteral("damaged data")));
}

// The image row of the `line`th line stored, in the four passes of an interlaced frame.
int InterlacedRow(int line, int height)
{
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (line < rows)
            return kStart[pass] + line * kStep[pass];
        line -= rows;
    }
    return height;  // beyond the frame: giflib never hands more lines than the frame holds
}

// Decodes one frame line by line onto the canvas. The giflib frame is positioned right
// after the image descriptor.
void DrawFrame(GifFileType* gif, const TGifFrame& frame, int number, const QString& name, QImage& canvas,
               const TAnimationSink& sink)
{
    if (frame.Width == 0 || frame.Height == 0) {
        // No pixels to read, but the image data still has to be passed over.
        int codeSize = 0;
        GifByteType* block = nullptr;
        if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
            FailGif(name, number, gif->Error);
        while (block != nullptr) {
            if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
                FailGif(name, number, gif->Error);
        }
        return;
    }
    const ColorMapObject* map = gif->Image.ColorMap != nullptr ? gif->Image.ColorMap : gif->SColorMap;
    if (map == nullptr || map->ColorCount != frame.Colours)
        Fail(name, QStringLiteral("frame %1 has no colour table").arg(number));
    std::array<QRgb, 256> palette{};
    std::array<std::uint8_t, 256> beyond{};  // indices past the table, the transparent one aside
    for (int i = 0; i < 256; ++i) {
        if (i < map->ColorCount)
            palette[static_cast<std::size_t>(i)] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
        else
            beyond[static_cast<std::size_t>(i)] = i != frame.TransparentIndex;
    }

    // The part of the frame on the canvas.
    const int x0 = std::min(frame.Left, canvas.width());
    const int x1 = std::min(frame.Left + frame.Width, canvas.width());
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    for (int i = 0; i < frame.Height; ++i) {
        if (sink.Cancelled())
            Fail(name, QStringLiteral("cancelled"));
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            FailGif(name, number, gif->Error);
        // Every index is checked, drawn or clipped; none can pass a table of 256.
        if (frame.Colours < 256) {
            std::uint8_t outside = 0;
            for (const GifPixelType index : line)
                outside |= beyond[index];
            if (outside != 0) {
                const auto index = *std::find_if(line.begin(), line.end(), [&beyond](GifPixelType value) { return beyond[value] != 0; });
                Fail(name, QStringLiteral("frame %1 uses colour %2 of a table of %3").arg(number).arg(index).arg(frame.Colours));
            }
        }
        const int y = frame.Top + (frame.Interlaced ? InterlacedRow(i, frame.Height) : i);
        if (y >= canvas.height())
            continue;
        auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const GifPixelType index = line[static_cast<std::size_t>(x - frame.Left)];
            if (index != frame.TransparentIndex)
                row[x] = palette[index];
        }
    }
}

// A rectangle of the canvas: its pixels copied out, or put back.
struct TCanvasArea {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

TCanvasArea ClipToCanvas(const TGifFrame& frame, const QImage& canvas)
{
    TCanvasArea area;
    area.Left = std::min(frame.Left, canvas.width());
    area.Top = std::min(frame.Top, canvas.height());
    area.Width = std::min(frame.Left + frame.Width, canvas.width()) - area.Left;
    area.Height = std::min(frame.Top + frame.Height, canvas.height()) - area.Top;
    return area;
}

void SaveArea(const QImage& canvas, const TCanvasArea& area, std::vector<QRgb>& saved)
{
    saved.resize(static_cast<std::size_t>(area.Width) * static_cast<std::size_t>(area.Height));
    for (int y = 0; y < area.Height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(area.Top + y)) + area.Left;
        std::copy(row, row + area.Width, saved.begin() + static_cast<std::ptrdiff_t>(y) * area.Width);
    }
}

void RestoreArea(QImage& canvas, const TCanvasArea& area, const std::vector<QRgb>* saved)
{
    for (int y = 0; y < area.Height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(area.Top + y)) + area.Left;
        if (saved == nullptr)
            std::fill(row, row + area.Width, QRgb{0});
        else
            std::copy_n(saved->begin() + static_cast<std::ptrdiff_t>(y) * area.Width, area.Width, row);
    }
}

}  // namespace

void ReadGif(const QByteArray& data, const QString& name, TAnimationSink& sink)
{
    if (data.size() > kMaxAnimationFileSize)
        Fail(name, QStringLiteral("the file is larger than %1 MB").arg(kMaxAnimationFileSize >> 20));
    TGifLayout layout = WalkGif(data, name);
    CheckLayout(layout, name);

    TAnimationInfo info;
    info.Width = layout.Width;
    info.Height = layout.Height;
    info.FrameCount = static_cast<int>(layout.Frames.size());
    info.Transparent = std::any_of(layout.Frames.begin(), layout.Frames.end(),
                                   [](const TGifFrame& frame) { return frame.TransparentIndex >= 0; });
    sink.Begin(info);

    TMemoryInput input{reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())};
    int error = 0;
    const GifPtr gif(DGifOpen(&input, ReadMemory, &error));
    if (!gif)
        Fail(name, QString::fromLatin1(GifErrorString(error)));

    QImage canvas(layout.Width, layout.Height, QImage::Format_ARGB32);
    if (canvas.isNull())
        Fail(name, QStringLiteral("out of memory"));
    canvas.fill(0);
    // Under a frame disposed of by restoring: its own rectangle alone, and only while there
    // is something to restore and a frame after it to see it.
    std::vector<QRgb> saved;
    bool blank = true;  // nothing drawn yet: restoring is clearing
    std::size_t next = 0;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            FailGif(name, static_cast<int>(next) + 1, gif->Error);
        if (type == TERMINATE_RECORD_TYPE)
            break;
        if (sink.Cancelled())
            Fail(name, QStringLiteral("cancelled"));
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                FailGif(name, static_cast<int>(next) + 1, gif->Error);
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    FailGif(name, static_cast<int>(next) + 1, gif->Error);
            }
            continue;
        }
        // giflib reads the blocks the walk has already seen, so it finds the same frames.
        const int number = static_cast<int>(next) + 1;
        if (type != IMAGE_DESC_RECORD_TYPE || next >= layout.Frames.size())
            Fail(name, QStringLiteral("the blocks after frame %1 are damaged").arg(next));
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            FailGif(name, number, gif->Error);
        const TGifFrame& frame = layout.Frames[next++];
        if (gif->Image.Left != frame.Left || gif->Image.Top != frame.Top || gif->Image.Width != frame.Width ||
            gif->Image.Height != frame.Height)
            Fail(name, QStringLiteral("frame %1 is damaged").arg(number));

        const TCanvasArea area = ClipToCanvas(frame, canvas);
        const bool last = next == layout.Frames.size();
        TDisposal disposal = last ? TDisposal::Keep : frame.Disposal;
        if (disposal == TDisposal::Restore && blank)
            disposal = TDisposal::Clear;
        if (disposal == TDisposal::Restore)
            SaveArea(canvas, area, saved);
        DrawFrame(gif.get(), frame, number, name, canvas, sink);
        blank = false;
        sink.Frame(canvas, frame.DelayMs);
        if (disposal == TDisposal::Restore)
            RestoreArea(canvas, area, &saved);
        else if (disposal == TDisposal::Clear)
            RestoreArea(canvas, area, nullptr);
    }
    if (next != layout.Frames.size())
        Fail(name, QStringLiteral("the file ends early"));
}
