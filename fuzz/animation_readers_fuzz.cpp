// libFuzzer target: any bytes as a GIF (when they start as one) or else a WebP animation,
// read from memory into whole frames. Crashes, hangs, leaks, unbounded memory and frames
// that break the reader's promises are the faults.

#include "common/Error.h"
#include "image/Animation.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Takes the frames as the frame import would, checking what the readers promise.
class CheckingSink : public TAnimationSink {
public:
    void Begin(const TAnimationInfo& info) override
    {
        if (began_ || info.Width <= 0 || info.Height <= 0 || info.FrameCount <= 0 || info.FrameCount > kMaxAnimationFrames)
            std::abort();
        began_ = true;
        // Smaller than the readers' limits, so that a run under a memory limit of a few
        // hundred MB reports only what they do not bound.
        if (info.Width > 2048 || info.Height > 2048)
            throw TError(QStringLiteral("too large"));
        info_ = info;
    }
    void Frame(const QImage& canvas, int delayMs) override
    {
        if (!began_ || ++frames_ > info_.FrameCount || canvas.format() != QImage::Format_ARGB32 ||
            canvas.width() != info_.Width || canvas.height() != info_.Height || delayMs < 0)
            std::abort();
        // The ends of every row: a canvas shorter than it claims shows there, and reading
        // every pixel would cost more than the readers do.
        for (int y = 0; y < canvas.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
            sum_ += row[0] + row[canvas.width() - 1];
        }
    }
    // A reader that returns without an error has shown every frame it announced.
    void CheckComplete() const
    {
        if (frames_ != info_.FrameCount)
            std::abort();
    }

private:
    bool began_ = false;
    TAnimationInfo info_;
    int frames_ = 0;
    unsigned sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckingSink sink;
    try {
        if (size >= 3 && std::memcmp(data, "GIF", 3) == 0)
            ReadGif(bytes, QStringLiteral("fuzz.gif"), sink);
        else
            ReadWebp(bytes, QStringLiteral("fuzz.webp"), sink);
        sink.CheckComplete();
    } catch (const TError&) {
        // Damaged files are expected; only crashes and runaway costs are faults.
    }
    return 0;
}
