#include "player/SpriteSheet.h"

#include "common/Error.h"
#include "package/PackageLayout.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct PngState {
    char error[256] = {};
};

[[noreturn]] void RaisePngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::strncpy(state->error, message, sizeof state->error - 1);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp: nothing with a destructor may be created in this frame
// after setjmp; the image lives in the caller.
bool DecodeInto(png_structp png, png_infop info, FILE* file, QImage* out, PngState* state)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (std::int64_t{width} * height * 4 > kMaxSheetBytes) {
        std::snprintf(state->error, sizeof state->error, "%u by %u pixels is too large", width, height);
        return false;
    }
    // Every format becomes 8-bit BGRA, the byte order of QImage's 32-bit formats here:
    // palettes and small greys expanded, tRNS turned into alpha, 16 bits scaled (rounded),
    // no gamma applied, so the stored colour values come through unchanged.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4) {
        std::snprintf(state->error, sizeof state->error, "unexpected row layout");
        return false;
    }
    *out = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (out->isNull()) {
        std::snprintf(state->error, sizeof state->error, "out of memory");
        return false;
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, out->scanLine(static_cast<int>(y)), nullptr);
    }
    png_read_end(png, nullptr);
    return true;
}

struct PngWriteState : PngState {
    QByteArray bytes;
};

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<PngWriteState*>(png_get_io_ptr(png))->bytes.append(reinterpret_cast<const char*>(data),
                                                                    static_cast<qsizetype>(length));
}

void FlushNothing(png_structp) {}

// libpng reports errors by longjmp; nothing with a destructor may live in this frame.
bool EncodeRgbWithWhiteTransparent(const QImage& rgb, PngWriteState& state)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<PngState*>(&state), RaisePngError,
                                              IgnoreWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &state, AppendBytes, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.width()), static_cast<png_uint_32>(rgb.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color_16 white{};
    white.red = white.green = white.blue = 255;
    png_set_tRNS(png, info, nullptr, 0, &white);
    png_write_info(png, info);
    for (int y = 0; y < rgb.height(); ++y)
        png_write_row(png, rgb.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

QImage DecodePng(const QString& path)
{
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(QFile::encodeName(path).constData(), "rb"), std::fclose);
    if (!file)
        throw TError(QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    PngState state;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, RaisePngError, IgnoreWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    QImage image;
    const bool decoded = info != nullptr && DecodeInto(png, info, file.get(), &image, &state);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!decoded)
        throw TError(QStringLiteral("%1: %2").arg(path, QString::fromLatin1(state.error)));
    return image;
}

QImage LoadSpriteSheet(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        throw TError(path + QStringLiteral(" does not exist"));
    if (!SheetHoldsImage(info.size()))
        return {};
    // Transparency plays no part in drawing: every pixel keeps its stored colour.
    QImage sheet = DecodePng(path);
    for (int y = 0; y < sheet.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(sheet.scanLine(y));
        for (int x = 0; x < sheet.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    sheet.reinterpretAsFormat(QImage::Format_RGB32);
    return sheet;
}

void SaveSpriteSheet(const QImage& sheet, const QString& path)
{
    PngWriteState state;
    if (sheet.isNull()) {
        state.bytes = QByteArray(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature);
    } else {
        const QImage rgb = sheet.convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull() || !EncodeRgbWithWhiteTransparent(rgb, state))
            throw TError(QStringLiteral("%1: cannot encode the sprite sheet: %2").arg(path, QString::fromLatin1(state.error)));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(state.bytes) != state.bytes.size() ||
        !file.commit())
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
}
