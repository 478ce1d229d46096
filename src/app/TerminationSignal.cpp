#include "app/TerminationSignal.h"

#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

int gTerminationPipe[2] = {-1, -1};

extern "C" void OnTermination(int)
{
    // Only async-signal-safe calls here: the event loop does the rest.
    const int saved = errno;
    const char byte = 1;
    const ssize_t written = ::write(gTerminationPipe[1], &byte, 1);
    static_cast<void>(written);
    errno = saved;
}

}  // namespace

TTerminationSignal::TTerminationSignal(QObject* parent) : QObject(parent)
{
    if (gTerminationPipe[0] >= 0 || ::pipe2(gTerminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, &previous_) != 0) {
        ::close(gTerminationPipe[0]);
        ::close(gTerminationPipe[1]);
        gTerminationPipe[0] = gTerminationPipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(gTerminationPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(gTerminationPipe[0], bytes, sizeof bytes) > 0) {
        }
        emit Requested();
    });
}

TTerminationSignal::~TTerminationSignal()
{
    if (notifier_ == nullptr)
        return;
    ::sigaction(SIGTERM, &previous_, nullptr);
    delete notifier_;
    ::close(gTerminationPipe[0]);
    ::close(gTerminationPipe[1]);
    gTerminationPipe[0] = gTerminationPipe[1] = -1;
}

void EndProcessWithin(int ms)
{
    std::thread([ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::_Exit(0);
    }).detach();
}
