#include "packer/ImportSupport.h"

#include "image/Animation.h"
#include "image/ImageFormat.h"
#include "package/PackageLayout.h"

#include <QFile>

namespace {

QByteArray ReadWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxAnimationFileSize)
        throw TError(QStringLiteral("%1: the file is larger than %2 MiB").arg(path).arg(kMaxAnimationFileSize >> 20));
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return data;
}

}  // namespace

QString RoomText(int room)
{
    return QStringLiteral("the project has room for %1 more of the %2 frames it may hold").arg(room).arg(kMaxPackageFrames);
}

bool HasClearPixel(const QImage& argb)
{
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return true;
        }
    }
    return false;
}

void ReadAnimationFile(const QString& path, TAnimationSink& sink)
{
    const QByteArray data = ReadWhole(path);
    const TImageFormat* format = AnimationFormatOf(data);
    if (format == nullptr)
        throw TError(QStringLiteral("%1: not a %2 file").arg(path, ImageFormatNames(TImageUse::Import)));
    format->Read(data, path, sink);
}
