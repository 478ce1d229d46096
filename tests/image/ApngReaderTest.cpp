#include "common/Error.h"
#include "image/Animation.h"
#include "image/ImageDecoders.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTextStream>

#include <zlib.h>

#include <functional>
#include <initializer_list>
#include <vector>

namespace {

// Keeps every frame. It stores the canvas as handed over, sharing its pixels, so a reader
// that wrote into a canvas the sink still holds would change earlier frames.
class KeepingSink : public TAnimationSink {
public:
    TAnimationInfo info;
    int begins = 0;
    std::vector<QImage> frames;
    std::vector<int> delays;

    void Begin(const TAnimationInfo& header) override
    {
        info = header;
        ++begins;
        if (info.Width > refuseWider)
            throw TError(QStringLiteral("too wide"));
    }
    void Frame(const QImage& canvas, int delayMs) override
    {
        EXPECT_EQ(canvas.format(), QImage::Format_ARGB32);
        frames.push_back(canvas);
        delays.push_back(delayMs);
    }
    int refuseWider = kMaxCanvasSide;
};

KeepingSink Read(const QByteArray& data, const QString& name = QStringLiteral("test.png"))
{
    KeepingSink sink;
    ReadApng(data, name, sink);
    return sink;
}

// The largest channel difference, alpha included, over the pixels not clear in both.
int Difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 1000;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAlpha(p) != 0 || qAlpha(q) != 0) {
                largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            }
        }
    }
    return largest;
}

QString Hex(QRgb pixel) { return QString::number(pixel, 16); }

// ------------------------------------------------------------- building small APNGs

QByteArray Bytes(std::initializer_list<unsigned> values)
{
    QByteArray out;
    for (unsigned v : values)
        out.append(static_cast<char>(v & 0xFF));
    return out;
}

QByteArray Be32(quint32 v) { return Bytes({v >> 24, v >> 16, v >> 8, v}); }
QByteArray Header(quint32 width, quint32 height) { return Be32(width) + Be32(height) + Bytes({8, 6, 0, 0, 0}); }
QByteArray Control(quint32 frames) { return Be32(frames) + Be32(0); }

struct Fc {
    quint32 sequence, width, height, x = 0, y = 0;
    unsigned dispose = 0, blend = 0, num = 1, den = 10;
};

QByteArray FrameControl(const Fc& f)
{
    return Be32(f.sequence) + Be32(f.width) + Be32(f.height) + Be32(f.x) + Be32(f.y) +
           Bytes({f.num >> 8, f.num, f.den >> 8, f.den, f.dispose, f.blend});
}

// RGBA rows, unfiltered and compressed.
QByteArray Pixels(int width, int height, const std::function<QRgb(int x)>& colour)
{
    QByteArray raw;
    for (int y = 0; y < height; ++y) {
        raw.append('\0');
        for (int x = 0; x < width; ++x) {
            const QRgb c = colour(x);
            raw += Bytes({c >> 16, c >> 8, c, c >> 24});
        }
    }
    QByteArray out(static_cast<qsizetype>(compressBound(static_cast<uLong>(raw.size()))), '\0');
    auto size = static_cast<uLongf>(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
              static_cast<uLong>(raw.size()), 9);
    out.resize(static_cast<qsizetype>(size));
    return out;
}

QByteArray Pixels(int width, int height, QRgb colour)
{
    return Pixels(width, height, [colour](int) { return colour; });
}

struct Chunk {
    const char* type;
    QByteArray data;
};
using Chunks = std::vector<Chunk>;

QByteArray Png(const Chunks& chunks)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    for (const Chunk& c : chunks)
        out += PngChunk(c.type, c.data);
    return out;
}

const QRgb kBlueHalf = qRgba(0, 0, 255, 128);
const QRgb kRedHalf = qRgba(255, 0, 0, 128);
const QRgb kGreen = qRgba(0, 255, 0, 255);

