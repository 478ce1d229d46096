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
    for (TWatched& watched : watched_) {
        // A signal the starter set to be ignored stays ignored, but for SIGTERM, which a
        // session's end sends: a shell without job control starts a background job with
        // SIGINT ignored, so that the Ctrl+C meant for the command in front does not end it
        // too, and nohup ignores SIGHUP so that Zuvora outlives its terminal. Shells leave
        // SIGHUP alone in the background, so closing the terminal still ends Zuvora there,
        // its library saved.
        if (watched.signal != SIGTERM && ::sigaction(watched.signal, nullptr, &watched.previous) == 0 &&
            watched.previous.sa_handler == SIG_IGN)
            continue;
        watched.taken = ::sigaction(watched.signal, &action, &watched.previous) == 0;
    }
    if (!watched_[0].taken) {
        RestorePrevious();
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
    delete notifier_;
    RestorePrevious();
}

void TTerminationSignal::RestorePrevious()
{
    for (TWatched& watched : watched_) {
        if (watched.taken)
            ::sigaction(watched.signal, &watched.previous, nullptr);
        watched.taken = false;
    }
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
