#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class QPainter;
class QRect;

// The frames of the packer's preview, decoded on a thread of their own with the build's
// decoders and drawn as the build draws them onto the sheet, then kept until Clear().
class TPreviewDecoder : public QObject {
    Q_OBJECT
public:
    // A decoded frame: premultiplied ARGB, opaque except where the sheet will be white,
    // which is clear (drawn over white, it is the sheet exactly). A frame that cannot be
    // shown has a null image and the reason.
    struct Frame {
        QImage Image;
        QString Error;
    };

    // A frame decodes to at most this many bytes; all kept frames together to at most
    // kMaxBytes.
    static constexpr std::int64_t kMaxFrameBytes = std::int64_t{64} << 20;
    static constexpr std::int64_t kMaxBytes = std::int64_t{512} << 20;

    TPreviewDecoder();
    ~TPreviewDecoder() override;
    TPreviewDecoder(const TPreviewDecoder&) = delete;
    TPreviewDecoder& operator=(const TPreviewDecoder&) = delete;

    // The frame for the path, or null while it is not decoded.
    const Frame* Find(const QString& path) const;
    // Whether the last request named the path.
    bool IsWanted(const QString& path) const { return wanted_.contains(path); }
    // Decodes the frames of these paths not kept yet, in this order, in place of whatever
    // was asked for before and has not started; a kept frame whose file has changed, appeared
    // or gone since it was decoded is decoded again. Costs one look at each kept file, made
    // on the decoding thread.
    void Request(const QStringList& paths);
    // Forgets every frame; a decode under way is stopped and thrown away.
    void Clear();

    // Decodes one frame on the calling thread.
    static Frame Decode(const QString& path);

signals:
    void Decoded(const QString& path);

private:
    // A file as seen when its frame was decoded: missing, or its size and time.
    struct FileStamp {
        bool Exists = false;
        qint64 Size = 0;
        qint64 Modified = 0;  // ms since the epoch
        bool operator==(const FileStamp&) const = default;
    };
    struct Kept {
        Frame frame;
        FileStamp stamp;
        std::uint64_t request = 0;  // the last request that queued a look at it
    };
    struct Job {
        QString path;
        bool kept = false;  // then decoded again only when its file no longer has `stamp`
        FileStamp stamp;
    };
    struct Result {
        QString path;
        Frame frame;
        FileStamp stamp;
    };

    static FileStamp Stamp(const QString& path);
    // Decodes until done or until `generation` moves on from `expected`.
    static Frame Decode(const QString& path, const std::atomic<std::uint64_t>* generation, std::uint64_t expected);
    void Run();
    // Called by name from the decoding thread (see Run).
    Q_INVOKABLE void Collect();
    void Keep(Result result);

    // The UI thread's.
    QHash<QString, Kept> frames_;
    QSet<QString> wanted_;  // the last request's paths: kept when room is made
    std::uint64_t request_ = 0;  // counts requests
    std::int64_t bytes_ = 0;

    // Shared with the decoding thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    QString decoding_;
    // Bumped by Clear() and the destructor: older results are dropped, and the decode under
    // way, seeing it move, stops at its next row.
    std::atomic<std::uint64_t> generation_ = 0;
    std::vector<Result> done_;
    bool stop_ = false;
    std::thread thread_;
};

// How a frame that cannot be shown is drawn, in the preview and the frame list alike: a
// white box crossed out in red.
void DrawUnshownFrame(QPainter& painter, const QRect& box);
