#include "package/SpriteSheet.h"

#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/PngEncoder.h"
#include "package/PackageLayout.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

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

std::int64_t SheetMemory(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        throw TError(path + QStringLiteral(" does not exist"));
    if (!SheetHoldsImage(info.size()))
        return 0;
    const TImageInfo header = ReadImageInfo(path, QStringLiteral("PNG"));
    const std::int64_t width = std::max(header.Width, 0);
    const std::int64_t height = std::max(header.Height, 0);
    // Each side is below 2^31, so the product fits; what it is multiplied by may not.
    const std::int64_t pixels = width * height;
    if (pixels > std::numeric_limits<std::int64_t>::max() / 8)
        return std::numeric_limits<std::int64_t>::max();
    return pixels * 4 + (width + 31) / 32 * 4 * height;
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
    QSaveFile file(path);
    // Unbuffered, so that a failed write reports the system's reason at once.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (sheet.isNull()) {
        if (file.write(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature) != sizeof kPngSignature)
            throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    } else {
        // Written as it is made: the whole file in memory beside the sheet would double the
        // build's peak for a big one.
        try {
            EncodePng(sheet, TPngKind::RgbWhiteTransparent, file);
        } catch (const TError& error) {
            throw TError(QStringLiteral("%1: %2").arg(path, error.Text()));
        }
    }
    errno = 0;
    if (!file.commit()) {
        const int error = errno;
        throw TError(QStringLiteral("%1: %2").arg(path, error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString()));
    }
}
