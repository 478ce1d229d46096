#include "packer/FrameImport.h"

#include "image/Animation.h"
#include "image/ImageFormat.h"
#include "package/SheetRule.h"
#include "packer/FrameFolder.h"
#include "packer/ImportSupport.h"

#include <QDir>

#include <cstring>
#include <utility>

namespace {

// Keeps the first frame alone: the reader's own canvas, which it gives up as it stops here.
class FirstFrame : public TAnimationSink {
public:
    struct Done {};
    explicit FirstFrame(const TImportProgress& progress) : progress_(progress) {}
    TSheetImage Sheet;

    void Begin(const TAnimationInfo& info) override { transparent_ = info.Transparent; }
    void Frame(const QImage& canvas, int) override
    {
        Sheet.Image = canvas;
        Sheet.Transparency = transparent_ || HasClearPixel(canvas) ? TTransparency::Partial : TTransparency::None;
        throw Done{};
    }
    bool Cancelled() const override { return progress_.Stopped(); }

private:
    const TImportProgress& progress_;
    bool transparent_ = false;
};

// Reads no further than the header: the picture's size.
class SizeOnly : public TAnimationSink {
public:
    struct Done {};
    QSize Size;

    void Begin(const TAnimationInfo& info) override
    {
        Size = QSize(info.Width, info.Height);
        throw Done{};
    }
    void Frame(const QImage&, int) override {}
};

// Keeps a still picture whole, as straight ARGB32, within the limit of an animation.
class WholeSheet : public TImageSink {
public:
    WholeSheet(const QString& path, const TImportProgress& progress) : path_(path), progress_(progress) {}
    TSheetImage Sheet;

    void Begin(const TImageInfo& info) override
    {
        if (std::int64_t{info.Width} * info.Height * 4 > kMaxAnimationBytes)
            throw TError(QStringLiteral("%1: %2 by %3 pixels is too large").arg(path_).arg(info.Width).arg(info.Height));
        Sheet.Image = QImage(info.Width, info.Height, QImage::Format_ARGB32);
        if (Sheet.Image.isNull())
            throw TError(path_ + QStringLiteral(": out of memory"));
        Sheet.Transparency = info.Transparency;
    }
    void Row(int y, const QRgb* pixels) override
    {
        uchar* row = Sheet.Image.scanLine(y);
        if (reinterpret_cast<const uchar*>(pixels) != row)
            std::memcpy(row, pixels, static_cast<std::size_t>(Sheet.Image.width()) * sizeof(QRgb));
        progress_.Report(y + 1, Sheet.Image.height());
    }
    bool Cancelled() const override { return progress_.Stopped(); }
    // ARGB32 rows follow one another without padding.
    QRgb* WholeImage() override { return reinterpret_cast<QRgb*>(Sheet.Image.bits()); }

private:
    const QString& path_;
    const TImportProgress& progress_;
};

TError GridMisfit(const QString& path, QSize size)
{
    return TError(QStringLiteral("%1: the grid does not fit the image of %2 by %3 pixels, or cuts more than %4 cells")
                      .arg(path).arg(size.width()).arg(size.height()).arg(kMaxAnimationFrames));
}

}  // namespace

QList<QRect> GridCells(QSize size, const TSheetGrid& grid)
{
    int columns = grid.Columns;
    int rows = grid.Rows;
    QSize cell = grid.CellSize;
    if (grid.By == TSheetGrid::Kind::Count) {
        if (columns < 1 || rows < 1)
            return {};
        cell = QSize(size.width() / columns, size.height() / rows);
    } else {
        if (cell.width() < 1 || cell.height() < 1)
            return {};
        columns = size.width() / cell.width();
        rows = size.height() / cell.height();
    }
    if (cell.isEmpty() || columns < 1 || rows < 1 || std::int64_t{columns} * rows > kMaxAnimationFrames)
        return {};
    QList<QRect> cells;
    cells.reserve(columns * rows);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column)
            cells.append(QRect(QPoint(column * cell.width(), row * cell.height()), cell));
    }
    return cells;
}

namespace {

// "5 columns leave 3 of the 128 pixels across over; ..." for one side, empty when it divides.
QString SideLeftover(int pixels, int count, const char* counted, const char* across)
{
    if (count < 1 || pixels < 1 || pixels % count == 0)
        return {};
    // The counts that divide the side, nearest to the one asked first, at most eight.
    QList<int> fitting;
    for (int candidate = 1; candidate <= pixels && candidate <= kMaxAnimationFrames; ++candidate) {
        if (pixels % candidate == 0)
            fitting.append(candidate);
    }
    std::sort(fitting.begin(), fitting.end(),
              [count](int a, int b) { return std::abs(a - count) != std::abs(b - count) ? std::abs(a - count) < std::abs(b - count) : a < b; });
    fitting = fitting.mid(0, 8);
    std::sort(fitting.begin(), fitting.end());
    QStringList named;
    for (int fits : fitting)
        named.append(QStringLiteral("%1 (%2 px)").arg(fits).arg(pixels / fits));
    return QStringLiteral("%1 %2 leave %3 of the %4 pixels %5 over; %2 that fit: %6")
        .arg(count).arg(QLatin1String(counted)).arg(pixels % count).arg(pixels).arg(QLatin1String(across), named.join(QStringLiteral(", ")));
}

}  // namespace

