// libFuzzer target: any bytes as a frame image, its format found by its header and decoded
// as the package build does. Crashes, hangs, leaks and unbounded memory are the faults.

#include "FuzzInput.h"
#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Takes the rows as the sheet would.
class CheckingSink : public TImageSink {
public:
    void Begin(const TImageInfo& info) override
    {
        // Smaller than the build's limits, so that a run under a memory limit of a few
        // hundred MB reports only what they do not bound.
        if (info.Width > 4096 || info.Height > 4096)
            throw TError(QStringLiteral("too large"));
        width_ = info.Width;
        height_ = info.Height;
    }
    void Row(int y, const QRgb* pixels) override
    {
        if (y < 0 || y >= height_)
            std::abort();
        for (int x = 0; x < width_; ++x)
            sum_ += pixels[x];
    }

private:
    int width_ = 0;
    int height_ = 0;
    unsigned sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = WriteFuzzInput(data, size, QStringLiteral("frame"));
    try {
        const TImageCheck check = CheckImageFile(path, TImageUse::Frame);
        if (check.Format == nullptr)
            return 0;
        const TImageInfo info = ReadImageInfo(path, check.Name);
        CheckingSink sink;
        DecodeImage(path, check.Name, sink);
        (void)info;
    } catch (const TError&) {
        // Damaged images are expected; only crashes and runaway costs are faults.
    }
    return 0;
}
