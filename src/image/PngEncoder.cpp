#include "image/PngEncoder.h"

#include "common/Error.h"

#include <QIODevice>

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <utility>
#include <vector>

namespace {

struct PngWriteState {
    char error[256] = {};
    QByteArray bytes;             // what is made, when there is no device
    QIODevice* device = nullptr;  // else where it goes
    QString writeError;           // the device's reason, when a write failed
};

[[noreturn]] void RaisePngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngWriteState*>(png_get_error_ptr(png));
    std::strncpy(state->error, message, sizeof state->error - 1);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
    const auto* bytes = reinterpret_cast<const char*>(data);
    const auto size = static_cast<qint64>(length);
    if (state->device == nullptr) {
        state->bytes.append(bytes, size);
        return;
    }
    errno = 0;
    if (state->device->write(bytes, size) != size) {
        // Qt's own text for a failed write is often "Unknown error"; the system's says why.
        const int error = errno;
        state->writeError = error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : state->device->errorString();
        png_error(png, "write failed");
    }
}

void FlushNothing(png_structp) {}

// The rows of an area of an image in the byte order libpng writes: ARGB32 and RGB32 are
// converted a row at a time into `buffer`, so that no copy of the whole image is made;
// any other format was converted before.
struct RowSource {
    const QImage* image;
    QRect area;
    TPngKind kind;
    bool convert;
    uchar* buffer;  // a row of the output, when converting
    const std::function<bool()>* cancelled;
};

const uchar* SourceRow(const RowSource& source, int y)
{
    const uchar* line = source.image->constScanLine(source.area.top() + y);
    if (!source.convert)
        return line + static_cast<qsizetype>(source.area.left()) * (source.kind == TPngKind::Rgba ? 4 : 3);
    const auto* pixels = reinterpret_cast<const QRgb*>(line) + source.area.left();
    const bool alpha = source.kind == TPngKind::Rgba;
    uchar* out = source.buffer;
    for (int x = 0; x < source.area.width(); ++x) {
        const QRgb pixel = pixels[x];
        *out++ = static_cast<uchar>(qRed(pixel));
        *out++ = static_cast<uchar>(qGreen(pixel));
        *out++ = static_cast<uchar>(qBlue(pixel));
        if (alpha)
            *out++ = static_cast<uchar>(qAlpha(pixel));
    }
    return source.buffer;
}

// libpng reports errors by longjmp; nothing with a destructor may live in this frame.
bool EncodeRows(const RowSource& source, PngWriteState& state)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, RaisePngError, IgnoreWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &state, AppendBytes, FlushNothing);
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_set_IHDR(png, info, static_cast<png_uint_32>(source.area.width()), static_cast<png_uint_32>(source.area.height()),
                 8, source.kind == TPngKind::Rgba ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Sprites are mostly flat colour and repeated rows, which deflate finds best in the
    // unfiltered rows: smaller than libpng's adaptive filters and faster.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    if (source.kind == TPngKind::RgbWhiteTransparent) {
        png_color_16 white{};
        white.red = white.green = white.blue = 255;
        png_set_tRNS(png, info, nullptr, 0, &white);
    }
    png_write_info(png, info);
    for (int y = 0; y < source.area.height(); ++y) {
        if (*source.cancelled && (*source.cancelled)())
            png_error(png, "cancelled");
        png_write_row(png, SourceRow(source, y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void Encode(const QImage& image, QRect area, TPngKind kind, PngWriteState& state, const std::function<bool()>& cancelled)
{
    area &= image.rect();
    const bool convert = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32;
    QImage converted;
    if (!convert) {
        // An image already in the output's format is shared, not copied.
        const QImage part = area == image.rect() ? image : image.copy(area);
        converted = part.convertToFormat(kind == TPngKind::Rgba ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        if (converted.isNull() && !area.isEmpty())
            throw TError(QStringLiteral("not enough memory to encode a PNG image"));
        area.moveTo(0, 0);
    }
    std::vector<uchar> buffer(convert ? static_cast<std::size_t>(area.width()) * 4 : 0);
    const RowSource source{convert ? &image : &converted, area, kind, convert, buffer.data(), &cancelled};
    if (!EncodeRows(source, state)) {
        if (!state.writeError.isEmpty())
            throw TError(state.writeError);
        throw TError(QStringLiteral("cannot encode a PNG image: %1").arg(QString::fromLatin1(state.error)));
    }
}

}  // namespace

QByteArray EncodePng(const QImage& image, TPngKind kind)
{
    PngWriteState state;
    Encode(image, image.rect(), kind, state, {});
    return std::move(state.bytes);
}

void EncodePng(const QImage& image, TPngKind kind, QIODevice& device)
{
    EncodePng(image, image.rect(), kind, device, {});
}

void EncodePng(const QImage& image, const QRect& area, TPngKind kind, QIODevice& device,
               const std::function<bool()>& cancelled)
{
    PngWriteState state;
    state.device = &device;
    Encode(image, area, kind, state, cancelled);
}
