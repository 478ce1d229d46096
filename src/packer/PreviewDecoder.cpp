#include "packer/PreviewDecoder.h"

#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"
#include "package/SheetRule.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPainter>

#include <cstring>
#include <optional>

namespace {

// Draws the frame's rows as the sheet will hold them, leaving clear what will be white.
class PreviewSink : public TImageSink {
public:
    PreviewSink(const QString& path, const std::atomic<std::uint64_t>* generation, std::uint64_t expected)
        : path_(path), generation_(generation), expected_(expected)
    {
    }
    QImage image;

    bool Cancelled() const override
    {
        return generation_ != nullptr && generation_->load(std::memory_order_relaxed) != expected_;
    }

    void Begin(const TImageInfo& info) override
    {
        if (info.Width > kMaxFrameSide || info.Height > kMaxFrameSide ||
            std::int64_t{info.Width} * info.Height * 4 > TPreviewDecoder::kMaxFrameBytes)
            throw TError(QStringLiteral("%1: %2 by %3 pixels is too large to preview").arg(path_).arg(info.Width).arg(info.Height));
        transparency_ = info.Transparency;
        image = QImage(info.Width, info.Height, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            throw TError(path_ + QStringLiteral(": out of memory"));
    }

    void Row(int y, const QRgb* pixels) override
    {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = SheetColour(pixels[x], transparency_);
            out[x] = colour == 0xFFFFFFFFu ? 0u : colour;
        }
    }

private:
    const QString& path_;
    const std::atomic<std::uint64_t>* generation_;
    std::uint64_t expected_;
    TTransparency transparency_ = TTransparency::None;
};

}  // namespace

TPreviewDecoder::TPreviewDecoder() = default;

TPreviewDecoder::~TPreviewDecoder()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        ++generation_;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

const TPreviewDecoder::Frame* TPreviewDecoder::Find(const QString& path) const
{
    const auto found = frames_.constFind(path);
    return found == frames_.cend() ? nullptr : &found->frame;
}

void TPreviewDecoder::Request(const QStringList& paths)
{
    wanted_ = QSet<QString>(paths.cbegin(), paths.cend());
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        // Neither the frame being decoded nor results not collected yet need a second look,
        // and a path listed twice needs one.
        QSet<QString> skipped{decoding_};
        for (const Result& result : done_)
            skipped.insert(result.path);
        ++request_;
        for (const QString& path : paths) {
            const auto kept = frames_.find(path);
            if (kept == frames_.end()) {
                if (!skipped.contains(path)) {
                    queue_.push_back({path, false, {}});
                    skipped.insert(path);
                }
            } else if (kept->request != request_) {
                kept->request = request_;
                if (!skipped.contains(path))
                    queue_.push_back({path, true, kept->stamp});
            }
        }
    }
    // Started by the first frame asked for: a packer never shown costs no thread.
    if (!thread_.joinable() && !paths.isEmpty())
        thread_ = std::thread([this] { Run(); });
    wake_.notify_all();
}

void TPreviewDecoder::Clear()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        done_.clear();
        decoding_.clear();  // its result is dropped, so a new request must ask again
        ++generation_;
    }
    frames_.clear();
    wanted_.clear();
    bytes_ = 0;
}

TPreviewDecoder::FileStamp TPreviewDecoder::Stamp(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return {};
    return {true, file.size(), file.lastModified().toMSecsSinceEpoch()};
}

TPreviewDecoder::Frame TPreviewDecoder::Decode(const QString& path) { return Decode(path, nullptr, 0); }

TPreviewDecoder::Frame TPreviewDecoder::Decode(const QString& path, const std::atomic<std::uint64_t>* generation,
                                             std::uint64_t expected)
{
    try {
        const TImageFormat& format = CheckImageFile(path, TImageUse::Frame).Usable();
        PreviewSink sink(path, generation, expected);
        DecodeImage(path, QString::fromLatin1(format.Name), sink);
        return {std::move(sink.image), {}};
    } catch (const TError& error) {
        return {{}, error.Text()};
    } catch (const std::bad_alloc&) {
        return {{}, path + QStringLiteral(": out of memory")};
    }
}

void TPreviewDecoder::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            return;
        const Job job = std::move(queue_.front());
        queue_.pop_front();
        decoding_ = job.path;
        const std::uint64_t generation = generation_;
        lock.unlock();
        // Taken before decoding: a file written meanwhile differs from it next time.
        const FileStamp stamp = Stamp(job.path);
        std::optional<Frame> frame;
        if (!job.kept || stamp != job.stamp)
            frame = Decode(job.path, &generation_, generation);
        lock.lock();
        decoding_.clear();
        if (!frame || generation != generation_)
            continue;
        done_.push_back({job.path, std::move(*frame), stamp});
        // One wake-up collects everything that is done by then.
        // By name: a slot object made here would be freed on this thread while the UI thread
        // may still call it, a hand-over the thread sanitizer cannot see through Qt.
        if (done_.size() == 1)
            QMetaObject::invokeMethod(this, "Collect", Qt::QueuedConnection);
    }
}

void TPreviewDecoder::Collect()
{
    std::vector<Result> done;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done.swap(done_);
    }
    for (Result& result : done) {
        const QString path = result.path;
        Keep(std::move(result));
        emit Decoded(path);
    }
}

void TPreviewDecoder::Keep(Result result)
{
    // A frame decoded again takes the place of the one before.
    if (const auto old = frames_.constFind(result.path); old != frames_.cend()) {
        bytes_ -= old->frame.Image.sizeInBytes();
        frames_.erase(old);
    }
    const std::int64_t size = result.frame.Image.sizeInBytes();
    // Room comes first from frames no longer asked for.
    for (auto it = frames_.begin(); bytes_ + size > kMaxBytes && it != frames_.end();) {
        if (wanted_.contains(it.key())) {
            ++it;
            continue;
        }
        bytes_ -= it->frame.Image.sizeInBytes();
        it = frames_.erase(it);
    }
    if (bytes_ + size > kMaxBytes)
        result.frame = {{}, QStringLiteral("%1: not previewed: the action's frames take more than %2 MiB decoded")
                                .arg(result.path).arg(kMaxBytes >> 20)};
    bytes_ += result.frame.Image.sizeInBytes();
    frames_.insert(result.path, {std::move(result.frame), result.stamp, 0});
}

void DrawUnshownFrame(QPainter& painter, const QRect& box)
{
    painter.save();
    painter.fillRect(box, Qt::white);
    painter.setPen(QPen(Qt::red, 2));
    painter.drawRect(box.adjusted(1, 1, -1, -1));
    painter.drawLine(box.topLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomLeft());
    painter.restore();
}
