#include "image/ImageDecoders.h"

#include "archive/ByteReader.h"
#include "common/Error.h"
#include "image/PngEncoder.h"

#include <QFile>
#include <QImageReader>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Our callers bound every image's size, and Qt's own default limit is below the largest
// frame. The limit is one for the whole process: lifted as the program starts, before any
// thread decodes, not from whichever thread decodes the first BMP.
[[maybe_unused]] const bool kQtImageLimitLifted = (QImageReader::setAllocationLimit(0), true);

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

FilePtr OpenFile(const QString& path)
{
    FilePtr file(std::fopen(QFile::encodeName(path).constData(), "rb"), std::fclose);
    if (!file)
        throw TError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return file;
}

// Failures inside the C libraries come back by longjmp with their message here. Frames
// that call setjmp hold nothing with a destructor; everything lives in the callers.
struct CodecError {
    char text[JMSG_LENGTH_MAX > 256 ? JMSG_LENGTH_MAX : 256] = {};
};

[[noreturn]] void Raise(const QString& path, const CodecError& error)
{
    throw TError(QStringLiteral("%1: %2").arg(path, QString::fromLatin1(error.text)));
}

// The reason a decode stopped because its sink asked.
constexpr char kCancelled[] = "cancelled";

void ThrowIfCancelled(const QString& path, const TImageSink& sink)
{
    if (sink.Cancelled())
        throw TError(QStringLiteral("%1: %2").arg(path, QLatin1String(kCancelled)));
}

// ---------------------------------------------------------------------------------- PNG

[[noreturn]] void PngError(png_structp png, png_const_charp message)
{
    auto* error = static_cast<CodecError*>(png_get_error_ptr(png));
    std::strncpy(error->text, message, sizeof error->text - 1);
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

TTransparency PngTransparency(png_structp png, png_infop info)
{
    const int colourType = png_get_color_type(png, info);
    if (colourType & PNG_COLOR_MASK_ALPHA)
        return TTransparency::Partial;
    if (!png_get_valid(png, info, PNG_INFO_tRNS))
        return TTransparency::None;
    if (colourType != PNG_COLOR_TYPE_PALETTE)
        return TTransparency::OneColour;
    png_bytep alphas = nullptr;
    int count = 0;
    png_get_tRNS(png, info, &alphas, &count, nullptr);
    int clear = 0;
    int partial = 0;
    for (int i = 0; i < count; ++i) {
        clear += alphas[i] == 0;
        partial += alphas[i] != 0 && alphas[i] != 255;
    }
    if (clear == 0 && partial == 0)
        return TTransparency::None;
    return clear == 1 && partial == 0 ? TTransparency::OneColour : TTransparency::Partial;
}

// Reads the header and sets every format up to come out as 8-bit BGRA, the byte order of
// QRgb here: palettes and small greys expanded, tRNS turned into alpha (before 16 bits are
// scaled, so a 16-bit transparent colour matches exactly), no gamma applied.
bool PngHeader(png_structp png, png_infop info, TImageInfo* out, int* passes)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    // libpng caps both at 2^31 - 1 and our callers far below; anything wider is damage.
    if (width > 0x7FFFFFFF / 4 || height > 0x7FFFFFFF)
        png_error(png, "image dimensions too large");
    out->Width = static_cast<int>(width);
    out->Height = static_cast<int>(height);
    out->Transparency = PngTransparency(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "unexpected row layout");
    return true;
}

// Reads every pass into `rows` (one row for a plain image, the whole image for an
// interlaced one, whose passes fill it in turn) and hands finished rows to the sink.
bool PngRows(png_structp png, int height, int passes, QRgb* rows, std::size_t width,
             TImageSink* sink)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (passes == 1) {
        for (int y = 0; y < height; ++y) {
            if (sink->Cancelled())
                png_error(png, kCancelled);
            png_read_row(png, reinterpret_cast<png_bytep>(rows), nullptr);
            sink->Row(y, rows);
        }
    } else {
        for (int pass = 0; pass < passes; ++pass) {
            for (int y = 0; y < height; ++y) {
                if (sink->Cancelled())
                    png_error(png, kCancelled);
                png_read_row(png, reinterpret_cast<png_bytep>(rows + static_cast<std::size_t>(y) * width), nullptr);
            }
        }
        for (int y = 0; y < height; ++y)
            sink->Row(y, rows + static_cast<std::size_t>(y) * width);
    }
    png_read_end(png, nullptr);
    return true;
}

