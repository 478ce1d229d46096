#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <signal.h>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;

// One running Zuvora per library file. The first start listens on a local socket whose name
// follows from the library file; a later start with the same library file hands its files
// to it and ends, so that only one window ever writes that file.

// A hand-off message holds at most this many bytes and paths: a local client cannot make
// the running program hold more than that per connection.
inline constexpr qsizetype kMaxHandOffBytes = qsizetype{1} << 20;
inline constexpr int kMaxHandOffPaths = 10000;
// The longest socket path the system takes (sockaddr_un::sun_path less its terminating zero).
inline constexpr qsizetype kMaxSocketPathBytes = 107;
// How long a start waits for the running Zuvora before running on its own.
inline constexpr int kHandOffTimeoutMs = 5000;

// The library file's absolute path with every existing folder on it resolved (symbolic
// links, "..", "."), so that every spelling of one file gives one path; the file and its
// last folders need not exist yet.
QString CanonicalLibraryPath(const QString& libraryFile);

// The folder for the socket: $XDG_RUNTIME_DIR when set and short enough, else a folder
// "zuvora-<uid>" of this user's alone in the temporary folder (made if missing; refused when
// someone else owns it or it is a link). Empty with `failure` set when none is usable.
QString InstanceRuntimeFolder(QString* failure = nullptr);

// The socket's path in `runtimeFolder` for the library file: a hash of its canonical path,
// so the name has the same short length however long the library path is.
QString InstanceSocketPath(const QString& runtimeFolder, const QString& libraryFile);

// The message that hands `absolutePaths` over: a tag, the time by which the sender wants
// its answer (8 bytes, milliseconds of QDeadlineTimer's clock, which all processes share),
// then per path its UTF-8 length (4 bytes) and bytes, then a zero length; numbers are
// big-endian. Raises TError when the paths exceed the limits above.
QByteArray EncodeHandOff(const QStringList& absolutePaths, qint64 answerByMs);

// Reads a hand-off message as its bytes arrive, holding no more than the limits allow; a
// refusal is final.
class THandOffReader {
public:
    enum class TState { Reading, Complete, Refused };

    TState Feed(QByteArrayView bytes);
    TState State() const { return state_; }
    const QStringList& Paths() const { return paths_; }
    const QString& Failure() const { return failure_; }
    // When the sender stops waiting (see EncodeHandOff); read with the tag.
    qint64 AnswerBy() const { return answerByMs_; }

private:
    TState Refuse(const QString& reason);

    TState state_ = TState::Reading;
    QByteArray pending_;
    qsizetype consumed_ = 0;  // bytes of pending_ already parsed
    qsizetype total_ = 0;
    bool headerSeen_ = false;
    qint64 answerByMs_ = 0;
    QStringList paths_;
    QString failure_;
};

enum class THandOff {
    Delivered,  // the running Zuvora took the files
    NoServer,   // nobody listens (no socket, or one left by a crashed Zuvora)
    NoAnswer,   // somebody listens but did not take the message in time
    TooLarge    // the files exceed what one message carries
};

// Hands the files (none: only raise the window) to the Zuvora listening at `socketPath`,
// waiting at most `timeoutMs` in all. Blocks; call it before the event loop runs. The
// message asks for an answer well before then, so that a Zuvora that wakes up late drops
// files whose sender has gone its own way.
THandOff HandOff(const QString& socketPath, const QStringList& absolutePaths, int timeoutMs);

// The listening side, and the decision which side a start is on.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    enum class TRole {
        Serving,    // first for this library file: listening, run as usual
        HandedOff,  // the running Zuvora took the files: end with success
        Alone,      // no hand-off possible: run as usual, without listening (see the note)
        TooLarge    // too many files to hand over: end with failure (see the note)
    };

    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;

    // Hands the files to a Zuvora running for the socket, or starts listening there. A lock
    // file beside the socket keeps two starts from both taking the name; a socket nobody
    // listens on is removed. `note` receives why a start runs alone.
    TRole Start(const QString& socketPath, const QStringList& absolutePaths, int timeoutMs, QString* note);

    bool IsListening() const;
    // Stops listening and removes the socket: later starts run as the first.
    void Close();

    // How long a connection may take to deliver its message before it is dropped.
    void SetConnectionTimeout(int ms) { connectionTimeoutMs_ = ms; }
    // Connections open at once; further ones are closed at once.
    static constexpr int kMaxConnections = 8;

signals:
    // A later start's files (absolute paths, in its order); empty when it had none.
    void Received(const QStringList& absolutePaths);

private:
    void Accept();
    void Read(QLocalSocket* socket, THandOffReader& reader);

    QLocalServer* server_;
    int connectionTimeoutMs_ = kHandOffTimeoutMs;
};

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
