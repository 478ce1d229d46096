#include "image/ImageFormat.h"

#include "common/AppDirs.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "image/Animation.h"
#include "image/DecoderSupport.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstring>

namespace {

// In the order the dialogs list them. No two share their first two bytes, so the order
// never decides what a file is named. PCX is named only with version byte 5, TIFF only
// little-endian ("II"); an APNG file is named PNG by its first two bytes.
constexpr TImageFormat kFormats[] = {
    {"PNG", TImageKind::Still, "\x89PNG\r\n\x1A\n", true, decoders::DecodePngFile, ReadApng, IsAnimatedPng, "png", true},
    {"JPEG", TImageKind::Still, "\xFF\xD8", true, decoders::DecodeJpegFile, nullptr, nullptr, "jpg jpeg", true},
    {"BMP", TImageKind::Still, "BM", true, decoders::DecodeBmpFile, nullptr, nullptr, "bmp", true},
    {"GIF", TImageKind::Animation, "GIF8", true, nullptr, ReadGif, nullptr, "gif", true},
    {"APNG", TImageKind::Animation, "\x89PNG\r\n\x1A\n", false, nullptr, ReadApng, nullptr, "apng", false},
    {"WebP", TImageKind::Animation, "RIFF????WEBP", false, nullptr, ReadWebp, nullptr, "webp", true},
    {"PCX", TImageKind::Unread, "\x0A\x05", true, nullptr, nullptr, nullptr, "", false},
    {"PSD", TImageKind::Unread, "8B", true, nullptr, nullptr, nullptr, "", false},
    {"RAS", TImageKind::Unread, "\x59\xA6", true, nullptr, nullptr, nullptr, "", false},
    {"SGI", TImageKind::Unread, "\x01\xDA", true, nullptr, nullptr, nullptr, "", false},
    {"TIFF", TImageKind::Unread, "II", true, nullptr, nullptr, nullptr, "", false},
};

// Enough of a file's start for the longest signature.
constexpr qint64 kHeadBytes = 16;

bool StartsWithSignature(const QByteArray& head, const char* signature)
{
    const std::size_t length = std::strlen(signature);
    if (static_cast<std::size_t>(head.size()) < length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (signature[i] != '?' && head[static_cast<qsizetype>(i)] != signature[i])
            return false;
    }
    return true;
}

// The build's name for a file from its first two bytes, or the empty text.
QString NameByTwoBytes(const QByteArray& head)
{
    for (const TImageFormat& format : kFormats) {
        if (format.NamedByTwoBytes && head.size() >= 2 && head[0] == format.Signature[0] && head[1] == format.Signature[1])
            return QString::fromLatin1(format.Name);
    }
    return {};
}

void OpenImage(QFile& file)
{
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("Cannot open file \"%1\". %2").arg(file.fileName(), file.errorString()));
}

// The first bytes of a file that is not empty; raises TError as DetectImageFormat does.
QByteArray ReadHead(QFile& file)
{
    const QByteArray head = file.read(kHeadBytes);
    if (head.size() < 2)
        throw TError(QStringLiteral("Stream read error"));
    return head;
}

// Whether a file whose start is `head` and named `name` is of `format`: an animation by its
// whole signature, anything else by its first two bytes.
bool IsOfFormat(const TImageFormat& format, const QByteArray& head, const QString& name)
{
    if (format.Kind == TImageKind::Animation)
        return StartsWithSignature(head, format.Signature);
    return format.NamedByTwoBytes && name == QLatin1String(format.Name);
}

TImageCheck Refusal(TImageProblem problem, const QString& name, const QString& error)
{
    return {problem, name, nullptr, error};
}

}  // namespace

std::span<const TImageFormat> ImageFormats() { return kFormats; }

const TImageFormat* FindImageFormat(QStringView name)
{
    for (const TImageFormat& format : kFormats) {
        if (!name.isEmpty() && name == QLatin1String(format.Name))
            return &format;
    }
    return nullptr;
}

QString DetectImageFormat(const QString& path, Prompts* prompts)
{
    QFile file(path);
    OpenImage(file);
    if (file.size() == 0) {
        if (prompts != nullptr)
            prompts->Message(kAppTitle, QStringLiteral("0"));
        return QStringLiteral("0");
    }
    return NameByTwoBytes(ReadHead(file));
}

bool IsDecodableFormat(const QString& format)
{
    const TImageFormat* found = FindImageFormat(format);
    return found != nullptr && found->Decode != nullptr;
}

bool TakesFormat(const TImageFormat& format, TImageUse use)
{
    switch (use) {
    case TImageUse::Frame:
        return format.Decode != nullptr;
    case TImageUse::Import:
        return format.Kind == TImageKind::Animation && format.Read != nullptr;
    case TImageUse::List:
        return format.Decode != nullptr || TakesFormat(format, TImageUse::Import);
    case TImageUse::Sheet:
        return format.Sheet;
    }
    return false;
}

QString ImageFormatNames(TImageUse use)
{
    QStringList names;
    for (const TImageFormat& format : kFormats) {
        if (TakesFormat(format, use))
            names.append(QString::fromLatin1(format.Name));
    }
    if (names.size() < 2)
        return names.join(QString());
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QStringList ImageExtensions(TImageUse use)
{
    QStringList extensions;
    for (const TImageFormat& format : kFormats) {
        if (!TakesFormat(format, use))
            continue;
        for (const QString& extension : QString::fromLatin1(format.Extensions).split(u' ', Qt::SkipEmptyParts))
            extensions.append(u'.' + extension);
    }
    return extensions;
}

QString ImageFilter(const QString& label, TImageUse use)
{
    QStringList patterns = ImageExtensions(use);
    for (QString& pattern : patterns)
        pattern.prepend(u'*');
    const QString list = patterns.join(u';');
    return QStringLiteral("%1 (%2)|%2").arg(label, list);
}

const TImageFormat* AnimationFormatOf(const QByteArray& head)
{
    for (const TImageFormat& format : kFormats) {
        if (format.Read != nullptr && StartsWithSignature(head, format.Signature))
            return &format;
    }
    return nullptr;
}

const TImageFormat& TImageCheck::Usable() const
{
    if (Format == nullptr)
        throw TError(Error);
    return *Format;
}

TImageCheck CheckImageFile(const QString& path, TImageUse use)
{
    if (!QFileInfo(path).isFile())
        return Refusal(TImageProblem::Missing, {}, path + QStringLiteral(": the file does not exist"));
    try {
        QFile file(path);
        OpenImage(file);
        if (file.size() == 0)
            return Refusal(TImageProblem::Empty, QStringLiteral("0"), path + QStringLiteral(": the file is empty"));
        const QByteArray head = ReadHead(file);
        const QString name = NameByTwoBytes(head);
        for (const TImageFormat& format : kFormats) {
            if (TakesFormat(format, use) && IsOfFormat(format, head, name))
                return {TImageProblem::None, name, &format, {}};
        }
        return Refusal(TImageProblem::Unsupported, name,
                       QStringLiteral("%1: not a %2 image").arg(path, ImageFormatNames(use)));
    } catch (const TError& error) {
        return Refusal(TImageProblem::Unreadable, {}, error.Text());
    }
}
