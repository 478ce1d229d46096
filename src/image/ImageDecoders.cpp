#include "image/ImageDecoders.h"

#include "common/Error.h"
#include "image/DecoderSupport.h"
#include "image/ImageFormat.h"

#include <cstdint>
#include <cstring>

namespace {

void Decode(const QString& path, const QString& format, TImageSink* sink, TImageInfo* info)
{
    const TImageFormat* found = FindImageFormat(format);
    if (found == nullptr || found->Decode == nullptr)
        throw TError(QStringLiteral("%1: no decoder for the format \"%2\"").arg(path, format));
    found->Decode(path, sink, info);
}

// Keeps the whole image, refusing one beyond a size.
class ImageSink : public TImageSink {
public:
    ImageSink(const QString& path, std::int64_t maxBytes) : path_(path), maxBytes_(maxBytes) {}
    QImage image;

    void Begin(const TImageInfo& info) override
    {
        if (std::int64_t{info.Width} * info.Height * 4 > maxBytes_)
            throw TError(QStringLiteral("%1: %2 by %3 pixels is too large").arg(path_).arg(info.Width).arg(info.Height));
        image = QImage(info.Width, info.Height, QImage::Format_ARGB32);
        if (image.isNull())
            throw TError(path_ + QStringLiteral(": out of memory"));
    }
    void Row(int y, const QRgb* pixels) override
    {
        uchar* row = image.scanLine(y);
        if (reinterpret_cast<const uchar*>(pixels) != row)
            std::memcpy(row, pixels, static_cast<std::size_t>(image.width()) * sizeof(QRgb));
    }
    // ARGB32 rows follow one another without padding.
    QRgb* WholeImage() override { return reinterpret_cast<QRgb*>(image.bits()); }

private:
    const QString& path_;
    std::int64_t maxBytes_;
};

}  // namespace

TImageInfo ReadImageInfo(const QString& path, const QString& format)
{
    TImageInfo info;
    Decode(path, format, nullptr, &info);
    return info;
}

void DecodeImage(const QString& path, const QString& format, TImageSink& sink)
{
    TImageInfo info;
    Decode(path, format, &sink, &info);
}

void DecodePngData(const QByteArray& data, const QString& name, TImageSink& sink)
{
    TImageInfo info;
    decoders::DecodePngMemory(data, name, &sink, &info);
}

QImage DecodeImage(const QString& path, const QString& format, TImageInfo* info, std::int64_t maxBytes)
{
    ImageSink sink(path, maxBytes);
    TImageInfo read;
    Decode(path, format, &sink, &read);
    if (info != nullptr)
        *info = read;
    return std::move(sink.image);
}
