#include "package/SpriteSheet.h"

#include "common/Error.h"
#include "package/PackageLayout.h"
#include "packer/ImageDecoders.h"

#include <QFileInfo>
#include <QSaveFile>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <utility>
#include <vector>

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
    // Sprite sheets are mostly flat colour and repeated rows, which deflate finds best in
    // the unfiltered rows: smaller than libpng's adaptive filters and faster.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
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

QImage DecodePng(const QString& path) { return DecodeImage(path, QStringLiteral("PNG"), nullptr, kMaxSheetBytes); }

QImage LoadSpriteSheet(const QString& path, QImage* clear)
{
    if (clear != nullptr)
        *clear = QImage();
    const QFileInfo info(path);
    if (!info.isFile())
        throw TError(path + QStringLiteral(" does not exist"));
    if (!SheetHoldsImage(info.size()))
        return {};
    // Transparency plays no part in drawing: every pixel keeps its stored colour.
    QImage sheet = DecodePng(path);
    if (clear != nullptr)
        *clear = ClearPixels(sheet);
    for (int y = 0; y < sheet.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(sheet.scanLine(y));
        for (int x = 0; x < sheet.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    sheet.reinterpretAsFormat(QImage::Format_RGB32);
    return sheet;
}

QImage ClearPixels(const QImage& argb)
{
    QImage clear;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 0)
                continue;
            if (clear.isNull()) {
                clear = QImage(argb.size(), QImage::Format_Mono);
                if (clear.isNull())
                    throw std::bad_alloc();
                clear.fill(0);
            }
            clear.scanLine(y)[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
        }
    }
    return clear;
}

std::optional<QRegion> ClearRegion(const QImage& clear, const QRect& frame, qsizetype maxRects)
{
    const QRect area = frame & clear.rect();
    if (area.isEmpty())
        return QRegion();
    // Runs of set pixels, row by row; a row with the same runs as the one above lengthens
    // that band instead of starting one, which is the banded form QRegion keeps.
    std::vector<QRect> rects;
    std::size_t bandStart = 0;
    std::vector<std::pair<int, int>> runs;
    std::vector<std::pair<int, int>> bandRuns;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        runs.clear();
        const uchar* bits = clear.constScanLine(y);
        for (int x = area.left(); x <= area.right();) {
            if ((bits[x >> 3] & (0x80 >> (x & 7))) == 0) {
                ++x;
                continue;
            }
            const int start = x;
            while (x <= area.right() && (bits[x >> 3] & (0x80 >> (x & 7))) != 0)
                ++x;
            runs.emplace_back(start - frame.left(), x - frame.left());
        }
        if (!runs.empty() && runs == bandRuns) {
            for (std::size_t i = bandStart; i < rects.size(); ++i)
                rects[i].setBottom(rects[i].bottom() + 1);
            continue;
        }
        bandStart = rects.size();
        bandRuns = runs;
        if (static_cast<qsizetype>(rects.size() + runs.size()) > maxRects)
            return std::nullopt;
        for (const auto& [left, right] : runs)
            rects.emplace_back(left, y - frame.top(), right - left, 1);
    }
    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
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
