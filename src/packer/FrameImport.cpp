#include "packer/FrameImport.h"

#include "image/Animation.h"
#include "image/ImageFormat.h"
#include "packer/FrameFolder.h"
#include "packer/ImportSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <utility>

namespace {

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

}  // namespace

int FrameEntries(int delayMs) { return std::max(1, static_cast<int>(std::lround(delayMs / 80.0))); }

bool IsImportedImage(const QString& path)
{
    if (ImageExtensions(TImageUse::Import).contains(u'.' + QFileInfo(path).suffix().toLower()))
        return true;
    // A still's file may hold an animation, as a PNG does when its control chunk stands
    // before its image data. Every still added goes through here: the file is mapped, not
    // read, so only the pages before the image data are touched, however large it is.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 8)
        return false;
    const uchar* mapped = file.map(0, file.size());
    const QByteArray data = mapped == nullptr ? file.read(1 << 20)
                                              : QByteArray::fromRawData(reinterpret_cast<const char*>(mapped),
                                                                        static_cast<qsizetype>(file.size()));
    for (const TImageFormat& format : ImageFormats()) {
        if (format.HoldsAnimation != nullptr && format.HoldsAnimation(data))
            return true;
    }
    return false;
}

QStringList ImportAnimation(const QString& path, const QString& projectFile, int room, const TImportProgress& progress)
{
    return Cancellable(progress, [&] {
        FrameFolder folder(path, projectFile);
        AnimationWriter writer(path, folder, room, progress);
        ReadAnimationFile(path, writer);
        if (folder.Count() == 0)
            throw TError(path + QStringLiteral(": the file holds no frame"));
        return writer.Entries(folder.Commit());
    });
}

