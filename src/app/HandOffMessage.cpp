#include "app/HandOffMessage.h"

#include "common/Error.h"

#include <QDir>
#include <QStringDecoder>
#include <QtEndian>

namespace {

constexpr QByteArrayView kHandOffTag("ZVO1");
constexpr qsizetype kHeaderBytes = 4 + 8;  // the tag and the time to answer by

void AppendBigEndian32(QByteArray& bytes, quint32 value)
{
    char encoded[4];
    qToBigEndian(value, encoded);
    bytes.append(encoded, 4);
}

}  // namespace

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
