#include "common/Error.h"
#include "image/Animation.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Reader = void (*)(const QByteArray&, const QString&, TAnimationSink&);

// Keeps a copy of every frame.
class FrameCollector : public TAnimationSink {
public:
    void Begin(const TAnimationInfo& begun) override
    {
        EXPECT_FALSE(started);
        started = true;
        info = begun;
    }
    void Frame(const QImage& canvas, int delayMs) override
    {
        EXPECT_TRUE(started);
        EXPECT_EQ(canvas.format(), QImage::Format_ARGB32);
        EXPECT_EQ(canvas.size(), QSize(info.Width, info.Height));
        frames.push_back(canvas.copy());
        delays.push_back(delayMs);
    }

    bool started = false;
    TAnimationInfo info;
    std::vector<QImage> frames;
    std::vector<int> delays;
};

// Refuses every animation when told its size, as a caller with less memory would.
class RefusingSink : public TAnimationSink {
public:
    void Begin(const TAnimationInfo& begun) override
    {
        info = begun;
        throw TError(QStringLiteral("refused"));
    }
    void Frame(const QImage&, int) override { ADD_FAILURE() << "a frame after the refusal"; }

    TAnimationInfo info;
};

// The largest difference of any channel, alpha included, over pixels either image shows:
// pixels clear in both match whatever their colour.
int LargestDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAlpha(p) == 0 && qAlpha(q) == 0)
                continue;
            largest = std::max({largest, std::abs(qAlpha(p) - qAlpha(q)), std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

QString DataPath(const QString& file) { return QDir(TestDataFolder()).filePath(QStringLiteral("animation/") + file); }

// ------------------------------------------------------------------ GIFs written by hand

QRgb Colour(int index) { return qRgb(40 * index % 256, 255 - 30 * index, 70 * index % 256); }

void PutU16(QByteArray& bytes, int value)
{
    bytes.append(static_cast<char>(value & 0xFF));
    bytes.append(static_cast<char>((value >> 8) & 0xFF));
}

void PutTable(QByteArray& bytes, int colours)
{
    for (int i = 0; i < colours; ++i) {
        bytes.append(static_cast<char>(qRed(Colour(i))));
        bytes.append(static_cast<char>(qGreen(Colour(i))));
        bytes.append(static_cast<char>(qBlue(Colour(i))));
    }
}

// The size field of a table of `colours` entries (a power of two from 2 to 256).
int TableField(int colours)
{
    int field = 0;
    while ((2 << field) < colours)
        ++field;
    return field;
}

// Image data with 8-bit indices, every pixel its own 9-bit code: a clear code comes often
// enough that the code width never grows.
QByteArray LzwData(const std::vector<int>& pixels, int codeSize)
{
    std::vector<std::uint8_t> packed;
    std::uint32_t bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    };
    put(256);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 250 == 249)
            put(256);
        put(pixels[i]);
    }
    put(257);
    if (count > 0)
        packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    QByteArray data(1, static_cast<char>(codeSize));
    for (std::size_t i = 0; i < packed.size(); i += 255) {
        const std::size_t length = std::min<std::size_t>(255, packed.size() - i);
        data.append(static_cast<char>(length));
        data.append(reinterpret_cast<const char*>(packed.data() + i), static_cast<qsizetype>(length));
    }
    return data + '\0';
}

