#include "app/SingleInstance.h"

#include "common/Error.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView kHandOffTag("ZVO1");
constexpr qsizetype kHeaderBytes = 4 + 8;  // the tag and the time to answer by
constexpr QByteArrayView kAcknowledgement("ok");
// "zuvora-" and 32 hex digits of the hash, after a separator.
constexpr qsizetype kSocketNameBytes = 1 + 7 + 32;
// What the server takes from a connection at a time: the socket's own buffer stays this
// small, and one read never holds the event loop for long.
constexpr qint64 kReadChunkBytes = 64 * 1024;

bool FitsSocketName(const QString& folder)
{
    return QFile::encodeName(folder).size() <= kMaxSocketPathBytes - kSocketNameBytes;
}

// Makes `folder` a folder of this user's alone: made if missing, refused when it is a link,
// not a folder or someone else's (the temporary folder is shared), closed to others.
bool MakePrivateFolder(const QString& folder, QString* failure)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *failure = QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        *failure = QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid()) {
        *failure = QStringLiteral("%1: not a folder of this user's").arg(folder);
        return false;
    }
    if ((status.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) {
        *failure = QStringLiteral("%1: cannot be closed to other users").arg(folder);
        return false;
    }
    return true;
}

void AppendBigEndian32(QByteArray& bytes, quint32 value)
{
    char encoded[4];
    qToBigEndian(value, encoded);
    bytes.append(encoded, 4);
}