struct PngReader {
    CodecError error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, PngError, PngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    PngReader()
    {
        if (png == nullptr)
            return;
        // The pixels need none of the ancillary chunks, and each may claim gigabytes: they
        // are skipped unread, and anything else is held to a few MB.
        static const png_byte kSkipped[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                           "sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt";
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, static_cast<int>(sizeof kSkipped / 5));
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
        png_set_chunk_malloc_max(png, 8 << 20);
        png_set_chunk_cache_max(png, 1000);
        // The bound the sprite sheet's writer keeps too, made plain rather than left to
        // libpng's default.
        png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    }
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

// A PNG held in memory. Running short is damage: libpng must not see zeros instead.
struct PngMemory {
    const png_byte* data;
    std::size_t size;
    std::size_t position = 0;
};

void ReadPngMemory(png_structp png, png_bytep out, png_size_t count)
{
    auto* memory = static_cast<PngMemory*>(png_get_io_ptr(png));
    if (memory->size - memory->position < count)
        png_error(png, "the data ends early");
    std::memcpy(out, memory->data + memory->position, count);
    memory->position += count;
}

// The reader's input is already set up; `path` names the image in messages.
void DecodePng(PngReader& reader, const QString& path, TImageSink* sink, TImageInfo* header)
{
    TImageInfo info;
    int passes = 1;
    if (!PngHeader(reader.png, reader.info, &info, &passes))
        Raise(path, reader.error);
    *header = info;
    if (sink == nullptr)
        return;
    sink->Begin(info);
    std::vector<QRgb> rows(static_cast<std::size_t>(info.Width) * static_cast<std::size_t>(passes == 1 ? 1 : info.Height));
    if (!PngRows(reader.png, info.Height, passes, rows.data(), static_cast<std::size_t>(info.Width), sink))
        Raise(path, reader.error);
}

void DecodePngFile(const QString& path, TImageSink* sink, TImageInfo* header)
{
    const FilePtr file = OpenFile(path);
    PngReader reader;
    if (reader.info == nullptr)
        throw TError(path + QStringLiteral(": out of memory"));
    png_init_io(reader.png, file.get());
    DecodePng(reader, path, sink, header);
}

// --------------------------------------------------------------------------------- JPEG

struct JpegErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    CodecError error;
};

[[noreturn]] void JpegError(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->error.text);
    std::longjmp(errors->jump, 1);
}

// Warnings that mean pixels are missing or were decoded from garbled data: libjpeg fills
// them in (grey rows, smeared blocks) and carries on, but the frame is damaged. The rest (an
// unknown Adobe transform or JFIF revision, an ICC profile never read here) leave every
// pixel as the file has it.
bool IsJpegDamage(int code)
{
    switch (code) {
    case JWRN_ARITH_BAD_CODE:     // corrupt arithmetic-coded data
    case JWRN_BOGUS_PROGRESSION:  // a scan out of sequence: coefficients refined that never came
    case JWRN_HIT_MARKER:         // a scan ends before its last block
    case JWRN_HUFF_BAD_CODE:      // corrupt Huffman-coded data
    case JWRN_JPEG_EOF:           // the file ends before the image does
    case JWRN_MUST_RESYNC:        // a restart marker missing: blocks skipped
    case JWRN_NOT_SEQUENTIAL:     // a scan a sequential image cannot have
        return true;
    default:
        return false;
    }
}

void JpegMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && IsJpegDamage(cinfo->err->msg_code))
        JpegError(cinfo);
}

[[noreturn]] void JpegFail(j_common_ptr cinfo, const char* text)
{
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::snprintf(errors->error.text, sizeof errors->error.text, "%s", text);
    std::longjmp(errors->jump, 1);
}

// libjpeg calls this before every input row of MCUs while it gathers a multi-scan image and
// before every output row: the scan count is known as each scan starts, before its data are
// decoded.
struct JpegProgress {
    jpeg_progress_mgr manager{};  // first: libjpeg hands back its address
    const TImageSink* sink = nullptr;
};

