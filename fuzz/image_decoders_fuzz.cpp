// libFuzzer target: any bytes as a frame image, its format found by its header and decoded
// as the package build does. Crashes, hangs, leaks and unbounded memory are the faults.

#include "common/Error.h"
#include "packer/ImageDecoders.h"
#include "packer/ImageFormat.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Takes the rows as the sheet would, and refuses what the build refuses.
class CheckingSink : public TImageSink {
public:
    void Begin(const TImageInfo& info) override
    {
        if (info.Width > 16384 || info.Height > 16384)
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
    static QTemporaryDir work;
    if (!work.isValid())
        std::abort();
    const QString path = work.filePath(QStringLiteral("frame"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    try {
        const QString format = DetectImageFormat(path);
        if (!IsDecodableFormat(format))
            return 0;
        const TImageInfo info = ReadImageInfo(path, format);
        CheckingSink sink;
        DecodeImage(path, format, sink);
        (void)info;
    } catch (const TError&) {
        // Damaged images are expected; only crashes and runaway costs are faults.
    }
    return 0;
}
