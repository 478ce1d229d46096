#include "player/FrameHandOff.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

TFrameHandOff::TFrameHandOff(Serve serve, QObject* parent) : QObject(parent), serve_(std::move(serve))
{
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return;  // requests go through the event queue instead
    auto* wake = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(wake, &QSocketNotifier::activated, this, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        ServePending();
    });
}

TFrameHandOff::~TFrameHandOff()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void TFrameHandOff::SetWidth(int width)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    width_ = width;
}

void TFrameHandOff::SetHeight(int height)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    height_ = height;
}

void TFrameHandOff::ActionStarts(int action)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    startedAction_ = action;
}

void TFrameHandOff::FrameRequest(std::string_view text, int)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::memset(text_, '0', sizeof text_);
    std::memcpy(text_, text.data(), std::min(text.size(), sizeof text_));
    pending_ = true;
    const std::uint64_t one = 1;
    if (wakeFd_ < 0 || ::write(wakeFd_, &one, sizeof one) != sizeof one)
        QMetaObject::invokeMethod(this, &TFrameHandOff::ServePending, Qt::QueuedConnection);
    served_.wait(lock, [this] { return !pending_; });
}

void TFrameHandOff::ServePending()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pending_)
        return;
    const int width = width_;
    const int height = height_;
    const int started = startedAction_;
    char text[sizeof text_];
    std::memcpy(text, text_, sizeof text);
    lock.unlock();

    // Drawn without the lock: drawing may take a while, and the request is the playback
    // thread's last word until it is served.
    serve_(width, height, std::string_view(text, sizeof text), started);

    lock.lock();
    pending_ = false;
    width_ = height_ = startedAction_ = -1;
    lock.unlock();
    served_.notify_all();
}