// A 4x3 canvas of half-clear blue with a clear last column; a 2x2 half-clear red frame
// blended over its bottom right, then cleared; a green corner pixel, then restored away.
Chunks SmallApng()
{
    return {
        {"IHDR", Header(4, 3)},
        {"acTL", Control(3)},
        {"fcTL", FrameControl({0, 4, 3})},
        {"IDAT", Pixels(4, 3, [](int x) { return x < 3 ? kBlueHalf : 0; })},
        {"fcTL", FrameControl({1, 2, 2, 2, 1, 1, 1, 13, 100})},
        {"fdAT", Be32(2) + Pixels(2, 2, kRedHalf)},
        {"fcTL", FrameControl({3, 1, 1, 3, 2, 2, 0, 1, 0})},
        {"fdAT", Be32(4) + Pixels(1, 1, kGreen)},
        {"IEND", {}},
    };
}

}  // namespace

class ApngReaderTest : public ::testing::Test {
protected:
    static QString Data(const QString& relative) { return QDir(TestDataFolder()).filePath(relative); }
};

// Every frame of the files made by Pillow or written by make_apng.py, against Pillow.
TEST_F(ApngReaderTest, FramesMatchPillow)
{
    QFile list(Data(QStringLiteral("animation/apng_reference.tsv")));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly)) << "conformance data not found: " ZUVORA_TESTDATA;
    struct Expected {
        std::vector<int> delays;
        bool transparent = false;
    };
    QMap<QString, Expected> files;
    QTextStream in(&list);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(u'\t');
        if (fields.size() == 4 && !fields[0].startsWith(u'#')) {
            files[fields[0]].delays.push_back(fields[2].toInt());
            files[fields[0]].transparent = fields[3] == u"1";
        }
    }
    ASSERT_EQ(files.size(), 8);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        const QString path = Data(QStringLiteral("animation/") + it.key());
        const QImage strip = QImage(path + QStringLiteral(".frames.png")).convertToFormat(QImage::Format_ARGB32);
        const KeepingSink sink = Read(ReadAll(path), it.key());
        const auto count = static_cast<int>(it->delays.size());
        ASSERT_EQ(sink.info.FrameCount, count);
        ASSERT_EQ(sink.frames.size(), it->delays.size());
        EXPECT_EQ(QSize(sink.info.Width * count, sink.info.Height), strip.size());
        EXPECT_EQ(sink.info.Transparent, it->transparent);
        EXPECT_EQ(sink.delays, it->delays);
        // Exact: the files blend only clear or opaque pixels OVER, and their 16-bit samples
        // scale to 8 bits the same whether truncated (Pillow) or rounded (libpng).
        for (int i = 0; i < count; ++i) {
            const QImage expected = strip.copy(i * sink.info.Width, 0, sink.info.Width, sink.info.Height);
            EXPECT_EQ(Difference(sink.frames[static_cast<std::size_t>(i)], expected), 0) << "frame " << i;
        }
    }
}