class GifBuilder {
public:
    // A logical screen with a global table of `colours` entries (none for 0).
    GifBuilder(int width, int height, int colours)
    {
        bytes_ = "GIF89a";
        PutU16(bytes_, width);
        PutU16(bytes_, height);
        bytes_.append(static_cast<char>(colours > 0 ? 0x80 | TableField(colours) : 0));
        bytes_.append(2, '\0');
        PutTable(bytes_, colours);
    }
    GifBuilder& Control(int disposal, int delayCs, int transparent = -1)
    {
        bytes_ += QByteArray("\x21\xF9\x04", 3);
        bytes_.append(static_cast<char>((disposal << 2) | (transparent >= 0 ? 1 : 0)));
        PutU16(bytes_, delayCs);
        bytes_.append(static_cast<char>(std::max(transparent, 0)));
        bytes_.append('\0');
        return *this;
    }
    GifBuilder& Image(int left, int top, int width, int height, const std::vector<int>& pixels, int localColours = 0,
                      int codeSize = 8)
    {
        bytes_.append(',');
        for (const int value : {left, top, width, height})
            PutU16(bytes_, value);
        bytes_.append(static_cast<char>(localColours > 0 ? 0x80 | TableField(localColours) : 0));
        PutTable(bytes_, localColours);
        bytes_ += LzwData(pixels, codeSize);
        return *this;
    }
    QByteArray Bytes() const { return bytes_ + ';'; }

private:
    QByteArray bytes_;
};

// An image drawn in text: a digit is Colour(digit), '.' is clear.
QImage Drawn(const std::vector<const char*>& rows)
{
    QImage image(static_cast<int>(std::strlen(rows[0])), static_cast<int>(rows.size()), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const char c = rows[static_cast<std::size_t>(y)][x];
            image.setPixel(x, y, c == '.' ? 0u : Colour(c - '0'));
        }
    }
    return image;
}

// ------------------------------------------------------------------- WebP chunk surgery

QByteArray Le32(std::uint32_t value)
{
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFF));
    return bytes;
}

QByteArray Riff(const QByteArray& chunks)
{
    return "RIFF" + Le32(static_cast<std::uint32_t>(chunks.size() + 4)) + "WEBP" + chunks;
}

// The file with its VP8X chunk claiming another canvas.
QByteArray WithCanvas(QByteArray webp, int width, int height)
{
    EXPECT_EQ(webp.mid(12, 4), QByteArray("VP8X"));
    for (int i = 0; i < 3; ++i) {
        webp[24 + i] = static_cast<char>(((width - 1) >> (8 * i)) & 0xFF);
        webp[27 + i] = static_cast<char>(((height - 1) >> (8 * i)) & 0xFF);
    }
    return webp;
}

// The still lossless image with its header claiming another size.
QByteArray LosslessClaiming(QByteArray webp, int width, int height)
{
    EXPECT_EQ(webp.mid(12, 4), QByteArray("VP8L"));
    const quint32 bits = qFromLittleEndian<quint32>(webp.constData() + 21);
    qToLittleEndian((bits & ~0x0FFFFFFFu) | static_cast<quint32>(width - 1) | static_cast<quint32>(height - 1) << 14,
                    webp.data() + 21);
    return webp;
}

// The animation with its first frame repeated `count` times in place of its frames, which
// are its last chunks.
QByteArray WithFrames(const QByteArray& webp, int count)
{
    const qsizetype first = webp.indexOf("ANMF");
    const qsizetype size = qFromLittleEndian<quint32>(webp.constData() + first + 4);
    return Riff(webp.mid(12, first - 12) + webp.mid(first, 8 + size + (size & 1)).repeated(count));
}

}  // namespace

class AnimationReadersTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(TestDataFolder().isEmpty()) << "conformance data not found: " ZUVORA_TESTDATA; }
};

