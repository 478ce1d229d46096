#include "app/SingleInstance.h"

#include "common/Error.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView kAcknowledgement("ok");
// "zuvora-" and 32 hex digits of the hash, after a separator.
constexpr qsizetype kSocketNameBytes = 1 + 7 + 32;
// What the server takes from a connection at a time: the socket's own buffer stays this
// small, and one read never holds the event loop for long.
constexpr qint64 kReadChunkBytes = 64 * 1024;
// Between two attempts to reach the owner of the library.
constexpr int kRetryPauseMs = 200;

QString SystemError(const QString& subject) { return QStringLiteral("%1: %2").arg(subject, QString::fromLocal8Bit(std::strerror(errno))); }

bool FitsSocketName(const QString& folder)
{
    return QFile::encodeName(folder).size() <= kMaxSocketPathBytes - kSocketNameBytes;
}

// A folder this user owns and no one else may write to: what a socket for this user's files
// may be put in. Checked on the opened folder, so a link swapped in meanwhile changes nothing.
// With `close`, a folder of this user's that others may write to is closed to them.
bool IsPrivateFolder(const QString& folder, bool followLinks, bool close, QString* failure)
{
    const int descriptor =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (descriptor < 0) {
        *failure = SystemError(folder);
        return false;
    }
    struct stat status {};
    // Ours, and one we can make a socket in.
    bool usable = ::fstat(descriptor, &status) == 0 && status.st_uid == ::getuid() &&
                  (status.st_mode & S_IWUSR) != 0 && (status.st_mode & S_IXUSR) != 0;
    if (usable && (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        usable = close && ::fchmod(descriptor, 0700) == 0;
    ::close(descriptor);
    if (!usable)
        *failure = QStringLiteral("%1: not a folder of this user's alone").arg(folder);
    return usable;
}

// Makes `folder` a folder of this user's alone: made 0700 if missing, refused when it is a
// link or someone else's (the temporary folder is shared).
bool MakePrivateFolder(const QString& folder, QString* failure)
{
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        *failure = SystemError(folder);
        return false;
    }
    return IsPrivateFolder(folder, false, true, failure);
}

int RemainingMs(const QDeadlineTimer& deadline) { return static_cast<int>(qMax<qint64>(0, deadline.remainingTime())); }

}  // namespace

long PeerUserId(int socketDescriptor)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (socketDescriptor < 0 || ::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return -1;
    return static_cast<long>(credentials.uid);
}

QString CanonicalLibraryPath(const QString& libraryFile)
{
    // The file, or even its folder, may not exist before the first save: the nearest
    // existing folder is resolved and the rest appended as written.
    QString existing = QFileInfo(libraryFile).absoluteFilePath();
    QStringList missing;
    while (!QFileInfo::exists(existing)) {
        const QFileInfo info(existing);
        if (info.path() == existing)
            break;
        missing.prepend(info.fileName());
        existing = info.path();
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(existing);
    for (const QString& name : missing)
        canonical = QDir(canonical).filePath(name);
    return QDir::cleanPath(canonical);
}

QString InstanceRuntimeFolder(QString* failure)
{
    QString reason = QStringLiteral("no folder for the socket is short enough");
    // The session's own folder is a link on some systems: what counts is the folder itself.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && FitsSocketName(runtime) &&
        IsPrivateFolder(runtime, true, false, &reason))
        return QDir::cleanPath(runtime);
    const QString own = QStringLiteral("zuvora-%1").arg(::getuid());
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    QStringList candidates = {QDir(QDir::tempPath()).filePath(own), QDir(QStringLiteral("/tmp")).filePath(own)};
    if (!cache.isEmpty() && QDir().mkpath(cache))
        candidates.append(QDir(cache).filePath(QStringLiteral("zuvora-run")));
    for (const QString& candidate : candidates) {
        const QString folder = QDir::cleanPath(candidate);
        if (FitsSocketName(folder) && MakePrivateFolder(folder, &reason))
            return folder;
    }
    if (failure != nullptr)
        *failure = reason;
    return {};
}

