#pragma once

#include <QObject>

#include <signal.h>

class QSocketNotifier;

// Turns SIGTERM (what a session's end sends) into a Qt signal delivered by the event loop:
// the handler only writes a byte to a pipe. One may exist at a time; it puts the previous
// handling back when destroyed.
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
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_ {};
};

// Ends the process `ms` from now with exit code 0, whatever still runs then. Called once the
// library is saved: nothing may keep Zuvora alive after that (a sound server that never
// answers, a thread stuck in a driver).
void EndProcessWithin(int ms);
