#pragma once

// Shared by the animation readers' targets: a sink that takes the frames as the frame
// import would and aborts when a reader breaks what it promises.

#include "common/Error.h"
#include "image/Animation.h"

#include <QImage>

#include <cstdlib>

class CheckingSink : public TAnimationSink {
public:
    void Begin(const TAnimationInfo& info) override
    {
        if (began_ || info.Width < 1 || info.Height < 1 || info.FrameCount < 1 || info.FrameCount > kMaxAnimationFrames)
            std::abort();
        began_ = true;
        // Smaller than the readers' limits, so that a run under a memory limit of a few
        // hundred MB reports only what they do not bound.
        if (info.Width > 2048 || info.Height > 2048)
            throw TError(QStringLiteral("too large"));
        info_ = info;
    }
    void Frame(const QImage& canvas, int delayMs) override
    {
        if (!began_ || ++frames_ > info_.FrameCount || canvas.format() != QImage::Format_ARGB32 ||
            canvas.width() != info_.Width || canvas.height() != info_.Height || delayMs < 0)
            std::abort();
        // The ends of every row: a canvas shorter than it claims shows there, and reading
        // every pixel would cost more than the readers do.
        for (int y = 0; y < canvas.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
            sum_ += row[0] + row[canvas.width() - 1];
        }
    }
    // A reader that returned without an error has shown every frame it announced.
    bool Complete() const { return began_ && frames_ == info_.FrameCount; }
    int FrameCount() const { return info_.FrameCount; }

private:
    TAnimationInfo info_;
    bool began_ = false;
    int frames_ = 0;
    unsigned sum_ = 0;
};
