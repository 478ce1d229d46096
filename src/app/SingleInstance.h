#pragma once

#include "app/HandOffMessage.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One running Zuvora per library file. The first start takes a lock beside the library file
// and holds it until it ends: the lock decides who owns the library. The owner listens on a
// local socket whose name follows from the library file; a later start hands its files to it
// through that socket and ends, so that only one window ever writes that file.

// The longest socket path the system takes (sockaddr_un::sun_path less its terminating zero).
inline constexpr qsizetype kMaxSocketPathBytes = 107;
// How long one attempt to reach the running Zuvora may take.
inline constexpr int kHandOffTimeoutMs = 5000;

// The library file's absolute path with every existing folder on it resolved (symbolic
// links, "..", "."), so that every spelling of one file gives one path; the file and its
// last folders need not exist yet.
QString CanonicalLibraryPath(const QString& libraryFile);

// The folder for the socket, one no other user can write to: $XDG_RUNTIME_DIR when it is
// this user's, closed to others and short enough; else a folder of this user's alone,
// "zuvora-<uid>" in the temporary folder or "zuvora-run" in the user's cache folder (made
// 0700 if missing, closed to others if not; refused when it is a link or someone else's).
// Empty with `failure` set when none is usable.
QString InstanceRuntimeFolder(QString* failure = nullptr);

// The socket's path in `runtimeFolder` for the library file: a hash of its canonical path,
// so the name has the same short length however long the library path is.
QString InstanceSocketPath(const QString& runtimeFolder, const QString& libraryFile);

// The lock that makes a start the library file's owner: an exclusive lock on
// "<library file>.lock", a file of this user's beside it (made if missing, with its folder).
// The system lets it go when the process ends, however it ends.
class TLibraryLock {
public:
    enum class TState {
        Owner,        // this start holds it
        Taken,        // another process holds it
        Unavailable,  // it cannot be made here (see Failure)
    };

    explicit TLibraryLock(const QString& libraryFile);
    ~TLibraryLock();
    TLibraryLock(const TLibraryLock&) = delete;
    TLibraryLock& operator=(const TLibraryLock&) = delete;

    // Tries once, without waiting; once Owner, stays Owner.
    TState TryTake();
    TState State() const { return state_; }
    const QString& Failure() const { return failure_; }
    const QString& Path() const { return path_; }

private:
    QString path_;
    int descriptor_ = -1;
    TState state_ = TState::Taken;
    QString failure_;
};

enum class THandOff {
    Delivered,  // the running Zuvora took the files
    NoServer,   // nobody listens (no socket, or one left by a crashed Zuvora)
    NoAnswer,   // somebody listens but did not take the message in time, or is another user
    TooLarge    // the files exceed what one message carries
};

// Hands the files (none: only raise the window) to the Zuvora listening at `socketPath`,
// waiting at most `timeoutMs` in all. Blocks; call it before the event loop runs. A listener
// of another user gets nothing. The message asks for an answer well before the time is up,
// so that a Zuvora that wakes up late drops files whose sender has moved on.
THandOff HandOff(const QString& socketPath, const QStringList& absolutePaths, int timeoutMs);

// How long a later start waits for the running Zuvora to take its files, and when it says
// that it waits.
struct THandOffPatience {
    int TotalMs = 10000;
    int NoticeMs = 3000;
    int AttemptMs = kHandOffTimeoutMs;
};

// The listening side, and the decision which side a start is on.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    enum class TRole {
        Serving,       // the library's owner, listening: run as usual
        HandedOff,     // the running Zuvora took the files: end with success
        Alone,         // the owner, but not listening, or no lock can be made: run as usual (see the note)
        TooLarge,      // too many files to hand over: end with failure (see the note)
        NotAnswering,  // another Zuvora owns the library and did not take the files: end with failure
    };

    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;

    // Takes the library's lock and listens at `socketPath`, or, while another process holds
    // the lock, hands the files to it, trying again until `patience` runs out (`waiting` is
    // told once, after its notice time). The lock is held for the life of this object.
    // `note` receives why a start runs alone or ends.
    TRole Start(const QString& libraryFile, const QString& socketPath, const QStringList& absolutePaths,
                const THandOffPatience& patience, const std::function<void(const QString&)>& waiting,
                QString* note);

    bool IsListening() const;
    // Stops listening and removes the socket: later starts wait for the lock to go.
    void Close();

    // How long a connection may take to deliver its message before it is dropped.
    void SetConnectionTimeout(int ms) { connectionTimeoutMs_ = ms; }
    // Connections open at once; a further one drops the oldest.
    static constexpr int kMaxConnections = 8;
    // Hand-offs received but not yet handled; a further one is not answered, so its start
    // says that Zuvora does not answer rather than lose its files.
    static constexpr int kMaxPending = 64;

signals:
    // A later start's files (absolute paths, in its order); empty when it had none. One at a
    // time: a hand-off that comes while the last one is handled (a box open, say) waits
    // until that handling has returned.
    void Received(const QStringList& absolutePaths);

private:
    void Accept();
    void Read(QLocalSocket* socket, THandOffReader& reader);
    void Deliver();

    QLocalServer* server_;
    std::unique_ptr<TLibraryLock> lock_;
    QList<QLocalSocket*> connections_;  // the oldest first
    QList<QStringList> pending_;
    bool delivering_ = false;
    int connectionTimeoutMs_ = 2000;
};

// The user id of the process at the other end of a connected local socket; -1 when the
// system does not say.
long PeerUserId(int socketDescriptor);
