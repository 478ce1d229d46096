#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The frames of the packer's preview, decoded on a thread of their own with the build's
// decoders and drawn as the build draws them onto the sheet, then kept until Clear().
class TPreviewFrames : public QObject {
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

    TPreviewFrames();
    ~TPreviewFrames() override;
    TPreviewFrames(const TPreviewFrames&) = delete;
    TPreviewFrames& operator=(const TPreviewFrames&) = delete;

    // The frame for the path, or null while it is not decoded.
    const Frame* Find(const QString& path) const;
    // Whether the last request named the path.
    bool IsWanted(const QString& path) const { return wanted_.contains(path); }
    // Decodes the frames of these paths not kept yet, in this order, in place of whatever
    // was asked for before and has not started.
    void Request(const QStringList& paths);
    // Forgets every frame; a decode under way is thrown away when it ends.
    void Clear();

    // Decodes one frame on the calling thread.
    static Frame Decode(const QString& path);

signals:
    void Decoded(const QString& path);

private:
    void Run();
    void Collect();
    void Keep(const QString& path, Frame frame);

    // The UI thread's.
    QHash<QString, Frame> frames_;
    QSet<QString> wanted_;  // the last request's paths: kept when room is made
    std::int64_t bytes_ = 0;

    // Shared with the decoding thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QString> queue_;
    QString decoding_;
    std::uint64_t generation_ = 0;  // bumped by Clear(): older results are dropped
    std::vector<std::pair<QString, Frame>> done_;
    bool stop_ = false;
    std::thread thread_;
};
