#include "image/DecoderSupport.h"

#include "common/ByteReader.h"
#include "common/Error.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace decoders {
namespace {

// Our callers bound every image's size, and Qt's own default limit is below the largest
// frame. The limit is one for the whole process: lifted as the program starts, before any
// thread decodes, not from whichever thread decodes the first BMP.
[[maybe_unused]] const bool kQtImageLimitLifted = (QImageReader::setAllocationLimit(0), true);

// What Qt's reader will make of a BMP, read here first so that a file claiming more pixels
// than it holds is refused before any pixel memory is taken, with a reason.
struct BmpLayout {
    int Width = 0;
    int Height = 0;  // rows, whichever way they run
    bool Rle = false;
};

// The info header sizes Qt's reader understands (it takes any other for the 12-byte one).
constexpr std::uint32_t kBmpCoreHeader = 12;
constexpr std::uint32_t kBmpFileHeader = 14;
constexpr std::uint32_t kBmpLargestHeader = 124;
// Qt's own bound on width times height.
constexpr std::uint64_t kBmpMaxPixels = std::uint64_t{16384} * 16384;

[[noreturn]] void BmpFail(const QString& path, const QString& reason)
{
    throw TError(QStringLiteral("%1: %2").arg(path, reason));
}

BmpLayout ReadBmpLayout(const QString& path, QFile& file)
{
    const qint64 fileSize = file.size();
    // The file header, the largest info header and the three masks that may follow it.
    const QByteArray head = file.read(kBmpFileHeader + kBmpLargestHeader + 12);
    ByteReader reader(head.constData(), static_cast<std::size_t>(head.size()));
    if (reader.U16() != 0x4D42)
        BmpFail(path, QStringLiteral("not a BMP file"));
    reader.Skip(8);  // the file's size and two reserved fields, which Qt ignores too
    const std::uint32_t dataOffset = reader.U32();
    const std::uint32_t headerSize = reader.U32();
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t colours = 0;
    if (headerSize == kBmpCoreHeader) {
        width = static_cast<std::int16_t>(reader.U16());
        height = static_cast<std::int16_t>(reader.U16());
        planes = reader.U16();
        bits = reader.U16();
    } else if (headerSize == 40 || headerSize == 64 || headerSize == 108 || headerSize == kBmpLargestHeader) {
        width = static_cast<std::int32_t>(reader.U32());
        height = static_cast<std::int32_t>(reader.U32());
        planes = reader.U16();
        bits = reader.U16();
        compression = reader.U32();
        reader.Skip(12);  // the data's size and the resolution
        colours = reader.U32();
    } else if (reader.Ok()) {
        BmpFail(path, QStringLiteral("an info header of %1 bytes is not supported").arg(headerSize));
    }
    if (!reader.Ok() || fileSize < std::int64_t{kBmpFileHeader} + headerSize)
        BmpFail(path, QStringLiteral("the file ends inside its header"));

    if (width <= 0)
        BmpFail(path, QStringLiteral("the header gives a width of %1 pixels").arg(width));
    if (height == 0 || height == INT32_MIN)
        BmpFail(path, QStringLiteral("the header gives a height of %1 pixels").arg(height));
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(rows) > kBmpMaxPixels)
        BmpFail(path, QStringLiteral("%1 by %2 pixels is too large").arg(width).arg(rows));
    if (planes != 1)
        BmpFail(path, QStringLiteral("the header gives %1 colour planes").arg(planes));
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        BmpFail(path, QStringLiteral("%1 bits a pixel is not supported").arg(bits));
    const bool rle = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
    const bool bitfields = compression == 3 && (bits == 16 || bits == 32);
    if (compression != 0 && !rle && !bitfields)
        BmpFail(path, QStringLiteral("compression %1 with %2 bits a pixel is not supported").arg(compression).arg(bits));

    // Where Qt starts on the pixels: after the masks and the palette, or further on if the
    // file header says so.
    std::int64_t tables = kBmpFileHeader + std::int64_t{headerSize};
    if (bitfields && headerSize < 108)
        tables += 12;
    if (bits <= 8) {
        const std::int64_t count = colours != 0 ? std::int64_t{colours} : std::int64_t{1} << bits;
        if (count > 256)
            BmpFail(path, QStringLiteral("a palette of %1 colours is more than 256").arg(count));
        tables += count * (headerSize == kBmpCoreHeader ? 3 : 4);
    }
    const std::int64_t pixels = std::max<std::int64_t>(tables, dataOffset);
    // Uncompressed rows take whole 32-bit words. Run-length data may stop after one 2-byte
    // end-of-bitmap code, leaving the rest of the picture undrawn: less cannot be refused,
    // and running out is found while reading.
    const std::int64_t stride = (std::int64_t{width} * bits + 31) / 32 * 4;
    const std::int64_t needed = rle ? 2 : stride * rows;
    if (fileSize < pixels || fileSize - pixels < needed) {
        BmpFail(path, QStringLiteral("the image data ends early: %1 by %2 pixels need %3 bytes from byte %4, "
                                     "the file has %5 bytes")
                          .arg(width).arg(rows).arg(needed).arg(pixels).arg(fileSize));
    }
    return {width, static_cast<int>(rows), rle};
}

// Passes the file through to Qt's reader and notes whether it ever asked for bytes past the
// end: Qt's reader stops quietly there, leaving the rows it never read as they were.
class BmpDevice : public QIODevice {
public:
    explicit BmpDevice(QFile& file) : file_(file) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool RanOut() const { return ranOut_; }
    bool isSequential() const override { return false; }
    qint64 size() const override { return file_.size(); }
    bool seek(qint64 position) override { return QIODevice::seek(position) && file_.seek(position); }

protected:
    qint64 readData(char* data, qint64 count) override
    {
        const qint64 read = file_.read(data, count);
        ranOut_ = ranOut_ || read < count;
        return read;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile& file_;
    bool ranOut_ = false;
};

}  // namespace

void DecodeBmpFile(const QString& path, TImageSink* sink, TImageInfo* header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    const BmpLayout layout = ReadBmpLayout(path, file);
    *header = {layout.Width, layout.Height, TTransparency::None};
    if (sink == nullptr)
        return;
    sink->Begin(*header);
    ThrowIfCancelled(path, *sink);
    QImage image;
    if (layout.Rle) {
        // Run-length data may skip pixels; Qt keeps an image of the right kind it is given,
        // so the skipped ones come out as palette entry 0 instead of whatever memory held.
        image = QImage(layout.Width, layout.Height, QImage::Format_Indexed8);
        if (image.isNull())
            throw TError(path + QStringLiteral(": out of memory"));
        image.fill(0);
    }
    const uchar* prepared = image.constBits();
    file.seek(0);
    BmpDevice device(file);
    QImageReader reader(&device, "bmp");
    reader.setAutoTransform(false);
    const bool read = reader.read(&image);
    if (device.RanOut())
        BmpFail(path, QStringLiteral("the image data ends early"));
    if (!read)
        BmpFail(path, reader.errorString());
    if (image.size() != QSize(layout.Width, layout.Height))
        BmpFail(path, QStringLiteral("the image is not the size its header gives"));
    if (layout.Rle && image.constBits() != prepared)
        BmpFail(path, QStringLiteral("the run-length data could not be read"));
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        ThrowIfCancelled(path, *sink);
        sink->Row(y, reinterpret_cast<const QRgb*>(image.constScanLine(y)));
    }
}

}  // namespace decoders
