#include "image/GifLayout.h"

#include "common/ByteReader.h"
#include "common/Error.h"
#include "image/Animation.h"

#include <algorithm>
#include <cstring>

namespace gif {

namespace {

// Skips a chain of data sub-blocks up to its empty terminator. The first block is returned
// (with its length) for the caller to look into.
const std::uint8_t* SkipSubBlocks(ByteReader& in, int* firstLength)
{
    const std::uint8_t* first = nullptr;
    *firstLength = 0;
    for (bool isFirst = true;; isFirst = false) {
        const std::uint8_t length = in.U8();
        if (length == 0)
            return first;
        const std::uint8_t* block = in.Bytes(length);
        if (block == nullptr)
            return nullptr;
        if (isFirst) {
            first = block;
            *firstLength = length;
        }
    }
}

}  // namespace

void Fail(const QString& name, const QString& reason)
{
    throw TError(QStringLiteral("%1: %2").arg(name, reason));
}

TGifLayout WalkGif(const QByteArray& data, const QString& name)
{
    ByteReader in(data.constData(), static_cast<std::size_t>(data.size()));
    const std::uint8_t* signature = in.Bytes(6);
    if (signature == nullptr || std::memcmp(signature, "GIF", 3) != 0)
        Fail(name, QStringLiteral("not a GIF file"));
    TGifLayout layout;
    layout.Width = in.U16();
    layout.Height = in.U16();
    const std::uint8_t screenFlags = in.U8();
    in.Skip(2);  // background colour and aspect ratio: neither is drawn
    const int globalColours = (screenFlags & 0x80) != 0 ? 2 << (screenFlags & 7) : 0;
    in.Skip(3 * static_cast<std::size_t>(globalColours));

    TGifFrame control;  // what the last graphic control block set for the next frame
    for (;;) {
        const std::uint8_t introducer = in.U8();
        if (!in.Ok())
            Fail(name, QStringLiteral("the file ends early"));
        if (introducer == 0x3B)
            break;
        if (introducer == 0x21) {
            const std::uint8_t label = in.U8();
            int length = 0;
            const std::uint8_t* block = SkipSubBlocks(in, &length);
            // A control block shorter than its four bytes is ignored, as other extensions are.
            if (label == 0xF9 && block != nullptr && length >= 4) {
                const int method = (block[0] >> 2) & 7;
                control.Disposal = method == 2 ? TDisposal::Clear
                                   : method == 3 || method == 4 ? TDisposal::Restore
                                                                : TDisposal::Keep;
                control.DelayMs = (block[1] | (block[2] << 8)) * 10;
                control.TransparentIndex = (block[0] & 1) != 0 ? block[3] : -1;
            }
        } else if (introducer == 0x2C) {
            if (layout.Frames.size() >= static_cast<std::size_t>(kMaxAnimationFrames))
                Fail(name, QStringLiteral("more than %1 frames").arg(kMaxAnimationFrames));
            TGifFrame frame = control;
            control = TGifFrame();
            frame.Left = in.U16();
            frame.Top = in.U16();
            frame.Width = in.U16();
            frame.Height = in.U16();
            const std::uint8_t flags = in.U8();
            frame.Interlaced = (flags & 0x40) != 0;
            if ((flags & 0x80) != 0) {
                frame.Colours = 2 << (flags & 7);
                in.Skip(3 * static_cast<std::size_t>(frame.Colours));
            } else {
                frame.Colours = globalColours;
            }
            const std::uint8_t codeSize = in.U8();
            int length = 0;
            SkipSubBlocks(in, &length);
            if (!in.Ok())
                Fail(name, QStringLiteral("the file ends early"));
            // Colour indices have at most 8 bits, and giflib refuses more with a read error.
            if (codeSize > 8)
                Fail(name, QStringLiteral("frame %1 has a code size of %2 bits; a GIF's is at most 8")
                               .arg(layout.Frames.size() + 1)
                               .arg(codeSize));
            layout.Frames.push_back(frame);
        } else {
            Fail(name, QStringLiteral("an unknown block (0x%1) at byte %2")
                           .arg(introducer, 2, 16, QLatin1Char('0'))
                           .arg(in.Position() - 1));
        }
    }
    return layout;
}

void CheckLayout(TGifLayout& layout, const QString& name)
{
    if (layout.Frames.empty())
        Fail(name, QStringLiteral("the file holds no image"));
    // A logical screen of nothing a side takes the extent of the frames on that side.
    int right = 0;
    int bottom = 0;
    for (const TGifFrame& frame : layout.Frames) {
        right = std::max(right, frame.Left + frame.Width);
        bottom = std::max(bottom, frame.Top + frame.Height);
    }
    if (layout.Width == 0)
        layout.Width = right;
    if (layout.Height == 0)
        layout.Height = bottom;
    if (layout.Width == 0 || layout.Height == 0)
        Fail(name, QStringLiteral("the images are empty"));
    if (layout.Width > kMaxCanvasSide || layout.Height > kMaxCanvasSide) {
        Fail(name, QStringLiteral("the canvas of %1 by %2 pixels is larger than %3 a side")
                       .arg(layout.Width)
                       .arg(layout.Height)
                       .arg(kMaxCanvasSide));
    }
    const auto frames = static_cast<std::int64_t>(layout.Frames.size());
    if (frames * layout.Width * layout.Height * 4 > kMaxAnimationBytes) {
        Fail(name, QStringLiteral("%1 frames of %2 by %3 pixels are too large")
                       .arg(frames)
                       .arg(layout.Width)
                       .arg(layout.Height));
    }
    // Every frame is decoded whole, clipped or not, so their own areas are held to the same
    // limit as the canvases.
    std::int64_t decoded = 0;
    for (std::size_t i = 0; i < layout.Frames.size(); ++i) {
        const TGifFrame& frame = layout.Frames[i];
        if (frame.Width > kMaxCanvasSide || frame.Height > kMaxCanvasSide) {
            Fail(name, QStringLiteral("frame %1 of %2 by %3 pixels is larger than %4 a side")
                           .arg(i + 1)
                           .arg(frame.Width)
                           .arg(frame.Height)
                           .arg(kMaxCanvasSide));
        }
        if (frame.Colours == 0 && frame.Width > 0 && frame.Height > 0)
            Fail(name, QStringLiteral("frame %1 has no colour table").arg(i + 1));
        decoded += std::int64_t{frame.Width} * frame.Height * 4;
    }
    if (decoded > kMaxAnimationBytes)
        Fail(name, QStringLiteral("the frames hold too many pixels"));
}

}  // namespace gif
