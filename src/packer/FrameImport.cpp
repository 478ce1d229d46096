#include "packer/FrameImport.h"

#include "common/Error.h"
#include "image/Animation.h"
#include "image/ImageFormat.h"
#include "image/PngEncoder.h"
#include "package/SheetRule.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

namespace {

// Set from a signal handler, so it must never take a lock.
std::atomic<int> gInterruption{0};
static_assert(std::atomic<int>::is_always_lock_free);

void ThrowIfInterrupted(const QString& source)
{
    if (gInterruption.load() != 0)
        throw TError(source + QStringLiteral(": the import was interrupted"));
}

QString RoomText(int room)
{
    return QStringLiteral("the project has room for %1 more of the %2 frames it may hold").arg(room).arg(kMaxPackageFrames);
}

// Folders of imports cut off by a crash or a kill: of our name, a folder itself and not a
// link, untouched for a day, and of no process that still runs (older names carry none).
void RemoveStaleStaging(const QString& parent)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.zuvora-import-(?:([0-9]{1,9})-)?[A-Za-z0-9]{6}$"));
    const std::time_t dayAgo = std::time(nullptr) - 24 * 60 * 60;
    QDirIterator entries(parent, {QStringLiteral(".zuvora-import-*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QRegularExpressionMatch match = pattern.match(entries.fileName());
        struct stat info {};
        if (!match.hasMatch() || ::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_mtime > dayAgo)
            continue;
        const QString pid = match.captured(1);
        if (!pid.isEmpty() && (::kill(pid.toInt(), 0) == 0 || errno == EPERM))
            continue;
        QDir(path).removeRecursively();  // never descends through a link
    }
}

// The name of an import's hidden folder in `parent`, once the leftovers of dead ones are gone.
QString StagingTemplate(const QString& parent)
{
    RemoveStaleStaging(parent);
    return QDir(parent).filePath(QStringLiteral(".zuvora-import-%1-XXXXXX").arg(::getpid()));
}

enum class FileKind { Gif, Png, Webp, Other };

FileKind KindOf(const QByteArray& head)
{
    if (head.startsWith("GIF8"))
        return FileKind::Gif;
    if (head.startsWith(QByteArray::fromRawData("\x89PNG\r\n\x1a\n", 8)))
        return FileKind::Png;
    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return FileKind::Webp;
    return FileKind::Other;
}

QByteArray ReadHead(const QString& path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return file.read(bytes);
}

QByteArray ReadWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxAnimationFileSize)
        throw TError(QStringLiteral("%1: the file is larger than %2 MiB").arg(path).arg(kMaxAnimationFileSize >> 20));
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return data;
}

void ReadAnimation(const QString& path, TAnimationSink& sink)
{
    const QByteArray data = ReadWhole(path);
    switch (KindOf(data)) {
    case FileKind::Gif:
        return ReadGif(data, path, sink);
    case FileKind::Png:
        return ReadApng(data, path, sink);
    case FileKind::Webp:
        return ReadWebp(data, path, sink);
    case FileKind::Other:
        break;
    }
    throw TError(path + QStringLiteral(": not a GIF, PNG or WebP file"));
}

// Runs a step of an import: a failure that came of a cancellation is the cancellation.
template <typename Work>
auto Cancellable(const TImportProgress& progress, Work&& work) -> decltype(work())
{
    try {
        return work();
    } catch (const TError&) {
        if (progress.Stopped())
            throw TImportCancelled{};
        throw;
    }
}

bool HasClearPixel(const QImage& argb)
{
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return true;
        }
    }
    return false;
}

// The frames of one import, written into a hidden folder of their own beside the project
// and moved into place under a free name only once all are there, so that a failure leaves
// nothing behind and nothing that exists is ever overwritten. The hidden folder's name
// carries the process, so that the next import can tell a dead one's leftovers.
class FrameFolder {
public:
    FrameFolder(const QString& source, const QString& projectFile)
        : source_(source), parent_(QFileInfo(projectFile).absolutePath()),
          staging_(StagingTemplate(parent_))
    {
        ThrowIfInterrupted(source_);
        if (!staging_.isValid())
            throw TError(QStringLiteral("%1: the frames cannot be written into %2: %3")
                             .arg(source_, parent_, staging_.errorString()));
        const QString folder = QDir(parent_).filePath(BaseName());
        if (!IsStorablePath(folder))
            throw TError(QStringLiteral("%1: the frames cannot go into %2: its path %3").arg(source_, folder, kUnstorablePath));
    }