int RemainingMs(const QDeadlineTimer& deadline) { return static_cast<int>(qMax<qint64>(0, deadline.remainingTime())); }

}  // namespace

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
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir() && FitsSocketName(runtime))
        return QDir::cleanPath(runtime);
    const QString own = QStringLiteral("zuvora-%1").arg(::getuid());
    QString reason = QStringLiteral("no folder for the socket is short enough");
    for (const QString& base : {QDir::tempPath(), QStringLiteral("/tmp")}) {
        const QString folder = QDir::cleanPath(QDir(base).filePath(own));
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

QByteArray EncodeHandOff(const QStringList& absolutePaths, qint64 answerByMs)
{
    const auto tooMany = [&absolutePaths] {
        return TError(QStringLiteral("zuvora: %1 files are more than one start hands over (at most %2 paths, 1 MiB)")
                          .arg(absolutePaths.size())
                          .arg(kMaxHandOffPaths));
    };
    if (absolutePaths.size() > kMaxHandOffPaths)
        throw tooMany();
    QByteArray message(kHandOffTag.data(), kHandOffTag.size());
    char answerBy[8];
    qToBigEndian(answerByMs, answerBy);
    message.append(answerBy, 8);
    for (const QString& path : absolutePaths) {
        // An empty path would read as the end of the list.
        if (!QDir::isAbsolutePath(path))
            throw TError(QStringLiteral("zuvora: %1: not an absolute path").arg(path));
        const QByteArray utf8 = path.toUtf8();
        // Room is left for this path's length and the closing zero length.
        if (utf8.size() > kMaxHandOffBytes - message.size() - 8)
            throw tooMany();
        AppendBigEndian32(message, static_cast<quint32>(utf8.size()));
        message += utf8;
    }
    AppendBigEndian32(message, 0);
    return message;
}

THandOffReader::TState THandOffReader::Refuse(const QString& reason)
{
    state_ = TState::Refused;
    failure_ = QStringLiteral("hand-off: ") + reason;
    pending_.clear();
    consumed_ = 0;
    return state_;
}

THandOffReader::TState THandOffReader::Feed(QByteArrayView bytes)
{
    if (state_ == TState::Refused || bytes.isEmpty())
        return state_;
    if (state_ == TState::Complete)
        return Refuse(QStringLiteral("bytes after the end of the message"));
    if (bytes.size() > kMaxHandOffBytes - total_)
        return Refuse(QStringLiteral("longer than %1 bytes").arg(kMaxHandOffBytes));
    total_ += bytes.size();
    // Parsed bytes go only here, once per call: removing each path as it is read would move
    // the rest of the buffer once per path.
    pending_.remove(0, consumed_);
    consumed_ = 0;
    pending_.append(bytes.data(), bytes.size());

    if (!headerSeen_) {
        const qsizetype compared = qMin(pending_.size(), kHandOffTag.size());
        if (QByteArrayView(pending_).first(compared) != kHandOffTag.first(compared))
            return Refuse(QStringLiteral("not a Zuvora hand-off"));
        if (pending_.size() < kHeaderBytes)
            return state_;
        answerByMs_ = qFromBigEndian<qint64>(pending_.constData() + kHandOffTag.size());
        consumed_ = kHeaderBytes;
        headerSeen_ = true;
    }
    while (pending_.size() - consumed_ >= 4) {
        const quint32 length = qFromBigEndian<quint32>(pending_.constData() + consumed_);
        const qsizetype left = pending_.size() - consumed_ - 4;
        if (length == 0) {
            if (left > 0)
                return Refuse(QStringLiteral("bytes after the end of the message"));
            state_ = TState::Complete;
            pending_.clear();
            consumed_ = 0;
            return state_;
        }
        if (paths_.size() >= kMaxHandOffPaths)
            return Refuse(QStringLiteral("more than %1 paths").arg(kMaxHandOffPaths));
        if (length > static_cast<quint32>(kMaxHandOffBytes))
            return Refuse(QStringLiteral("a path of %1 bytes").arg(length));
        if (left < static_cast<qsizetype>(length))
            return state_;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString path = decoder.decode(QByteArrayView(pending_.constData() + consumed_ + 4, length));
        if (decoder.hasError())
            return Refuse(QStringLiteral("a path that is not UTF-8"));
        if (path.contains(QChar(0)) || !path.startsWith(u'/'))
            return Refuse(QStringLiteral("a path that is not absolute: %1").arg(path.left(200)));
        paths_.append(path);
        consumed_ += 4 + static_cast<qsizetype>(length);
    }
    return state_;
}

THandOff HandOff(const QString& socketPath, const QStringList& absolutePaths, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(RemainingMs(deadline))) {
        // Only an absent socket or one nobody listens on may be taken over; anything else
        // (a full queue, no permission) belongs to someone who may still be there.
        const QLocalSocket::LocalSocketError error = socket.error();
        return error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError
                   ? THandOff::NoServer
                   : THandOff::NoAnswer;
    }
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

TInstanceServer::TRole TInstanceServer::Start(const QString& socketPath, const QStringList& absolutePaths,
                                              int timeoutMs, QString* note)
{
    const auto decided = [&](THandOff result) -> std::optional<TRole> {
        switch (result) {
        case THandOff::Delivered:
            return TRole::HandedOff;
        case THandOff::NoAnswer:
            *note = QStringLiteral("zuvora: the Zuvora running for this library (%1) does not answer; this one "
                                   "runs on its own")
                        .arg(socketPath);
            return TRole::Alone;
        case THandOff::TooLarge:
            try {
                EncodeHandOff(absolutePaths, 0);
            } catch (const TError& error) {
                *note = error.Text();
            }
            return TRole::TooLarge;
        case THandOff::NoServer:
            break;
        }
        return std::nullopt;
    };
    if (const std::optional<TRole> role = decided(HandOff(socketPath, absolutePaths, timeoutMs)))
        return *role;
    // Between finding no server and listening, another start may do the same: whoever holds
    // the lock looks again and takes the name, the other then finds it listening.
    QLockFile lock(socketPath + QStringLiteral(".lock"));
    if (!lock.tryLock(timeoutMs)) {
        *note = QStringLiteral("zuvora: %1.lock %2; this one runs on its own")
                    .arg(socketPath, lock.error() == QLockFile::LockFailedError
                                         ? QStringLiteral("is held by another start")
                                         : QStringLiteral("cannot be made"));
        return TRole::Alone;
    }
    if (const std::optional<TRole> role = decided(HandOff(socketPath, absolutePaths, timeoutMs)))
        return *role;
    // What is left is the socket of a Zuvora that ended without removing it.
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath)) {
        *note = QStringLiteral("zuvora: cannot listen at %1: %2; this one runs on its own")
                    .arg(socketPath, server_->errorString());
        return TRole::Alone;
    }
    return TRole::Serving;
}

void TInstanceServer::Accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (server_->findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly).size() > kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kReadChunkBytes);
        // A client that sends slowly or nothing at all is dropped after a while.
        QTimer::singleShot(connectionTimeoutMs_, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
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
        socket->deleteLater();
        return;
    case THandOffReader::TState::Complete:
        break;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    if (QDeadlineTimer::current().deadline() > reader.AnswerBy()) {
        // This program was held up (stopped, swapping) and the sender runs on its own by now.
        qWarning("zuvora: a hand-off came too late and is dropped");
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->write(kAcknowledgement.data(), kAcknowledgement.size());
    socket->disconnectFromServer();
    // Handled from the event loop, not inside the socket's signal: the handling may open a
    // dialog with an event loop of its own.
    QMetaObject::invokeMethod(
        this, [this, paths = reader.Paths()] { emit Received(paths); }, Qt::QueuedConnection);
}

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
