#include "image/DecoderSupport.h"

#include "common/Error.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace decoders {

FilePtr OpenFile(const QString& path)
{
    FilePtr file(std::fopen(QFile::encodeName(path).constData(), "rb"), std::fclose);
    if (!file)
        throw TError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return file;
}

void Raise(const QString& path, const CodecError& error)
{
    throw TError(QStringLiteral("%1: %2").arg(path, QString::fromLatin1(error.text)));
}

void ThrowIfCancelled(const QString& path, const TImageSink& sink)
{
    if (sink.Cancelled())
        throw TError(QStringLiteral("%1: %2").arg(path, QLatin1String(kCancelled)));
}

}  // namespace decoders
