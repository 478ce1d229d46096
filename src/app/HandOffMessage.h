#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// What one start of Zuvora tells the running one: the files it was given.

// A hand-off message holds at most this many bytes and paths: a local client cannot make
// the running program hold more than that per connection.
inline constexpr qsizetype kMaxHandOffBytes = qsizetype{1} << 20;
inline constexpr int kMaxHandOffPaths = 10000;
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
