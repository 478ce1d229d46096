#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "image/ImageFormat.h"
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
    // Far beyond every file here: these tests are about the data, not the memory bound.
    return DecodeImage(path, DetectImageFormat(path), info, std::int64_t{1} << 30);
}

// The reason a decode gives, or the empty text when it succeeds.
QString DecodeFailure(const QString& path)
{
    try {
        Decode(path);
        return {};
    } catch (const TError& error) {
        return error.Text();
    }
}

void AppendLe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A BMP with a 40-byte info header and a palette of `colours` entries (entry i is grey
// 40 * i), its pixel data right after.
QByteArray Bmp(qint32 width, qint32 height, quint16 bits, quint32 compression, const QByteArray& data, int colours = 0)
{
    QByteArray info;
    AppendLe(info, 40, 4);
    AppendLe(info, static_cast<quint32>(width), 4);
    AppendLe(info, static_cast<quint32>(height), 4);
    AppendLe(info, 1, 2);
    AppendLe(info, bits, 2);
    AppendLe(info, compression, 4);
    info += QByteArray(12, '\0');  // the data's size and the resolution
    AppendLe(info, static_cast<quint32>(colours), 4);
    AppendLe(info, 0, 4);
    for (int i = 0; i < colours; ++i)
        AppendLe(info, static_cast<quint32>(i * 40 * 0x010101), 4);
    QByteArray file("BM");
    AppendLe(file, static_cast<quint32>(14 + info.size() + data.size()), 4);
    AppendLe(file, 0, 4);
    AppendLe(file, static_cast<quint32>(14 + info.size()), 4);
    return file + info + data;
}

// Says "cancelled" once it has taken `rows` rows, counting them.
class CancellingSink : public TImageSink {
public:
    explicit CancellingSink(int cancelAfter) : cancelAfter_(cancelAfter) {}
    int rows = 0;
    void Begin(const TImageInfo&) override {}
    void Row(int, const QRgb*) override { ++rows; }
    bool Cancelled() const override { return rows >= cancelAfter_; }

private:
    int cancelAfter_;
};

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

TEST_F(ImageDecodersTest, BmpDataMustFitTheFileAndHeadersGiveReasons)
{
    // Two rows of 4 palette pixels, run-length coded: a jump of 2, two pixels of colour 1,
    // then the end of the bitmap.
    const QByteArray skipping("\x00\x02\x02\x00\x02\x01\x00\x01", 8);
    const struct {
        const char* name;
        QByteArray file;
        const char* failure;  // empty: it decodes
    } cases[] = {
        {"uncompressed, whole", Bmp(3, 2, 24, 0, QByteArray(24, 'x')), ""},
        {"top-down, whole", Bmp(3, -2, 24, 0, QByteArray(24, 'x')), ""},
        {"run-length, pixels skipped", Bmp(4, 2, 8, 1, skipping, 2), ""},
        {"200 square with 300 bytes", Bmp(200, 200, 24, 0, QByteArray(300, 'x')), "the image data ends early"},
        {"top-down, a byte short", Bmp(3, -2, 24, 0, QByteArray(23, 'x')), "the image data ends early"},
        {"run-length, no end", Bmp(4, 2, 8, 1, QByteArray("\x04\x01", 2), 2), "the image data ends early"},
        {"palette cut", Bmp(4, 1, 8, 0, {}, 2).chopped(4), "the image data ends early"},
        {"width 0", Bmp(0, 2, 24, 0, QByteArray(8, 'x')), "the header gives a width of 0 pixels"},
        {"height 0", Bmp(2, 0, 24, 0, QByteArray(8, 'x')), "the header gives a height of 0 pixels"},
        {"JPEG inside", Bmp(2, 2, 24, 4, QByteArray(16, 'x')), "compression 4 with 24 bits a pixel is not supported"},
        {"300 colours", Bmp(2, 2, 8, 0, QByteArray(8, 'x'), 300), "a palette of 300 colours is more than 256"},
    };
    for (const auto& c : cases) {
        const QString path = Path(QStringLiteral("f.bmp"));
        WriteAll(path, c.file);
        const QString failure = DecodeFailure(path);
        if (*c.failure == '\0') {
            EXPECT_EQ(failure, QString()) << c.name;
        } else {
            EXPECT_TRUE(failure.startsWith(path + QStringLiteral(": ") + QLatin1String(c.failure))) << c.name << ": " << failure.toStdString();
        }
    }
    // What the jump and the early end leave out is palette entry 0, never stray memory.
    WriteAll(Path("rle.bmp"), Bmp(4, 2, 8, 1, skipping, 2));
    const QImage rle = Decode(Path("rle.bmp"));
    const QRgb clear = qRgb(0, 0, 0);
    const QRgb one = qRgb(40, 40, 40);
    EXPECT_EQ(rle.pixel(0, 0), clear);
    EXPECT_EQ(rle.pixel(3, 0), clear);
    EXPECT_EQ(rle.pixel(1, 1), clear);
    EXPECT_EQ(rle.pixel(2, 1), one);
    EXPECT_EQ(rle.pixel(3, 1), one);

    // 354 bytes claiming 16384 by 16384 pixels: refused from the header, nothing allocated.
    const QByteArray huge = Bmp(16384, 16384, 24, 0, QByteArray(300, 'x'));
    ASSERT_EQ(huge.size(), 354);
    WriteAll(Path("huge.bmp"), huge);
    EXPECT_THROW(ReadImageInfo(Path("huge.bmp"), QStringLiteral("BMP")), TError);
    EXPECT_TRUE(WithinMemory(64, [this] { return DecodeFailure(Path("huge.bmp")).contains(QStringLiteral("ends early")); }));
}

TEST_F(ImageDecodersTest, JpegDataMissingOrGarbledIsRefusedAndScansAreLimited)
{
    const QByteArray baseline = ReadAll(Data(QStringLiteral("jpeg/baseline_420_testorig.jpg")));
    const QByteArray progressive = ReadAll(Data(QStringLiteral("jpeg/progressive_420_testimgp.jpg")));
    const QByteArray restart = ReadAll(Data(QStringLiteral("jpeg/restart_420_jpegtran.jpg")));
    const QByteArray eoi("\xFF\xD9", 2);
    // Markers cannot occur in entropy-coded data, which stuffs every 0xFF.
    const qsizetype scan = baseline.indexOf("\xFF\xDA");
    const qsizetype lastScan = progressive.lastIndexOf("\xFF\xDA");
    ASSERT_GT(scan, 0);

    QByteArray garbled = baseline;
    garbled.replace(scan + 400, 64, QByteArray("\xFF\x00", 2).repeated(32));
    QByteArray partSpectrum = baseline;
    partSpectrum[scan + 4 + 1 + 2 * 3 + 1] = '\x3E';  // Se 62
    QByteArray wrongRestart = restart;
    wrongRestart[wrongRestart.indexOf(QByteArray("\xFF\xD0", 2)) + 1] = '\xD3';

    const struct {
        const char* name;
        QByteArray file;
        const char* failure;  // empty: it decodes
    } cases[] = {
        {"cut in the scan, then an end marker", baseline.left(2885) + eoi, "premature end of data segment"},
        // Padding after the last scan, which cameras write, leaves every pixel there.
        {"bytes before the end marker", baseline.chopped(2) + QByteArray(8, '\x55') + eoi, ""},
        {"entropy data overwritten", garbled, "bad Huffman code"},
        {"a restart marker out of turn", wrongRestart, "found marker 0xd3 instead of RST0"},
        {"a sequential scan without the whole spectrum", partSpectrum, "Invalid SOS parameters for sequential JPEG"},
        {"a refinement scan sent twice",
         progressive.chopped(2) + progressive.mid(lastScan).chopped(2) + eoi,
         "Inconsistent progression sequence"},
        {"100 scans", RepeatedDcScans(16, 1, kMaxJpegScans), ""},
        {"101 scans", RepeatedDcScans(16, 1, kMaxJpegScans + 1), "the image has more than 100 scans"},
    };
    for (const auto& c : cases) {
        const QString path = Path(QStringLiteral("f.jpg"));
        WriteAll(path, c.file);
        const QString failure = DecodeFailure(path);
        if (*c.failure == '\0') {
            EXPECT_EQ(failure, QString()) << c.name;
        } else {
            EXPECT_TRUE(failure.startsWith(path + QStringLiteral(": ")) && failure.contains(QLatin1String(c.failure)))
                << c.name << ": " << failure.toStdString();
        }
    }
}

TEST_F(ImageDecodersTest, DecodersStopWhenTheSinkCancels)
{
    const struct {
        const char* file;
        int rows;  // taken before the sink cancels
    } cases[] = {
        {"pngsuite/basn2c08.png", 3},
        // Rows come only once every pass or scan is in: cancelled while they are read.
        {"pngsuite/basi2c08.png", 0},
        {"jpeg/baseline_420_testorig.jpg", 3},
        {"jpeg/progressive_420_testimgp.jpg", 0},
        {"bmpsuite/g/rgb24.bmp", 3},
    };
    for (const auto& c : cases) {
        const QString path = Data(QLatin1String(c.file));
        CancellingSink sink(c.rows);
        try {
            DecodeImage(path, DetectImageFormat(path), sink);
            ADD_FAILURE() << c.file << " was decoded whole";
        } catch (const TError& error) {
            EXPECT_EQ(error.Text(), path + QStringLiteral(": cancelled")) << c.file;
        }
        EXPECT_EQ(sink.rows, c.rows) << c.file;
    }
}