QString InstanceSocketPath(const QString& runtimeFolder, const QString& libraryFile)
{
    const QByteArray digest =
        QCryptographicHash::hash(CanonicalLibraryPath(libraryFile).toUtf8(), QCryptographicHash::Sha256);
    return QDir(runtimeFolder).filePath(QStringLiteral("zuvora-") + QString::fromLatin1(digest.first(16).toHex()));
}

TLibraryLock::TLibraryLock(const QString& libraryFile) : path_(CanonicalLibraryPath(libraryFile) + QStringLiteral(".lock"))
{
}

TLibraryLock::~TLibraryLock()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

TLibraryLock::TState TLibraryLock::TryTake()
{
    if (state_ == TState::Owner)
        return state_;
    if (descriptor_ < 0) {
        QDir().mkpath(QFileInfo(path_).path());
        // Closed to others: a lock another user could open, they could hold.
        descriptor_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        struct stat status {};
        if (descriptor_ < 0 || ::fstat(descriptor_, &status) != 0 || status.st_uid != ::getuid()) {
            failure_ = descriptor_ < 0 ? SystemError(path_) : QStringLiteral("%1: someone else's file").arg(path_);
            if (descriptor_ >= 0)
                ::close(descriptor_);
            descriptor_ = -1;
            return state_ = TState::Unavailable;
        }
    }
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0)
        return state_ = TState::Owner;
    if (errno == EWOULDBLOCK || errno == EINTR)
        return state_ = TState::Taken;
    failure_ = SystemError(path_);
    return state_ = TState::Unavailable;
}

THandOff HandOff(const QString& socketPath, const QStringList& absolutePaths, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(RemainingMs(deadline))) {
        const QLocalSocket::LocalSocketError error = socket.error();
        return error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
                   ? THandOff::NoServer
                   : THandOff::NoAnswer;
    }
    // The user's paths go to no one but the user.
    if (PeerUserId(static_cast<int>(socket.socketDescriptor())) != static_cast<long>(::getuid()))
        return THandOff::NoAnswer;
    // A quarter of the time (at most a second) is kept for the answer to come back.
    const qint64 answerBy = deadline.deadline() - qMin<qint64>(timeoutMs / 4, 1000);
    QByteArray message;
    try {
        message = EncodeHandOff(absolutePaths, answerBy);
    } catch (const TError&) {
        return THandOff::TooLarge;
    }
    if (socket.write(message) != message.size())
        return THandOff::NoAnswer;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(RemainingMs(deadline)))
            return THandOff::NoAnswer;
    }
    QByteArray answer;
    while (answer.size() < kAcknowledgement.size()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(RemainingMs(deadline)))
            return THandOff::NoAnswer;
        answer += socket.read(kAcknowledgement.size() - answer.size());
    }
    return answer == kAcknowledgement ? THandOff::Delivered : THandOff::NoAnswer;
}

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this))
{
    connect(server_, &QLocalServer::newConnection, this, &TInstanceServer::Accept);
}

TInstanceServer::~TInstanceServer() = default;

bool TInstanceServer::IsListening() const { return server_->isListening(); }

void TInstanceServer::Close() { server_->close(); }

