#pragma once

#include "player/PlaybackEngine.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>

// Carries the playback thread's frame requests to the UI thread: the request waits here
// under the mutex, an eventfd wakes the UI thread's event loop, and the playback thread
// waits until the frame is drawn. All of it is plain C++ and system calls, so thread
// checkers see every step.
class TFrameHandOff : public QObject, public FrameTarget {
public:
    // Called on the UI thread with the size to apply first (-1: unchanged), the 40-character
    // request, and the action that begins with this frame (-1: none).
    using Serve = std::function<void(int width, int height, std::string_view text, int startedAction)>;

    explicit TFrameHandOff(Serve serve, QObject* parent = nullptr);
    ~TFrameHandOff() override;
    TFrameHandOff(const TFrameHandOff&) = delete;
    TFrameHandOff& operator=(const TFrameHandOff&) = delete;

    // Playback thread. FrameRequest returns once the request has been served.
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void FrameRequest(std::string_view text, int action) override;
    void ActionStarts(int action) override;

    // UI thread: serves the pending request, if any. A UI thread that waits for the
    // playback thread to end keeps calling this, so the thread is never left waiting.
    void ServePending();

private:
    Serve serve_;
    std::mutex mutex_;
    std::condition_variable served_;
    bool pending_ = false;
    int width_ = -1;
    int height_ = -1;
    int startedAction_ = -1;
    char text_[40] = {};
    int wakeFd_ = -1;
};
