#include "common/AppDirs.h"
#include "common/Error.h"
#include "image/ImageFormat.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QTemporaryDir>

#include <optional>

TEST(ImageFormatTest, TheFirstTwoBytesDecide)
{
    QTemporaryDir dir;
    const struct {
        QByteArray bytes;
        QString format;
    } cases[] = {
        {"BM....", "BMP"},   {"\xFF\xD8\xFF", "JPEG"}, {"GIF89a", "GIF"}, {"\x0A\x05\x01", "PCX"},
        {"\x89PNG", "PNG"},  {"8BPS", "PSD"},          {"\x59\xA6", "RAS"}, {"\x01\xDA", "SGI"},
        {"II*\0", "TIFF"},   {"MM\0*", ""},            {"\x0A\x03", ""},  {"text file", ""},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("f"));
        WriteAll(path, c.bytes);
        EXPECT_EQ(DetectImageFormat(path), c.format) << c.bytes.toHex().toStdString();
    }

    ScriptedPrompts prompts;
    WriteAll(dir.filePath(QStringLiteral("empty.png")), {});
    EXPECT_EQ(DetectImageFormat(dir.filePath(QStringLiteral("empty.png")), &prompts), QStringLiteral("0"));
    EXPECT_EQ(prompts.messages, (QList<ScriptedPrompts::Shown>{{kAppTitle, "0"}}));
    WriteAll(dir.filePath(QStringLiteral("one.png")), "B");
    try {
        DetectImageFormat(dir.filePath(QStringLiteral("one.png")));
        ADD_FAILURE() << "a one-byte file was read";
    } catch (const TError& error) {
        EXPECT_EQ(error.Text(), QStringLiteral("Stream read error"));
    }
    EXPECT_THROW(DetectImageFormat(dir.filePath(QStringLiteral("missing.png"))), TError);
}

// One check for every reader, its refusal listing what the use takes. An animation is told
// by its whole signature, a still by its first two bytes, and a PNG stays a still whatever
// it holds.
TEST(ImageFormatTest, AFileIsCheckedForItsUseWithOneSetOfMessages)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.png"));
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR");
    const QByteArray webp("RIFF\x10\0\0\0WEBPVP8L", 16);
    // The lists of names are pinned below, where each use's offer is.
    const QString stills = QStringLiteral("%1: not a %2 image").arg(path, ImageFormatNames(TImageUse::Frame));
    const QString sheets = QStringLiteral("%1: not a %2 image").arg(path, ImageFormatNames(TImageUse::Sheet));
    const struct {
        std::optional<QByteArray> bytes;  // none: no file
        TImageUse use;
        TImageProblem problem;
        const char* name;
        const char* readAs;  // the entry's name, or empty
        QString error;
    } cases[] = {
        {std::nullopt, TImageUse::Frame, TImageProblem::Missing, "", "", path + ": the file does not exist"},
        {QByteArray(), TImageUse::Sheet, TImageProblem::Empty, "0", "", path + ": the file is empty"},
        {"B", TImageUse::Frame, TImageProblem::Unreadable, "", "", "Stream read error"},
        {"hello", TImageUse::Frame, TImageProblem::Unsupported, "", "", stills},
        {"GIF89a", TImageUse::Frame, TImageProblem::Unsupported, "GIF", "", stills},
        {"GIF89a", TImageUse::Sheet, TImageProblem::None, "GIF", "GIF", {}},
        {"GIF7", TImageUse::Sheet, TImageProblem::Unsupported, "GIF", "", sheets},
        {webp, TImageUse::Sheet, TImageProblem::None, "", "WebP", {}},
        {webp, TImageUse::Frame, TImageProblem::Unsupported, "", "", stills},
        {png, TImageUse::List, TImageProblem::None, "PNG", "PNG", {}},
        {"\xFF\xD8\xFF", TImageUse::Frame, TImageProblem::None, "JPEG", "JPEG", {}},
        {"8BPS", TImageUse::Sheet, TImageProblem::Unsupported, "PSD", "", sheets},
    };
    for (const auto& c : cases) {
        QFile::remove(path);
        if (c.bytes)
            WriteAll(path, *c.bytes);
        const TImageCheck check = CheckImageFile(path, c.use);
        SCOPED_TRACE(c.bytes.value_or("(none)").toHex().toStdString());
        EXPECT_EQ(check.Problem, c.problem);
        EXPECT_EQ(check.Name, QLatin1String(c.name));
        EXPECT_EQ(QLatin1String(check.Format != nullptr ? check.Format->Name : ""), QLatin1String(c.readAs));
        EXPECT_EQ(check.Error, c.error);
        if (check.Format == nullptr) {
            try {
                check.Usable();
                ADD_FAILURE() << "an unusable file was taken";
            } catch (const TError& error) {
                EXPECT_EQ(error.Text(), c.error);
            }
        }
    }
}

// The dialogs, the drops and the messages list the formats in one order, each only where
// it is taken; no two formats share the two bytes that name a file.
TEST(ImageFormatTest, EachUseOffersTheFormatsItTakes)
{
    EXPECT_EQ(ImageFilter(QStringLiteral("Sprite Sheet"), TImageUse::Sheet),
              QStringLiteral("Sprite Sheet (*.png;*.jpg;*.jpeg;*.bmp;*.gif;*.webp)|*.png;*.jpg;*.jpeg;*.bmp;*.gif;*.webp"));
    EXPECT_EQ(ImageExtensions(TImageUse::List),
              (QStringList{".png", ".jpg", ".jpeg", ".bmp", ".gif", ".apng", ".webp"}));
    EXPECT_EQ(ImageExtensions(TImageUse::Import), (QStringList{".gif", ".apng", ".webp"}));
    EXPECT_EQ(ImageFormatNames(TImageUse::Import), QStringLiteral("GIF, APNG or WebP"));
    EXPECT_EQ(ImageFormatNames(TImageUse::Frame), QStringLiteral("PNG, JPEG or BMP"));
    EXPECT_EQ(ImageFormatNames(TImageUse::Sheet), QStringLiteral("PNG, JPEG, BMP, GIF or WebP"));
    QStringList tags;
    for (const TImageFormat& format : ImageFormats()) {
        if (format.NamedByTwoBytes)
            tags.append(QString::fromLatin1(format.Signature, 2));
        EXPECT_EQ(format.Kind == TImageKind::Still, format.Decode != nullptr) << format.Name;
        EXPECT_EQ(format.Kind == TImageKind::Animation, format.Read != nullptr && format.Decode == nullptr) << format.Name;
    }
    EXPECT_EQ(tags.removeDuplicates(), 0) << tags.join(u' ').toStdString();
}