TInstanceServer::TRole TInstanceServer::Start(const QString& libraryFile, const QString& socketPath,
                                              const QStringList& absolutePaths, const THandOffPatience& patience,
                                              const std::function<void(const QString&)>& waiting, QString* note)
{
    lock_ = std::make_unique<TLibraryLock>(libraryFile);
    const QDeadlineTimer deadline(patience.TotalMs);
    const QDeadlineTimer notice(patience.NoticeMs);
    bool told = false;
    // Whoever holds the lock owns the library; the others give it their files. An owner that
    // is just starting, or busy, or ending is waited for: its lock goes when it ends.
    while (lock_->TryTake() == TLibraryLock::TState::Taken) {
        if (!socketPath.isEmpty()) {
            switch (HandOff(socketPath, absolutePaths, qMin(patience.AttemptMs, qMax(1, RemainingMs(deadline))))) {
            case THandOff::Delivered:
                return TRole::HandedOff;
            case THandOff::TooLarge:
                try {
                    EncodeHandOff(absolutePaths, 0);
                } catch (const TError& error) {
                    *note = error.Text();
                }
                return TRole::TooLarge;
            case THandOff::NoServer:
            case THandOff::NoAnswer:
                break;
            }
        }
        if (deadline.hasExpired()) {
            *note = QStringLiteral("zuvora: Zuvora is running for this library (%1) but does not answer; "
                                   "nothing was handed over")
                        .arg(QDir::toNativeSeparators(libraryFile));
            return TRole::NotAnswering;
        }
        if (!told && notice.hasExpired()) {
            told = true;
            if (waiting)
                waiting(QStringLiteral("zuvora: waiting for the Zuvora running for this library to answer..."));
        }
        QThread::msleep(static_cast<unsigned long>(qMin(kRetryPauseMs, RemainingMs(deadline) + 1)));
    }
    if (lock_->State() == TLibraryLock::TState::Unavailable) {
        *note = QStringLiteral("zuvora: %1; this one runs on its own").arg(lock_->Failure());
        return TRole::Alone;
    }
    if (socketPath.isEmpty()) {
        *note = QStringLiteral("zuvora: no folder for the socket; later starts cannot hand their files over");
        return TRole::Alone;
    }
    // Holding the lock, any socket there is one a Zuvora left when it ended.
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath)) {
        *note = QStringLiteral("zuvora: cannot listen at %1: %2; later starts cannot hand their files over")
                    .arg(socketPath, server_->errorString());
        return TRole::Alone;
    }
    return TRole::Serving;
}

void TInstanceServer::Accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (PeerUserId(static_cast<int>(socket->socketDescriptor())) != static_cast<long>(::getuid())) {
            qWarning("zuvora: a hand-off from another user is refused");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Idle clients cannot shut a real start out: the oldest connection makes room.
        if (connections_.size() >= kMaxConnections)
            connections_.takeFirst()->abort();
        connections_.append(socket);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { connections_.removeOne(socket); });
        socket->setReadBufferSize(kReadChunkBytes);
        // A client that sends slowly or nothing at all is dropped after a while.
        QTimer::singleShot(connectionTimeoutMs_, socket, [socket] { socket->abort(); });
        auto reader = std::make_shared<THandOffReader>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] { Read(socket, *reader); });
        Read(socket, *reader);
    }
}

void TInstanceServer::Read(QLocalSocket* socket, THandOffReader& reader)
{
    while (reader.State() == THandOffReader::TState::Reading && socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->read(kReadChunkBytes);
        if (chunk.isEmpty())
            break;
        reader.Feed(chunk);
    }
    switch (reader.State()) {
    case THandOffReader::TState::Reading:
        return;
    case THandOffReader::TState::Refused:
        qWarning("zuvora: %s", qPrintable(reader.Failure()));
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        socket->abort();
        return;
    case THandOffReader::TState::Complete:
        break;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    if (QDeadlineTimer::current().deadline() > reader.AnswerBy()) {
        // This program was held up (stopped, swapping) and the sender has moved on by now.
        qWarning("zuvora: a hand-off came too late and is dropped");
        socket->abort();
        return;
    }
    if (pending_.size() >= kMaxPending) {
        qWarning("zuvora: too many hand-offs at once; one is not answered");
        socket->abort();
        return;
    }
    pending_.append(reader.Paths());
    socket->write(kAcknowledgement.data(), kAcknowledgement.size());
    socket->disconnectFromServer();
    // Handled from the event loop, not inside the socket's signal.
    QMetaObject::invokeMethod(this, &TInstanceServer::Deliver, Qt::QueuedConnection);
}

void TInstanceServer::Deliver()
{
    // The handling may open a box whose event loop brings the next hand-off here: that one
    // waits for the loop below, so boxes come one after another, never one inside another.
    if (delivering_)
        return;
    delivering_ = true;
    while (!pending_.isEmpty())
        emit Received(pending_.takeFirst());
    delivering_ = false;
}