QString GridLeftover(QSize size, const TSheetGrid& grid)
{
    if (grid.By != TSheetGrid::Kind::Count)
        return {};
    QStringList why;
    for (const QString& side : {SideLeftover(size.width(), grid.Columns, "columns", "across"),
                                SideLeftover(size.height(), grid.Rows, "rows", "down")}) {
        if (!side.isEmpty())
            why.append(side);
    }
    return why.join(QStringLiteral("; "));
}

TSheetImage LoadSheetImage(const QString& path, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
        const TImageFormat& format = CheckImageFile(path, TImageUse::Sheet).Usable();
        if (format.Decode == nullptr) {
            FirstFrame first(progress);
            try {
                ReadAnimationFile(path, first);
            } catch (const FirstFrame::Done&) {
                return std::move(first.Sheet);
            }
            throw TError(path + QStringLiteral(": the file holds no image"));
        }
        WholeSheet sink(path, progress);
        DecodeImage(path, QString::fromLatin1(format.Name), sink);
        return std::move(sink.Sheet);
    });
}

QSize SheetImageSize(const QString& path)
{
    const TImageFormat& format = CheckImageFile(path, TImageUse::Sheet).Usable();
    if (format.Decode == nullptr) {
        SizeOnly header;
        try {
            ReadAnimationFile(path, header);
        } catch (const SizeOnly::Done&) {
            return header.Size;
        }
        throw TError(path + QStringLiteral(": the file holds no image"));
    }
    const TImageInfo info = ReadImageInfo(path, QString::fromLatin1(format.Name));
    return QSize(info.Width, info.Height);
}

bool IsClearCell(const TSheetImage& sheet, const QRect& cell)
{
    const QRect area = cell & sheet.Image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(sheet.Image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            if (SheetColour(row[x], sheet.Transparency) != 0xFFFFFFFFu)
                return false;
        }
    }
    return true;
}

QStringList ImportSpriteSheet(const QString& path, const QString& projectFile, const TSheetGrid& grid, int room,
                              const TImportProgress& progress)
{
    // The grid is held to the picture's size before the picture is decoded.
    const QSize size = SheetImageSize(path);
    if (const QString leftover = GridLeftover(size, grid); !leftover.isEmpty())
        throw TError(path + QStringLiteral(": ") + leftover);
    if (GridCells(size, grid).isEmpty())
        throw GridMisfit(path, size);
    return ImportSpriteSheet(LoadSheetImage(path, progress), path, projectFile, grid, room, progress);
}

QStringList ImportSpriteSheet(const TSheetImage& sheet, const QString& path, const QString& projectFile,
                              const TSheetGrid& grid, int room, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
        if (const QString leftover = GridLeftover(sheet.Image.size(), grid); !leftover.isEmpty())
            throw TError(path + QStringLiteral(": ") + leftover);
        const QList<QRect> cells = GridCells(sheet.Image.size(), grid);
        if (cells.isEmpty())
            throw GridMisfit(path, sheet.Image.size());
        QList<QRect> kept;
        for (const QRect& cell : cells) {
            if (!IsClearCell(sheet, cell))
                kept.append(cell);
        }
        if (kept.isEmpty())
            throw TError(path + QStringLiteral(": every cell of the grid is see-through"));
        if (kept.size() > room)
            throw TError(QStringLiteral("%1: its %2 frames do not fit: %3").arg(path).arg(kept.size()).arg(RoomText(room)));
        FrameFolder folder(path, projectFile);
        folder.Expect(static_cast<int>(kept.size()));
        const TPngKind kind = sheet.Transparency == TTransparency::None ? TPngKind::Rgb : TPngKind::Rgba;
        QStringList names;
        for (const QRect& cell : kept) {
            if (progress.Stopped())
                throw TImportCancelled{};
            names.append(folder.Write(sheet.Image, cell, kind, progress));
            progress.Report(static_cast<int>(names.size()), static_cast<int>(kept.size()));
        }
        const QString committed = folder.Commit();
        QStringList paths;
        for (const QString& name : names)
            paths.append(QDir(committed).filePath(name));
        return paths;
    });
}
