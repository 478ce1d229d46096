#include "packer/SheetComposer.h"

#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"
#include "image/PngEncoder.h"
#include "package/SheetRule.h"
#include "package/SpriteSheet.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// The sheet takes 3 bytes a pixel; the player decodes it at 4.
constexpr int kSheetBytesPerPixel = 3;

// Draws a frame's rows onto its place in the sheet.
class SheetSink : public TImageSink {
public:
    SheetSink(const QString& path, uchar* sheet, qsizetype bytesPerLine, int top, int width, int height)
        : path_(path), sheet_(sheet), bytesPerLine_(bytesPerLine), top_(top), width_(width), height_(height)
    {
    }

    void Begin(const TImageInfo& info) override
    {
        if (info.Width != width_ || info.Height != height_)
            throw TError(path_ + QStringLiteral(": the image changed while the package was built"));
        transparency_ = info.Transparency;
    }

    void Row(int y, const QRgb* pixels) override
    {
        if (sheet_ == nullptr)
            return;
        uchar* out = sheet_ + (static_cast<qsizetype>(top_) + y) * bytesPerLine_;
        for (int x = 0; x < width_; ++x, out += kSheetBytesPerPixel) {
            const QRgb colour = SheetColour(pixels[x], transparency_);
            out[0] = static_cast<uchar>(qRed(colour));
            out[1] = static_cast<uchar>(qGreen(colour));
            out[2] = static_cast<uchar>(qBlue(colour));
        }
    }

private:
    const QString& path_;
    uchar* sheet_;
    qsizetype bytesPerLine_;
    int top_;
    int width_;
    int height_;
    TTransparency transparency_ = TTransparency::None;
};

TSheetComposer::Frame::Problem ProblemOf(TImageProblem problem)
{
    using Problem = TSheetComposer::Frame::Problem;
    switch (problem) {
    case TImageProblem::None:
        return Problem::None;
    case TImageProblem::Missing:
        return Problem::Missing;
    case TImageProblem::Empty:
        return Problem::Empty;
    case TImageProblem::Unsupported:
        return Problem::Unsupported;
    case TImageProblem::Unreadable:
        break;
    }
    return Problem::Unreadable;
}

}  // namespace

TSheetComposer::TSheetComposer(const QList<TProjectAction>& project)
{
    std::vector<Frame>& frames = frames_;
    std::int64_t width = 0;
    std::int64_t height = 0;
    for (const TProjectAction& action : project) {
        for (const QString& path : action.Frames) {
            Frame frame{path, {}, static_cast<int>(height), 0, 0, Frame::Problem::None, {}};
            const TImageCheck check = CheckImageFile(path, TImageUse::Frame);
            frame.format = check.Name;
            frame.problem = ProblemOf(check.Problem);
            if (check.Problem == TImageProblem::Unreadable)
                frame.error = check.Error;
            if (check.Format != nullptr) {
                try {
                    const TImageInfo info = ReadImageInfo(path, frame.format);
                    frame.width = info.Width;
                    frame.height = info.Height;
                } catch (const TError& error) {
                    frame.problem = Frame::Problem::Unreadable;
                    frame.error = error.Text();
                }
            }
            if (frame.problem == Frame::Problem::None) {
                const std::int64_t newWidth = std::max<std::int64_t>(width, frame.width);
                const std::int64_t newHeight = height + frame.height;
                if (frame.width > kMaxFrameSide || frame.height > kMaxFrameSide) {
                    frame.problem = Frame::Problem::TooLarge;
                    frame.error = QStringLiteral("%1 by %2 pixels is too large for a frame (at most %3 a side)")
                                      .arg(frame.width).arg(frame.height).arg(kMaxFrameSide);
                } else if (newHeight > kMaxPngSide) {
                    frame.problem = Frame::Problem::TooLarge;
                    frame.error = QStringLiteral("the sprite sheet would grow to %1 pixels high, more than the %2 a "
                                                 "sheet may have")
                                      .arg(newHeight).arg(kMaxPngSide);
                } else if (newWidth * newHeight * 4 > kMaxSheetBytes) {
                    frame.problem = Frame::Problem::TooLarge;
                    frame.error = QStringLiteral("the sprite sheet would grow to %1 by %2 pixels, more than %3 MiB "
                                                 "decoded, which the player refuses")
                                      .arg(newWidth).arg(newHeight).arg(kMaxSheetBytes >> 20);
                } else {
                    width = newWidth;
                    height = newHeight;
                }
            }
            frames.push_back(std::move(frame));
            // After a problem there is no sheet.
            if (frames.back().problem != Frame::Problem::None)
                return;
        }
    }
    sheetSize_ = QSize(static_cast<int>(width), static_cast<int>(height));
}

void TSheetComposer::Decode(QImage* sheetImage, const std::function<void(int done, int total)>& progress)
{
    std::vector<Frame>& frames = frames_;
    uchar* sheet = sheetImage != nullptr ? sheetImage->bits() : nullptr;
    const qsizetype bytesPerLine = sheetImage != nullptr ? sheetImage->bytesPerLine() : 0;
    const std::size_t count = frames.size();
    std::atomic<std::size_t> next{0};
    std::atomic<int> done{0};
    const auto decode = [&](bool reportProgress) {
        for (std::size_t i = next++; i < count; i = next++) {
            Frame& frame = frames[i];
            if (frame.problem == Frame::Problem::None) {
                try {
                    SheetSink sink(frame.path, sheet, bytesPerLine, frame.top, frame.width, frame.height);
                    DecodeImage(frame.path, frame.format, sink);
                } catch (const TError& error) {
                    frame.error = error.Text();
                } catch (const std::bad_alloc&) {
                    frame.error = frame.path + QStringLiteral(": out of memory");
                }
            }
            const int finished = ++done;
            if (reportProgress && progress)
                progress(finished, static_cast<int>(count));
        }
    };
    // Frames go to disjoint rows of the sheet, so a second core can take every other one.
    std::thread helper;
    if (count > 1 && std::thread::hardware_concurrency() > 1)
        helper = std::thread(decode, false);
    decode(true);
    if (helper.joinable())
        helper.join();
    if (count > 0 && progress)
        progress(static_cast<int>(count), static_cast<int>(count));
}
