#include "image/PngEncoder.h"

#include "common/Error.h"

#include <QIODevice>

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <utility>

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

// libpng reports errors by longjmp; nothing with a destructor may live in this frame.
// `pixels` is RGB888 or RGBA8888 as `kind` says.
bool EncodeRows(const QImage& pixels, TPngKind kind, PngWriteState& state)
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.width()), static_cast<png_uint_32>(pixels.height()), 8,
                 kind == TPngKind::Rgba ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Sprites are mostly flat colour and repeated rows, which deflate finds best in the
    // unfiltered rows: smaller than libpng's adaptive filters and faster.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    if (kind == TPngKind::RgbWhiteTransparent) {
        png_color_16 white{};
        white.red = white.green = white.blue = 255;
        png_set_tRNS(png, info, nullptr, 0, &white);
    }
    png_write_info(png, info);
    for (int y = 0; y < pixels.height(); ++y)
        png_write_row(png, pixels.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void Encode(const QImage& image, TPngKind kind, PngWriteState& state)
{
    const QImage pixels = image.convertToFormat(kind == TPngKind::Rgba ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (pixels.isNull() && !image.isNull())
        throw TError(QStringLiteral("not enough memory to encode a PNG image"));
    if (!EncodeRows(pixels, kind, state)) {
        if (!state.writeError.isEmpty())
            throw TError(state.writeError);
        throw TError(QStringLiteral("cannot encode a PNG image: %1").arg(QString::fromLatin1(state.error)));
    }
}

}  // namespace

QByteArray EncodePng(const QImage& image, TPngKind kind)
{
    PngWriteState state;
    Encode(image, kind, state);
    return std::move(state.bytes);
}

void EncodePng(const QImage& image, TPngKind kind, QIODevice& device)
{
    PngWriteState state;
    state.device = &device;
    Encode(image, kind, state);
}