// Partial alpha blended OVER, which Pillow gets wrong (it mixes alpha like a colour), and
// disposal, against values worked by hand.
TEST_F(ApngReaderTest, BlendingAndDisposalByHand)
{
    const struct {
        QRgb below, above, expected;
    } blends[] = {
        {kBlueHalf, qRgba(9, 9, 9, 255), qRgba(9, 9, 9, 255)},
        {kBlueHalf, qRgba(9, 9, 9, 0), kBlueHalf},
        {0, kRedHalf, kRedHalf},
        {kBlueHalf, kRedHalf, qRgba(170, 0, 85, 192)},
        {qRgba(0, 0, 0, 255), qRgba(200, 100, 50, 128), qRgba(100, 50, 25, 255)},
        {qRgba(0, 0, 0, 255), qRgba(255, 255, 255, 1), qRgba(1, 1, 1, 255)},
        {qRgba(255, 255, 255, 10), qRgba(0, 0, 0, 10), qRgba(125, 125, 125, 20)},
    };
    for (const auto& c : blends) {
        const KeepingSink sink = Read(Png({{"IHDR", Header(1, 1)},
                                           {"acTL", Control(2)},
                                           {"fcTL", FrameControl({0, 1, 1})},
                                           {"IDAT", Pixels(1, 1, c.below)},
                                           {"fcTL", FrameControl({1, 1, 1, 0, 0, 0, 1})},
                                           {"fdAT", Be32(2) + Pixels(1, 1, c.above)},
                                           {"IEND", {}}}));
        EXPECT_EQ(Hex(sink.frames.at(1).pixel(0, 0)), Hex(c.expected)) << Hex(c.above).toStdString() << " over "
                                                                        << Hex(c.below).toStdString();
    }

    const KeepingSink sink = Read(Png(SmallApng()));
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.delays, (std::vector<int>{100, 130, 10}));
    const QRgb b = kBlueHalf, r = kRedHalf, g = kGreen, m = qRgba(170, 0, 85, 192), o = 0;
    const std::vector<QRgb> expected[] = {
        {b, b, b, o, b, b, b, o, b, b, b, o},
        {b, b, b, o, b, b, m, r, b, b, m, r},
        {b, b, b, o, b, b, o, o, b, b, o, g},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        for (int p = 0; p < 12; ++p)
            EXPECT_EQ(Hex(sink.frames[i].pixel(p % 4, p / 4)), Hex(expected[i][static_cast<std::size_t>(p)])) << i << " " << p;
    }
}

