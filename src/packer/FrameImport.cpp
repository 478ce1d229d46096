#include "packer/FrameImport.h"

#include "image/Animation.h"
#include "image/ImageFormat.h"
#include "packer/FrameFolder.h"
#include "packer/ImportSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <numeric>

namespace {

// Entry `ms` into an animation falls at, at `frameMs` an entry: rounded, halves up.
std::int64_t EntryAt(std::int64_t ms, std::int64_t frameMs) { return (2 * ms + frameMs) / (2 * frameMs); }

// Why the frames do not fit: `entries` ("at least 120", or the count) taken `at` ("at",
// "even at") `frameMs` an entry.
QString TooManyEntries(const QString& path, const QString& entries, const QString& at, int frameMs, int room)
{
    return QStringLiteral("%1: its frames would take %2 entries of the frame list %3 %4 ms a frame, but %5")
        .arg(path, entries, at).arg(frameMs).arg(RoomText(room));
}

// Writes every frame of an animation, keeping its alpha where the file can carry any, and
// keeps its delay for the timing once all are known.
class AnimationWriter : public TAnimationSink {
public:
    AnimationWriter(const QString& path, FrameFolder& folder, int room, std::optional<int> frameMs,
                    const TImportProgress& progress)
        : path_(path), folder_(folder), room_(room), frameMs_(frameMs), progress_(progress)
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
        // Refused as soon as the frames so far pass the room even at the longest frame time
        // the import may take, rather than once all are written.
        elapsed_ += std::max(delayMs, 0);
        const int longest = frameMs_.value_or(kMaxInterval);
        if (const std::int64_t least = EntryAt(elapsed_, longest); least > room_)
            throw TError(TooManyEntries(path_, QStringLiteral("at least %1").arg(least),
                                        frameMs_ ? QStringLiteral("at") : QStringLiteral("even at"), longest, room_));
        delays_.append(delayMs);
        const bool alpha = transparent_ || HasClearPixel(canvas);
        names_.append(folder_.Write(canvas, canvas.rect(), alpha ? TPngKind::Rgba : TPngKind::Rgb, progress_));
        progress_.Report(static_cast<int>(names_.size()), frames_);
    }

    bool Cancelled() const override { return progress_.Stopped(); }

    // The timing of the frames written, refused when it would pass the room; the files of
    // frames left out go.
    TAnimationTiming Timing()
    {
        const TAnimationTiming timing = AnimationTiming(delays_, frameMs_);
        if (timing.Total > room_)
            throw TError(TooManyEntries(path_, QString::number(timing.Total), QStringLiteral("at"), timing.FrameMs, room_));
        for (qsizetype i = 0; i < names_.size(); ++i) {
            if (timing.Entries[i] == 0)
                folder_.Remove(names_[i]);
        }
        return timing;
    }

    // The frame list's entries once the folder is in place.
    QStringList Entries(const TAnimationTiming& timing, const QString& folder) const
    {
        QStringList paths;
        paths.reserve(static_cast<qsizetype>(timing.Total));
        for (qsizetype i = 0; i < names_.size(); ++i) {
            const QString path = QDir(folder).filePath(names_[i]);
            for (int k = 0; k < timing.Entries[i]; ++k)
                paths.append(path);
        }
        return paths;
    }

private:
    const QString& path_;
    FrameFolder& folder_;
    int room_;
    std::optional<int> frameMs_;
    const TImportProgress& progress_;
    bool transparent_ = false;
    int frames_ = 0;
    std::int64_t elapsed_ = 0;
    QList<int> delays_;
    QStringList names_;
};

}  // namespace

TAnimationTiming AnimationTiming(const QList<int>& delays, std::optional<int> frameMs)
{
    std::int64_t total = 0;
    int divisor = 0;
    std::map<int, int> counts;
    for (const int delay : delays) {
        if (delay <= 0)
            continue;
        total += delay;
        divisor = std::gcd(divisor, delay);
        ++counts[delay];
    }
    TAnimationTiming timing;
    int chosen = kFrameMs;
    if (frameMs) {
        chosen = *frameMs;
    } else if (divisor >= kMinInterval) {
        chosen = divisor;
    } else {
        int most = 0;
        for (const auto& [delay, count] : counts) {  // shortest first: a tie keeps it
            if (count > most) {
                most = count;
                chosen = delay;
            }
        }
    }
    timing.FrameMs = std::clamp(chosen, static_cast<int>(kMinInterval), static_cast<int>(kMaxInterval));
    // A file without any delay says nothing of its pace: each frame is one entry.
    const bool untimed = total == 0;
    std::int64_t start = 0;
    std::int64_t at = 0;
    timing.Entries.reserve(delays.size());
    for (const int delay : delays) {
        start += untimed ? timing.FrameMs : std::max(delay, 0);
        const std::int64_t end = EntryAt(start, timing.FrameMs);
        // At most delay / FrameMs + 1, so within an int.
        timing.Entries.append(static_cast<int>(end - at));
        at = end;
    }
    if (at == 0 && !timing.Entries.isEmpty()) {
        timing.Entries.first() = 1;
        at = 1;
    }
    timing.Total = at;
    return timing;
}

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

TImportedAnimation ImportAnimation(const QString& path, const QString& projectFile, int room,
                                   const TImportProgress& progress, std::optional<int> frameMs)
{
    return Cancellable(progress, [&] {
        FrameFolder folder(path, projectFile);
        AnimationWriter writer(path, folder, room, frameMs, progress);
        ReadAnimationFile(path, writer);
        if (folder.Count() == 0)
            throw TError(path + QStringLiteral(": the file holds no frame"));
        const TAnimationTiming timing = writer.Timing();
        return TImportedAnimation{writer.Entries(timing, folder.Commit()), timing.FrameMs};
    });
}