    // How many files there will be, so that their names sort in frame order.
    void Expect(int count) { digits_ = std::max(3, static_cast<int>(QString::number(std::max(count - 1, 0)).size())); }

    // Writes the `area` of `image` as the next frame's PNG file, encoded as it is written.
    QString Write(const QImage& image, const QRect& area, TPngKind kind, const TImportProgress& progress)
    {
        ThrowIfInterrupted(source_);
        const QString name = QStringLiteral("%1.png").arg(names_.size(), digits_, 10, QLatin1Char('0'));
        QFile file(QDir(staging_.path()).filePath(name));
        const auto fail = [&](const QString& reason) {
            return TError(QStringLiteral("%1: %2 cannot be written: %3").arg(source_, file.fileName(), reason));
        };
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw fail(file.errorString());
        try {
            EncodePng(image, area, kind, file, progress.Cancelled);
        } catch (const TError& error) {
            throw fail(error.Text());
        }
        if (!file.flush())
            throw fail(file.errorString());
        names_.append(name);
        return name;
    }

    int Count() const { return static_cast<int>(names_.size()); }

    // Moves the folder into place; returns its full path.
    QString Commit()
    {
        ThrowIfInterrupted(source_);
        const QString base = BaseName();
        for (int attempt = 1; attempt <= 1000; ++attempt) {
            const QString folder =
                QDir(parent_).filePath(attempt == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(attempt));
            // Creating the name first claims it: rename() then only ever replaces that
            // empty folder of ours, never anything someone else made.
            if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
                if (errno == EEXIST)
                    continue;
                throw TError(QStringLiteral("%1: %2 cannot be created: %3").arg(source_, folder, QString::fromLocal8Bit(std::strerror(errno))));
            }
            // The folder made for the name has the mode the person's umask gives; the
            // temporary one, its owner's alone, takes it on.
            struct stat made {};
            const bool known = ::stat(QFile::encodeName(folder).constData(), &made) == 0;
            if (::rename(QFile::encodeName(staging_.path()).constData(), QFile::encodeName(folder).constData()) != 0) {
                const int error = errno;
                QDir().rmdir(folder);
                throw TError(QStringLiteral("%1: %2 cannot be created: %3").arg(source_, folder, QString::fromLocal8Bit(std::strerror(error))));
            }
            staging_.setAutoRemove(false);
            if (known)
                ::chmod(QFile::encodeName(folder).constData(), made.st_mode & 07777);
            return folder;
        }
        throw TError(QStringLiteral("%1: every folder name from %2 to %2-1000 is taken in %3").arg(source_, base, parent_));
    }

private:
    QString BaseName() const
    {
        const QString base = StorableName(QFileInfo(source_).completeBaseName());
        // A name that is no folder of its own would put the frames elsewhere.
        return base.isEmpty() || base.startsWith(u'.') ? QStringLiteral("frames") : base;
    }

    QString source_;
    QString parent_;
    QTemporaryDir staging_;
    QStringList names_;
    int digits_ = 3;
};

// Writes every frame of an animation, keeping its alpha where the file can carry any.
class AnimationWriter : public TAnimationSink {
public:
    AnimationWriter(const QString& path, FrameFolder& folder, int room, const TImportProgress& progress)
        : path_(path), folder_(folder), room_(room), progress_(progress)
    {
    }

    void Begin(const TAnimationInfo& info) override
    {
        transparent_ = info.Transparent;
        frames_ = info.FrameCount;
        folder_.Expect(info.FrameCount);
        progress_.Report(0, frames_);
    }

    void Frame(const QImage& canvas, int delayMs) override
    {
        const int entries = FrameEntries(delayMs);
        if (entries > room_ - total_)
            throw TError(QStringLiteral("%1: its frames would take at least %2 entries of the frame list at 80 ms each, "
                                        "but %3")
                             .arg(path_).arg(std::int64_t{total_} + entries).arg(RoomText(room_)));
        total_ += entries;
        const bool alpha = transparent_ || HasClearPixel(canvas);
        const QString name = folder_.Write(canvas, canvas.rect(), alpha ? TPngKind::Rgba : TPngKind::Rgb, progress_);
        entries_.append({name, entries});
        progress_.Report(static_cast<int>(entries_.size()), frames_);
    }

    bool Cancelled() const override { return progress_.Stopped(); }