void JpegProgressMonitor(j_common_ptr cinfo)
{
    const auto* progress = reinterpret_cast<const JpegProgress*>(cinfo->progress);
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
        char text[64];
        std::snprintf(text, sizeof text, "the image has more than %d scans", kMaxJpegScans);
        JpegFail(cinfo, text);
    }
    if (progress->sink != nullptr && progress->sink->Cancelled())
        JpegFail(cinfo, kCancelled);
}

// The decompressor needs at most this much for its own buffers (a progressive image keeps
// every coefficient); a file claiming more is refused rather than filling memory.
constexpr long kJpegMemory = 1L << 30;

bool JpegHeader(jpeg_decompress_struct* cinfo, JpegErrorManager* errors, FILE* file, TImageInfo* out)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_stdio_src(cinfo, file);
    cinfo->mem->max_memory_to_use = kJpegMemory;
    jpeg_read_header(cinfo, TRUE);
    out->Width = static_cast<int>(cinfo->image_width);
    out->Height = static_cast<int>(cinfo->image_height);
    out->Transparency = TTransparency::None;
    // CMYK and YCCK come out as CMYK and are turned to RGB here; everything else libjpeg
    // converts straight into QRgb's byte order.
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    return true;
}

bool JpegRows(jpeg_decompress_struct* cinfo, JpegErrorManager* errors, QRgb* row, TImageSink* sink)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(cinfo);
    const bool cmyk = cinfo->out_color_space == JCS_CMYK;
    // Adobe's CMYK is stored inverted: the usual case with an Adobe marker.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        JSAMPROW samples = reinterpret_cast<JSAMPROW>(row);
        jpeg_read_scanlines(cinfo, &samples, 1);
        if (cmyk) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(row);
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
                unsigned c = bytes[4 * x], m = bytes[4 * x + 1], yl = bytes[4 * x + 2], k = bytes[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yl = 255 - yl;
                    k = 255 - k;
                }
                row[x] = qRgb(static_cast<int>(c * k / 255), static_cast<int>(m * k / 255), static_cast<int>(yl * k / 255));
            }
        }
        sink->Row(y, row);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

struct JpegReader {
    JpegErrorManager errors;
    JpegProgress progress;
    jpeg_decompress_struct cinfo;
    JpegReader()
    {
        cinfo.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = JpegError;
        errors.manager.emit_message = JpegMessage;
        jpeg_create_decompress(&cinfo);
        progress.manager.progress_monitor = JpegProgressMonitor;
        cinfo.progress = &progress.manager;
    }
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

void DecodeJpegFile(const QString& path, TImageSink* sink, TImageInfo* header)
{
    const FilePtr file = OpenFile(path);
    JpegReader reader;
    TImageInfo info;
    if (!JpegHeader(&reader.cinfo, &reader.errors, file.get(), &info))
        Raise(path, reader.errors.error);
    *header = info;
    if (sink == nullptr)
        return;
    sink->Begin(info);
    reader.progress.sink = sink;
    std::vector<QRgb> row(static_cast<std::size_t>(info.Width));
    if (!JpegRows(&reader.cinfo, &reader.errors, row.data(), sink))
        Raise(path, reader.errors.error);
}

// ---------------------------------------------------------------------------------- BMP

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

void Decode(const QString& path, const QString& format, TImageSink* sink, TImageInfo* info)
{
    if (format == u"PNG")
        DecodePngFile(path, sink, info);
    else if (format == u"JPEG")
        DecodeJpegFile(path, sink, info);
    else if (format == u"BMP")
        DecodeBmpFile(path, sink, info);
    else
        throw TError(QStringLiteral("%1: no decoder for the format \"%2\"").arg(path, format));
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
        std::memcpy(image.scanLine(y), pixels, static_cast<std::size_t>(image.width()) * sizeof(QRgb));
    }

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
    PngReader reader;
    if (reader.info == nullptr)
        throw TError(name + QStringLiteral(": out of memory"));
    PngMemory memory{reinterpret_cast<const png_byte*>(data.constData()), static_cast<std::size_t>(data.size())};
    png_set_read_fn(reader.png, &memory, ReadPngMemory);
    TImageInfo info;
    DecodePng(reader, name, &sink, &info);
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
