#include "packer/PreviewFrames.h"

#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"
#include "package/SheetRule.h"

#include <QFileInfo>

#include <cstring>

namespace {

// Draws the frame's rows as the sheet will hold them, leaving clear what will be white.
class PreviewSink : public TImageSink {
public:
    explicit PreviewSink(const QString& path) : path_(path) {}
    QImage image;

    void Begin(const TImageInfo& info) override
    {
        if (info.Width > kMaxFrameSide || info.Height > kMaxFrameSide ||
            std::int64_t{info.Width} * info.Height * 4 > TPreviewFrames::kMaxFrameBytes)
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
    TTransparency transparency_ = TTransparency::None;
};

}  // namespace

TPreviewFrames::TPreviewFrames() = default;

TPreviewFrames::~TPreviewFrames()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

const TPreviewFrames::Frame* TPreviewFrames::Find(const QString& path) const
{
    const auto found = frames_.constFind(path);
    return found == frames_.cend() ? nullptr : &*found;
}

void TPreviewFrames::Request(const QStringList& paths)
{
    wanted_ = QSet<QString>(paths.cbegin(), paths.cend());
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
        // Neither the frame being decoded nor results not collected yet need a second decode.
        QSet<QString> skipped{decoding_};
        for (const auto& [path, frame] : done_)
            skipped.insert(path);
        for (const QString& path : paths) {
            if (!frames_.contains(path) && !skipped.contains(path)) {
                queue_.push_back(path);
                skipped.insert(path);
            }
        }
    }
    // Started by the first frame asked for: a packer never shown costs no thread.
    if (!thread_.joinable() && !paths.isEmpty())
        thread_ = std::thread([this] { Run(); });
    wake_.notify_all();
}

void TPreviewFrames::Clear()
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

TPreviewFrames::Frame TPreviewFrames::Decode(const QString& path)
{
    try {
        if (!QFileInfo(path).isFile())
            throw TError(path + QStringLiteral(": the file does not exist"));
        const QString format = DetectImageFormat(path);
        if (format == u"0")
            throw TError(path + QStringLiteral(": the file is empty"));
        if (!IsDecodableFormat(format))
            throw TError(path + QStringLiteral(": not a BMP, JPEG or PNG image") +
                         (format.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(format)));
        PreviewSink sink(path);
        DecodeImage(path, format, sink);
        return {std::move(sink.image), {}};
    } catch (const TError& error) {
        return {{}, error.Text()};
    } catch (const std::bad_alloc&) {
        return {{}, path + QStringLiteral(": out of memory")};
    }
}

void TPreviewFrames::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            return;
        const QString path = queue_.front();
        queue_.pop_front();
        decoding_ = path;
        const std::uint64_t generation = generation_;
        lock.unlock();
        Frame frame = Decode(path);
        lock.lock();
        decoding_.clear();
        if (generation != generation_)
            continue;
        done_.emplace_back(path, std::move(frame));
        // One wake-up collects everything that is done by then.
        if (done_.size() == 1)
            QMetaObject::invokeMethod(this, &TPreviewFrames::Collect, Qt::QueuedConnection);
    }
}

void TPreviewFrames::Collect()
{
    std::vector<std::pair<QString, Frame>> done;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done.swap(done_);
    }
    for (auto& [path, frame] : done) {
        Keep(path, std::move(frame));
        emit Decoded(path);
    }
}

void TPreviewFrames::Keep(const QString& path, Frame frame)
{
    const std::int64_t size = frame.Image.sizeInBytes();
    // Room comes first from frames no longer asked for.
    for (auto it = frames_.begin(); bytes_ + size > kMaxBytes && it != frames_.end();) {
        if (wanted_.contains(it.key())) {
            ++it;
            continue;
        }
        bytes_ -= it->Image.sizeInBytes();
        it = frames_.erase(it);
    }
    if (bytes_ + size > kMaxBytes)
        frame = {{}, QStringLiteral("%1: not previewed: the action's frames take more than %2 MiB decoded")
                         .arg(path).arg(kMaxBytes >> 20)};
    bytes_ += frame.Image.sizeInBytes();
    frames_.insert(path, std::move(frame));
}