    // The frame list's entries once the folder is in place.
    QStringList Entries(const QString& folder) const
    {
        QStringList paths;
        paths.reserve(total_);
        for (const auto& [name, count] : entries_) {
            const QString path = QDir(folder).filePath(name);
            for (int i = 0; i < count; ++i)
                paths.append(path);
        }
        return paths;
    }

private:
    const QString& path_;
    FrameFolder& folder_;
    int room_;
    const TImportProgress& progress_;
    bool transparent_ = false;
    int frames_ = 0;
    int total_ = 0;
    QList<std::pair<QString, int>> entries_;
};

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

// The format of a still sheet by its first bytes; raises TError for one that is not taken.
QString StillFormat(const QString& path)
{
    const QString format = DetectImageFormat(path);
    if (format == u"0")
        throw TError(path + QStringLiteral(": the file is empty"));
    if (!IsDecodableFormat(format))
        throw TError(path + QStringLiteral(": not a PNG, JPEG, BMP, GIF or WebP image"));
    return format;
}

TError GridMisfit(const QString& path, QSize size)
{
    return TError(QStringLiteral("%1: the grid does not fit the image of %2 by %3 pixels, or cuts more than %4 cells")
                      .arg(path).arg(size.width()).arg(size.height()).arg(kMaxAnimationFrames));
}

}  // namespace

int FrameEntries(int delayMs) { return std::max(1, static_cast<int>(std::lround(delayMs / 80.0))); }

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

TSheetImage LoadSheetImage(const QString& path, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
        const FileKind kind = KindOf(ReadHead(path, 16));
        if (kind == FileKind::Gif || kind == FileKind::Webp) {
            FirstFrame first(progress);
            try {
                ReadAnimation(path, first);
            } catch (const FirstFrame::Done&) {
                return std::move(first.Sheet);
            }
            throw TError(path + QStringLiteral(": the file holds no image"));
        }
        WholeSheet sink(path, progress);
        DecodeImage(path, StillFormat(path), sink);
        return std::move(sink.Sheet);
    });
}

QSize SheetImageSize(const QString& path)
{
    const FileKind kind = KindOf(ReadHead(path, 16));
    if (kind == FileKind::Gif || kind == FileKind::Webp) {
        SizeOnly header;
        try {
            ReadAnimation(path, header);
        } catch (const SizeOnly::Done&) {
            return header.Size;
        }
        throw TError(path + QStringLiteral(": the file holds no image"));
    }
    const TImageInfo info = ReadImageInfo(path, StillFormat(path));
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

bool IsImportedImage(const QString& path)
{
    static const QStringList kAnimationExtensions{QStringLiteral("gif"), QStringLiteral("apng"), QStringLiteral("webp")};
    if (kAnimationExtensions.contains(QFileInfo(path).suffix().toLower()))
        return true;
    // A PNG file may hold an animation, whose control chunk stands before its image data.
    // Every still added goes through here: the file is mapped, not read, so only the pages
    // of the chunks before the image data are touched, however large it is.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 8)
        return false;
    const uchar* mapped = file.map(0, file.size());
    if (mapped == nullptr)
        return IsAnimatedPng(file.read(1 << 20));
    return IsAnimatedPng(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), static_cast<qsizetype>(file.size())));
}

void InterruptImports(int signal) { gInterruption.store(signal); }

int ImportInterruption() { return gInterruption.load(); }

QStringList ImportAnimation(const QString& path, const QString& projectFile, int room, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
        FrameFolder folder(path, projectFile);
        AnimationWriter writer(path, folder, room, progress);
        ReadAnimation(path, writer);
        if (folder.Count() == 0)
            throw TError(path + QStringLiteral(": the file holds no frame"));
        return writer.Entries(folder.Commit());
    });
}

QStringList ImportSpriteSheet(const QString& path, const QString& projectFile, const TSheetGrid& grid, int room,
                              const TImportProgress& progress)
{
    // The grid is held to the picture's size before the picture is decoded.
    const QSize size = SheetImageSize(path);
    if (GridCells(size, grid).isEmpty())
        throw GridMisfit(path, size);
    return ImportSpriteSheet(LoadSheetImage(path, progress), path, projectFile, grid, room, progress);
}

QStringList ImportSpriteSheet(const TSheetImage& sheet, const QString& path, const QString& projectFile,
                              const TSheetGrid& grid, int room, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
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