TEST_F(AnimationReadersTest, FramesMatchAnotherDecoder)
{
    const struct {
        const char* file;
        Reader read;
        std::vector<int> delays;
        bool transparent;
        int tolerance;  // lossy files only
    } cases[] = {
        {"gif_dispose_background.gif", ReadGif, {20, 80, 130, 500}, true, 0},
        {"gif_dispose_previous.gif", ReadGif, {80, 20, 500, 130}, true, 0},
        {"gif_interlaced.gif", ReadGif, {80, 80, 80}, true, 0},
        {"gif_pillow.gif", ReadGif, {20, 80, 130, 500}, true, 0},
        {"gif_still.gif", ReadGif, {0}, true, 0},
        {"webp_dispose_background.webp", ReadWebp, {20, 80, 130, 500}, true, 0},
        {"webp_blend.webp", ReadWebp, {20, 80, 130, 500}, true, 0},
        {"webp_rules.webp", ReadWebp, {100, 110, 120, 130, 140}, true, 0},
        {"webp_img2webp.webp", ReadWebp, {80, 130, 500}, true, 0},
        {"webp_img2webp_lossy.webp", ReadWebp, {20, 80, 130}, true, 3},
        {"webp_still_lossless.webp", ReadWebp, {0}, true, 0},
        {"webp_still_lossy.webp", ReadWebp, {0}, false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray data = ReadAll(DataPath(QString::fromLatin1(c.file)));
        QImage strip(DataPath(QString::fromLatin1(c.file) + QStringLiteral(".frames.png")));
        ASSERT_FALSE(data.isEmpty());
        ASSERT_FALSE(strip.isNull());
        strip.convertTo(QImage::Format_ARGB32);
        FrameCollector sink;
        c.read(data, QString::fromLatin1(c.file), sink);
        ASSERT_EQ(sink.info.Width, strip.width());
        ASSERT_EQ(sink.info.Height * sink.info.FrameCount, strip.height());
        EXPECT_EQ(sink.info.Transparent, c.transparent);
        EXPECT_EQ(sink.delays, c.delays);
        ASSERT_EQ(sink.frames.size(), c.delays.size());
        for (std::size_t i = 0; i < sink.frames.size(); ++i) {
            const QImage expected = strip.copy(0, static_cast<int>(i) * sink.info.Height, sink.info.Width, sink.info.Height);
            EXPECT_LE(LargestDifference(sink.frames[i], expected), c.tolerance) << "frame " << i;
        }
    }
}

TEST_F(AnimationReadersTest, GifFramesAreClippedToTheScreenOrSpanAnEmptyOne)
{
    const QByteArray clipped = GifBuilder(4, 3, 4)
                                   .Image(0, 0, 4, 3, std::vector<int>(12, 1))
                                   .Control(1, 7, 0)
                                   .Image(2, 1, 3, 3, {2, 0, 3, 0, 2, 2, 3, 3, 3})
                                   .Image(1, 1, 0, 0, {})
                                   .Bytes();
    QByteArray spanned = clipped;
    spanned.replace(6, 4, QByteArray(4, '\0'));
    const struct {
        QByteArray data;
        std::vector<QImage> frames;
    } cases[] = {
        {clipped,
         {Drawn({"1111", "1111", "1111"}), Drawn({"1111", "1121", "1112"}), Drawn({"1111", "1121", "1112"})}},
        {spanned,
         {Drawn({"1111.", "1111.", "1111.", "....."}), Drawn({"1111.", "11213", "11122", "..333"}),
          Drawn({"1111.", "11213", "11122", "..333"})}},
    };
    for (const auto& c : cases) {
        FrameCollector sink;
        ReadGif(c.data, QStringLiteral("hand.gif"), sink);
        EXPECT_TRUE(sink.info.Transparent);
        EXPECT_EQ(sink.delays, (std::vector<int>{0, 70, 0}));
        ASSERT_EQ(sink.frames.size(), c.frames.size());
        for (std::size_t i = 0; i < c.frames.size(); ++i)
            EXPECT_EQ(sink.frames[i], c.frames[i]) << "frame " << i;
    }
}

TEST_F(AnimationReadersTest, GifRestoringPutsBackOnlyWhatTheFrameCovered)
{
    // Restoring after the first frame clears, as nothing was drawn before it; a frame cut
    // by the screen's edge restores its visible part; the last frame's disposal shows nowhere.
    const QByteArray gif = GifBuilder(3, 2, 4)
                               .Control(3, 0)
                               .Image(0, 0, 2, 1, {1, 1})
                               .Image(1, 1, 2, 1, {2, 2})
                               .Control(3, 0)
                               .Image(2, 0, 2, 2, {3, 3, 3, 3})
                               .Control(3, 0)
                               .Image(0, 0, 1, 1, {1})
                               .Bytes();
    FrameCollector sink;
    ReadGif(gif, QStringLiteral("restore.gif"), sink);
    const std::vector<QImage> expected{Drawn({"11.", "..."}), Drawn({"...", ".22"}), Drawn({"..3", ".23"}),
                                       Drawn({"1..", ".22"})};
    ASSERT_EQ(sink.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(sink.frames[i], expected[i]) << "frame " << i;
}

TEST_F(AnimationReadersTest, DamagedFilesRaiseAnErrorNamingTheFile)
{
    const QByteArray gif = ReadAll(DataPath(QStringLiteral("gif_dispose_previous.gif")));
    const QByteArray webp = ReadAll(DataPath(QStringLiteral("webp_blend.webp")));
    const QByteArray lossless = ReadAll(DataPath(QStringLiteral("webp_still_lossless.webp")));
    ASSERT_FALSE(gif.isEmpty() || webp.isEmpty() || lossless.isEmpty());
    const std::vector<int> one{1};
    GifBuilder manyFrames(2, 2, 2);
    for (int i = 0; i <= kMaxAnimationFrames; ++i)
        manyFrames.Image(0, 0, 1, 1, one);
    // A whole container whose lossless image stops after its header: found only in decoding.
    ASSERT_EQ(lossless.mid(12, 4), QByteArray("VP8L"));
    const QByteArray shortPixels = Riff("VP8L" + Le32(12) + lossless.mid(20, 12));

    const struct {
        const char* what;
        Reader read;
        QByteArray data;
        const char* reason;
    } cases[] = {
        {"GIF cut in half", ReadGif, gif.left(gif.size() / 2), "the file ends early"},
        {"GIF without its trailer", ReadGif, gif.chopped(1), "the file ends early"},
        {"GIF of a header alone", ReadGif, gif.left(13), "the file ends early"},
        {"not a GIF", ReadGif, QByteArray("PNG but not really a GIF at all"), "not a GIF file"},
        {"GIF with an unknown block", ReadGif, GifBuilder(2, 2, 2).Bytes().insert(19, '\x99'), "an unknown block (0x99)"},
        {"GIF screen too wide", ReadGif, GifBuilder(20000, 2, 2).Image(0, 0, 1, 1, one).Bytes(), "larger than 16384 a side"},
        {"GIF frame too wide", ReadGif, GifBuilder(2, 2, 2).Image(0, 0, 20000, 1, one).Bytes(), "frame 1 of 20000 by 1 pixels"},
        {"GIF of too many frames", ReadGif, manyFrames.Bytes(), "more than 10000 frames"},
        {"GIF with no image", ReadGif, GifBuilder(2, 2, 2).Bytes(), "the file holds no image"},
        {"GIF without a colour table", ReadGif, GifBuilder(2, 2, 0).Image(0, 0, 1, 1, one).Bytes(), "frame 1 has no colour table"},
        {"GIF index beyond its table", ReadGif, GifBuilder(2, 1, 2).Image(0, 0, 2, 1, {1, 3}).Bytes(),
         "frame 1 uses colour 3 of a table of 2"},
        {"GIF pixels run short", ReadGif, GifBuilder(2, 2, 2).Image(0, 0, 2, 2, {1, 1, 1}).Bytes(), "frame 1: "},
        {"GIF code size too large", ReadGif, GifBuilder(2, 2, 2).Image(0, 0, 1, 1, one, 0, 12).Bytes(),
         "frame 1 has a code size of 12 bits"},
        {"GIF code size past 8", ReadGif, GifBuilder(2, 2, 2).Image(0, 0, 1, 1, one, 0, 11).Bytes(),
         "frame 1 has a code size of 11 bits; a GIF's is at most 8"},
        {"WebP cut in half", ReadWebp, webp.left(webp.size() / 2), "the file ends early"},
        {"WebP chunk header alone", ReadWebp, webp.left(20), "the file ends early"},
        {"not a WebP", ReadWebp, QByteArray("RIFF\x10\0\0\0WEBPJUNKJUNKJUNKJUNK", 28), "not a WebP file"},
        {"WebP of garbage", ReadWebp, QByteArray(300, '\x7F'), "not a WebP file"},
        {"WebP canvas too wide", ReadWebp, WithCanvas(webp, 20000, 20), "larger than 16384 a side"},
        {"WebP of too many frames", ReadWebp, WithFrames(webp, kMaxAnimationFrames + 1), "more than 10000 frames"},
        {"WebP pixels run short", ReadWebp, shortPixels, "frame 1 is damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameCollector sink;
        const QString name = QStringLiteral("%1.bin").arg(QString::fromLatin1(c.what));
        try {
            c.read(c.data, name, sink);
            ADD_FAILURE() << "read without an error";
        } catch (const TError& error) {
            EXPECT_TRUE(error.Text().startsWith(name + QStringLiteral(": "))) << error.Text().toStdString();
            EXPECT_TRUE(error.Text().contains(QLatin1String(c.reason))) << error.Text().toStdString();
        }
    }
    // The repeated frames make a readable file: the refusal above is the count's alone.
    FrameCollector sink;
    EXPECT_NO_THROW(ReadWebp(WithFrames(webp, 3), QStringLiteral("three.webp"), sink));
    EXPECT_EQ(sink.frames.size(), 3u);
}

TEST_F(AnimationReadersTest, LargeClaimsAreRefusedBeforeAnyPixelMemory)
{
    const QByteArray webp = ReadAll(DataPath(QStringLiteral("webp_dispose_background.webp")));
    const QByteArray lossless = ReadAll(DataPath(QStringLiteral("webp_still_lossless.webp")));
    ASSERT_FALSE(webp.isEmpty() || lossless.isEmpty());
    const std::vector<int> one{1};
    const struct {
        const char* what;
        Reader read;
        QByteArray data;
        const char* refusal;  // the reader's, or the sink's when the claim is within the limits
        QSize told;
    } cases[] = {
        {"GIF beyond the limits", ReadGif, GifBuilder(16384, 16384, 2).Image(0, 0, 1, 1, one).Image(0, 0, 1, 1, one).Bytes(),
         "2 frames of 16384 by 16384 pixels are too large", {0, 0}},
        {"GIF within the limits", ReadGif, GifBuilder(16384, 16384, 2).Image(0, 0, 1, 1, one).Bytes(), "refused", {16384, 16384}},
        {"WebP beyond the limits", ReadWebp, WithCanvas(webp, 16384, 16384), "4 frames of 16384 by 16384 pixels are too large",
         {0, 0}},
        {"WebP within the limits", ReadWebp, WithCanvas(webp, 8192, 8192), "refused", {8192, 8192}},
        // libwebp decodes a lossless image whole before handing it over: a second canvas.
        {"WebP frame decoded beside its canvas", ReadWebp, LosslessClaiming(lossless, 16384, 16384),
         "frame 1 of 16384 by 16384 pixels takes 1024 MB to decode beside the canvas of 16384 by 16384 pixels, more "
         "than the 1024 MB an animation may take",
         {0, 0}},
        {"WebP frame decoded beside a smaller canvas", ReadWebp, LosslessClaiming(lossless, 8192, 8192), "refused",
         {8192, 8192}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A canvas of these sizes takes 256 MB or more.
        EXPECT_TRUE(WithinMemory(64, [&c] {
            RefusingSink sink;
            try {
                c.read(c.data, QStringLiteral("claim"), sink);
            } catch (const TError& error) {
                return error.Text().endsWith(QLatin1String(c.refusal)) &&
                       QSize(sink.info.Width, sink.info.Height) == c.told;
            }
            return false;
        }));
    }
}
