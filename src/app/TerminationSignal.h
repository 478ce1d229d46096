#pragma once

#include <QObject>

#include <array>

#include <signal.h>

class QSocketNotifier;

// Turns the signals that ask Zuvora to end into a Qt signal delivered by the event loop, so
// that it ends as a closed library window does, the library saved: SIGTERM (a session's
// end), SIGHUP (the terminal that started it closed) and SIGINT (Ctrl+C there). The handler
// only writes a byte to a pipe. One may exist at a time; it puts the previous handling back
// when destroyed.
class TTerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignal(QObject* parent = nullptr);
    ~TTerminationSignal() override;
    TTerminationSignal(const TTerminationSignal&) = delete;
    TTerminationSignal& operator=(const TTerminationSignal&) = delete;

    bool IsWatching() const { return notifier_ != nullptr; }

signals:
    void Requested();

private:
    void RestorePrevious();

    struct TWatched {
        int signal = 0;
        bool taken = false;
        struct sigaction previous {};
    };
    QSocketNotifier* notifier_ = nullptr;
    std::array<TWatched, 3> watched_{{{SIGTERM}, {SIGHUP}, {SIGINT}}};
};

// Ends the process `ms` from now with exit code 0, whatever still runs then. Called once the
// library is saved: nothing may keep Zuvora alive after that (a sound server that never
// answers, a thread stuck in a driver).
void EndProcessWithin(int ms);
