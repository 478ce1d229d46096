#include "common/AppDirs.h"
#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"
#include "package/SpriteSheet.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTextStream>

#include <optional>

namespace {

// The largest difference of a colour channel between two ARGB32 images of one size, over
// the pixels both show (Qt drops the colour of clear pixels).
int LargestChannelDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAlpha(p) != 0 && qAlpha(q) != 0) {
                largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            }
        }
    }
    return largest;
}

// What Qt's own reader makes of the file, as ARGB32.
QImage QtDecode(const QString& path, const char* format)
{
    QImage image = QImageReader(path, format).read();
    image.convertTo(QImage::Format_ARGB32);
    return image;
}

QImage Decode(const QString& path, TImageInfo* info = nullptr)
{
    return DecodeImage(path, DetectImageFormat(path), info, kMaxSheetBytes);
}

}  // namespace

class ImageDecodersTest : public TempDirTest {
protected:
    QString Data(const QString& relative) const { return QDir(TestDataFolder()).filePath(relative); }
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_FALSE(TestDataFolder().isEmpty()) << "conformance data not found: " ZUVORA_TESTDATA;
    }
};

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

TEST_F(ImageDecodersTest, PngSuiteMatchesQtsReaderWithTheRightTransparencyKinds)
{
    QFile table(Data(QStringLiteral("pngsuite/expected-libpng.tsv")));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream lines(&table);
    lines.readLine();
    int checked = 0;
    while (!lines.atEnd()) {
        const QStringList row = lines.readLine().split(u'\t');
        const QString path = Data(QStringLiteral("pngsuite/") + row[0]);
        if (row[1] != u"OK") {
            EXPECT_THROW(Decode(path), TError) << row[0].toStdString();
            continue;
        }
        TImageInfo info;
        const QImage image = Decode(path, &info);
        const QImage theirs = QtDecode(path, "png");
        ASSERT_EQ(image.size(), theirs.size()) << row[0].toStdString();
        // 16-bit samples may round one step apart. Qt mishandles a 16-bit transparent colour
        // (it comes out opaque, the rest mixed), so there the suite's own counts must do.
        const bool sixteen = row[4] == u"16";
        if (!(sixteen && row[7] == u"1")) {
            EXPECT_LE(LargestChannelDifference(image, theirs), sixteen ? 1 : 0) << row[0].toStdString();
        }
        EXPECT_EQ(AlphaCounts(image), std::make_pair(row[8].toInt(), row[9].toInt())) << row[0].toStdString();
        // The table counts pixels, not palette entries, so a palette's kind is checked only
        // where partly clear pixels settle it.
        const int colourType = row[5].toInt();
        const bool tRNS = row[7] == u"1";
        std::optional<TTransparency> expected;
        if (colourType == 4 || colourType == 6 || (colourType == 3 && row[9].toInt() > 0))
            expected = TTransparency::Partial;
        else if (!tRNS)
            expected = TTransparency::None;
        else if (colourType != 3)
            expected = TTransparency::OneColour;
        if (expected) {
            EXPECT_EQ(info.Transparency, *expected) << row[0].toStdString();
        }
        ++checked;
    }
    EXPECT_EQ(checked, 161);
}

TEST_F(ImageDecodersTest, JpegSamplesMatchQtsReaderAndDamageIsRefused)
{
    const QString folder = Data(QStringLiteral("jpeg"));
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.jpg")})) {
        const QString path = QDir(folder).filePath(name);
        if (name.startsWith(QStringLiteral("precision12")) || name.startsWith(QStringLiteral("truncated"))) {
            EXPECT_THROW(Decode(path), TError) << name.toStdString();
            continue;
        }
        const QImage ours = Decode(path);
        const QImage theirs = QtDecode(path, "jpeg");
        ASSERT_EQ(ours.size(), theirs.size()) << name.toStdString();
        EXPECT_LE(LargestChannelDifference(ours, theirs), 2) << name.toStdString();
    }
    // Photoshop's inverted CMYK: C 253, M 249, Y 238, K 47 comes out near 47, 46, 44.
    const QRgb first = Decode(QDir(folder).filePath(QStringLiteral("cmyk_ycck_adobe_imagemagick.jpg"))).pixel(0, 0);
    EXPECT_NEAR(qRed(first), 47, 2);
    EXPECT_NEAR(qGreen(first), 46, 2);
    EXPECT_NEAR(qBlue(first), 44, 2);
}

TEST_F(ImageDecodersTest, BmpSuiteGoodFilesDecodeAndNoFileCrashes)
{
    for (const QString& group : {QStringLiteral("g"), QStringLiteral("q"), QStringLiteral("b")}) {
        const QDir folder(Data(QStringLiteral("bmpsuite/") + group));
        for (const QString& name : folder.entryList({QStringLiteral("*.bmp")})) {
            const QString path = folder.filePath(name);
            try {
                TImageInfo info;
                const QImage image = Decode(path, &info);
                EXPECT_EQ(image.size(), QSize(info.Width, info.Height)) << name.toStdString();
            } catch (const TError& error) {
                EXPECT_NE(group, QStringLiteral("g")) << name.toStdString() << ": " << error.Text().toStdString();
            }
        }
    }
}
