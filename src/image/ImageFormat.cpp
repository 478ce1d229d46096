#include "image/ImageFormat.h"

#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/Prompts.h"

#include <QFile>

namespace {

struct Signature {
    unsigned char first;
    unsigned char second;
    const char* name;
};

// First match wins. PCX only with version byte 5; TIFF only little-endian ("II").
constexpr Signature kSignatures[] = {
    {0x42, 0x4D, "BMP"}, {0xFF, 0xD8, "JPEG"}, {0x47, 0x49, "GIF"}, {0x0A, 0x05, "PCX"}, {0x89, 0x50, "PNG"},
    {0x38, 0x42, "PSD"}, {0x59, 0xA6, "RAS"},  {0x01, 0xDA, "SGI"}, {0x49, 0x49, "TIFF"},
};

}  // namespace

QString DetectImageFormat(const QString& path, Prompts* prompts)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    if (file.size() == 0) {
        if (prompts != nullptr)
            prompts->Message(kAppTitle, QStringLiteral("0"));
        return QStringLiteral("0");
    }
    unsigned char header[2] = {};
    if (file.read(reinterpret_cast<char*>(header), 2) != 2)
        throw TError(QStringLiteral("Stream read error"));
    for (const Signature& signature : kSignatures) {
        if (header[0] == signature.first && header[1] == signature.second)
            return QString::fromLatin1(signature.name);
    }
    return {};
}

bool IsDecodableFormat(const QString& format)
{
    return format == u"BMP" || format == u"JPEG" || format == u"PNG";
}
