#include "image/DecoderSupport.h"

#include "common/Error.h"
#include "image/PngEncoder.h"

#include <QByteArray>

#include <png.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace decoders {
namespace {

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
    const auto width = static_cast<std::size_t>(info.Width);
    QRgb* whole = passes == 1 ? nullptr : sink->WholeImage();
    std::vector<QRgb> rows(whole != nullptr ? 0 : width * static_cast<std::size_t>(passes == 1 ? 1 : info.Height));
    if (!PngRows(reader.png, info.Height, passes, whole != nullptr ? whole : rows.data(), width, sink))
        Raise(path, reader.error);
}

}  // namespace

void DecodePngFile(const QString& path, TImageSink* sink, TImageInfo* header)
{
    const FilePtr file = OpenFile(path);
    PngReader reader;
    if (reader.info == nullptr)
        throw TError(path + QStringLiteral(": out of memory"));
    png_init_io(reader.png, file.get());
    DecodePng(reader, path, sink, header);
}

void DecodePngMemory(const QByteArray& data, const QString& name, TImageSink* sink, TImageInfo* header)
{
    PngReader reader;
    if (reader.info == nullptr)
        throw TError(name + QStringLiteral(": out of memory"));
    PngMemory memory{reinterpret_cast<const png_byte*>(data.constData()), static_cast<std::size_t>(data.size())};
    png_set_read_fn(reader.png, &memory, ReadPngMemory);
    DecodePng(reader, name, sink, header);
}

}  // namespace decoders