// Without animation control before the image data, a PNG is one still frame (decoded from
// memory as the file decoder does it), and IsAnimatedPng is false.
TEST_F(ApngReaderTest, StillsAreOneFrame)
{
    for (const char* file : {"basn6a08.png", "basi3p02.png", "basn0g16.png", "tbrn2c08.png", "basi4a16.png"}) {
        SCOPED_TRACE(file);
        const QString path = Data(QStringLiteral("pngsuite/") + QLatin1String(file));
        TImageInfo info;
        const QImage still = DecodeImage(path, QStringLiteral("PNG"), &info, 1 << 20);
        const KeepingSink sink = Read(ReadAll(path));
        ASSERT_EQ(sink.frames.size(), 1u);
        EXPECT_EQ(sink.info.FrameCount, 1);
        EXPECT_EQ(sink.delays[0], 0);
        EXPECT_EQ(sink.info.Transparent, info.Transparency != TTransparency::None);
        EXPECT_EQ(Difference(sink.frames[0], still), 0);
        EXPECT_FALSE(IsAnimatedPng(ReadAll(path)));
    }

    Chunks late = SmallApng();  // animation chunks after the image data
    std::swap(late[1], late[3]);
    Chunks stray = SmallApng();  // frame controls without an animation control
    stray.erase(stray.begin() + 1);
    Chunks one = SmallApng();
    one[1].data = Control(1);
    for (const Chunks& chunks : {late, stray}) {
        const KeepingSink sink = Read(Png(chunks));
        ASSERT_EQ(sink.frames.size(), 1u);
        EXPECT_EQ(Hex(sink.frames[0].pixel(2, 2)), Hex(kBlueHalf));
    }

    const QByteArray small = Png(SmallApng());
    const struct {
        QByteArray data;
        bool animated;
    } cases[] = {
        {small, true},
        {ReadAll(Data(QStringLiteral("animation/apng_pillow.png"))), true},
        {ReadAll(Data(QStringLiteral("animation/apng_default.png"))), true},
        {Png(one), false},     {Png(late), false},  {Png(stray), false},
        {small.left(40), false},  // ends inside the animation control
        {"GIF89a", false},     {{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsAnimatedPng(c.data), c.animated) << c.data.left(60).toHex().toStdString();
}

// Every damaged file raises TError naming it; one whose structure is wrong does so before
// the sink sees anything.
TEST_F(ApngReaderTest, DamagedFilesFail)
{
    using Edit = std::function<void(Chunks&)>;
    const auto fc = [](std::size_t index, Fc f) { return Edit([=](Chunks& c) { c[index].data = FrameControl(f); }); };
    const auto sequence = [](Chunks& c, std::size_t index, quint32 number) { c[index].data.replace(0, 4, Be32(number)); };
    const struct {
        const char* what;
        Edit edit;
        const char* reason;
        bool beforeBegin = true;
    } cases[] = {
        {"sequence gap", fc(4, {2, 2, 2, 2, 1}), "sequence number 2 where 1 belongs"},
        {"sequence repeated", [&](Chunks& c) { sequence(c, 7, 2); }, "sequence number 2 where 4 belongs"},
        {"frame past the edge", fc(4, {1, 2, 2, 3, 1}), "frame 1 (2 by 2 at 3, 1) is not inside the 4 by 3 canvas"},
        {"offset wraps around", fc(4, {1, 2, 2, 0xFFFFFFFF, 1}), "is not inside"},
        {"empty frame", fc(4, {1, 0, 2, 0, 0}), "is not inside"},
        {"first frame smaller", fc(2, {0, 3, 3}), "does not cover the whole image"},
        {"fewer frames than claimed", [](Chunks& c) { c[1].data = Control(4); }, "gives 4 frames, the file has 3"},
        {"more frames than claimed", [](Chunks& c) { c[1].data = Control(2); }, "more frames than the 2"},
        {"no frames", [](Chunks& c) { c[1].data = Control(0); }, "no frames"},
        {"unknown disposal", fc(4, {1, 2, 2, 2, 1, 3}), "unknown disposal 3"},
        {"unknown blending", fc(4, {1, 2, 2, 2, 1, 0, 2}), "unknown blending 2"},
        {"frame without data",
         [&](Chunks& c) {
             c.erase(c.begin() + 5);
             sequence(c, 5, 2);
             sequence(c, 6, 3);
         },
         "frame 1 has no image data"},
        {"last frame without data", [](Chunks& c) { c.erase(c.begin() + 7); }, "frame 2 has no image data"},
        {"frame data before the image data",
         [](Chunks& c) { c = {c[0], {"acTL", Control(1)}, {"fdAT", Be32(0) + Pixels(4, 3, kGreen)}, c[3], c[8]}; },
         "frame data comes before the image data"},
        {"frame data without its control",
         [&](Chunks& c) {
             c.erase(c.begin() + 4);
             sequence(c, 4, 1);
         },
         "frame data without its frame control"},
        {"control before animation control", [](Chunks& c) { std::swap(c[1], c[2]); }, "before the animation control"},
        {"second animation control", [](Chunks& c) { c.insert(c.begin() + 1, c[1]); }, "a second animation control"},
        {"image data split", [](Chunks& c) { c.insert(c.begin() + 4, {{"tEXt", "a\0b"}, c[3]}); }, "split by other chunks"},
        {"unknown critical chunk", [](Chunks& c) { c.insert(c.begin() + 1, {"ABCD", "x"}); }, "unknown critical chunk ABCD"},
        {"no end chunk", [](Chunks& c) { c.pop_back(); }, "without its end chunk"},
        {"header not first", [](Chunks& c) { std::swap(c[0], c[1]); }, "image header does not come first"},
        {"bad colour type", [](Chunks& c) { c[0].data[9] = 5; }, "colour type 5"},
        {"palette missing", [](Chunks& c) { c[0].data[9] = 3; }, "palette is missing"},
        {"short frame control", [](Chunks& c) { c[4].data.chop(1); }, "a frame control of 25 bytes"},
        {"canvas over the limit", [](Chunks& c) { c[0].data = Header(16385, 3); }, "more than 16384 a side"},
        {"frames over the limit", [](Chunks& c) { c[1].data = Control(10001); }, "10001 frames, more than 10000"},
        {"frames times canvas over 1 GiB", [](Chunks& c) { c[0].data = Header(16384, 16384); }, "need more than 1024 MB"},
        {"frame data not deflate", [](Chunks& c) { c[5].data = Be32(2) + "not zlib data"; }, "frame 1:", false},
        {"frame data too short", [](Chunks& c) { c[5].data = Be32(2) + Pixels(2, 1, kGreen); }, "frame 1:", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Chunks chunks = SmallApng();
        c.edit(chunks);
        KeepingSink sink;
        try {
            ReadApng(Png(chunks), QStringLiteral("damaged.png"), sink);
            ADD_FAILURE() << "read without an error";
        } catch (const TError& e) {
            EXPECT_TRUE(e.Text().startsWith(u"damaged.png: ")) << e.Text().toStdString();
            EXPECT_TRUE(e.Text().contains(QLatin1String(c.reason))) << e.Text().toStdString();
        }
        EXPECT_EQ(sink.begins, c.beforeBegin ? 0 : 1);
    }

    // A flipped bit in any chunk the reader uses, and every length cut short.
    const QByteArray good = Png(SmallApng());
    for (const char* type : {"IHDR", "acTL", "fcTL", "IDAT", "fdAT"}) {
        QByteArray bad = good;
        bad[bad.indexOf(type) + 6] = static_cast<char>(bad[bad.indexOf(type) + 6] ^ 0x10);
        try {
            Read(bad, QStringLiteral("damaged.png"));
            ADD_FAILURE() << type;
        } catch (const TError& e) {
            EXPECT_EQ(e.Text(), QStringLiteral("damaged.png: chunk %1 has a bad checksum").arg(QLatin1String(type)));
        }
    }
    for (qsizetype size = 0; size < good.size(); ++size)
        EXPECT_THROW(Read(good.left(size)), TError) << size;
}

// Claims beyond the limits are refused from the chunk structure alone, costing next to no
// memory; exactly at the frame limit the file is read; the sink may refuse too.
TEST_F(ApngReaderTest, LimitsHoldBeforeAllocating)
{
    Chunks manyFrames = SmallApng();
    manyFrames[1].data = Control(10001);
    Chunks wide = SmallApng();
    wide[0].data = Header(16385, 16385);
    Chunks tooMuch = SmallApng();
    tooMuch[0].data = Header(16384, 16384);
    tooMuch[1].data = Control(10000);
    // A canvas of 1 GiB, within the limit, whose frame has no data.
    Chunks unfinished = {{"IHDR", Header(16384, 16384)}, {"acTL", Control(1)},
                               {"fcTL", FrameControl({0, 16384, 16384})}, {"IEND", {}}};
    for (const Chunks* c : {&manyFrames, &wide, &tooMuch, &unfinished}) {
        const QByteArray png = Png(*c);
        EXPECT_TRUE(WithinMemory(32, [&png] {
            KeepingSink sink;
            try {
                ReadApng(png, QStringLiteral("huge.png"), sink);
                return false;
            } catch (const TError& e) {
                return sink.begins == 0 && !e.Text().contains(u"out of memory");
            }
        }));
    }

    // 10,000 frames of one pixel, the last one green.
    Chunks most = {{"IHDR", Header(1, 1)}, {"acTL", Control(kMaxAnimationFrames)}, {"fcTL", FrameControl({0, 1, 1})},
                   {"IDAT", Pixels(1, 1, kRedHalf)}};
    const QByteArray red = Pixels(1, 1, kRedHalf);
    for (quint32 i = 1; i < kMaxAnimationFrames; ++i) {
        most.push_back({"fcTL", FrameControl({2 * i - 1, 1, 1})});
        most.push_back({"fdAT", Be32(2 * i) + (i + 1 == kMaxAnimationFrames ? Pixels(1, 1, kGreen) : red)});
    }
    most.push_back({"IEND", {}});
    const KeepingSink sink = Read(Png(most));
    ASSERT_EQ(sink.frames.size(), std::size_t{kMaxAnimationFrames});
    EXPECT_EQ(Hex(sink.frames.back().pixel(0, 0)), Hex(kGreen));

    KeepingSink refusing;
    refusing.refuseWider = 2;
    EXPECT_THROW(ReadApng(Png(SmallApng()), QStringLiteral("a.png"), refusing), TError);
    EXPECT_TRUE(refusing.frames.empty());
}
