// Every input a fuzz target found a fault with in an image reader, kept under
// fuzz/regressions/<target>, read again by the same reader with its outcome checked.
#include "image/Animation.h"
#include "support/TestEnv.h"

#include <QtEndian>

#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <vector>

// A fuzz finding: 64 frames each covering a canvas of 2048 by 2048 pixels, blended and
// disposed by turns, 1 GiB of frames in all and so within every limit; once slow, as every
// pixel was converted on its own. It reads whole, and every frame is what libwebp's own
// animation decoder composes.
TEST(FuzzRegressions, Slow64Frames2048WebpReadsWholeAsLibwebpComposesIt)
{
    const QByteArray data = ReadAll(QStringLiteral(ZUVORA_FUZZ_REGRESSIONS "/animation_readers/slow_64_frames_2048.webp"));
    ASSERT_FALSE(data.isEmpty());
    if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        GTEST_SKIP() << "libwebp's BGRA bytes are a QRgb only on a little-endian machine";
    WebPAnimDecoderOptions options;
    ASSERT_TRUE(WebPAnimDecoderOptionsInit(&options));
    options.color_mode = MODE_BGRA;
    const WebPData bytes{reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())};
    const std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> reference(WebPAnimDecoderNew(&bytes, &options),
                                                                                 WebPAnimDecoderDelete);
    ASSERT_TRUE(reference);

    // Compares each frame as it comes: all of them kept would take 1 GiB.
    class Comparing : public TAnimationSink {
    public:
        explicit Comparing(WebPAnimDecoder* decoder) : decoder_(decoder) {}
        void Begin(const TAnimationInfo& begun) override { info = begun; }
        void Frame(const QImage& canvas, int delayMs) override
        {
            std::uint8_t* pixels = nullptr;
            int timestamp = 0;
            ASSERT_TRUE(WebPAnimDecoderGetNext(decoder_, &pixels, &timestamp)) << frames;
            ASSERT_EQ(canvas.size(), QSize(2048, 2048));
            for (int y = 0; y < canvas.height(); ++y) {
                const std::size_t bytes = std::size_t{2048} * 4;
                if (std::memcmp(canvas.constScanLine(y), pixels + y * bytes, bytes) != 0)
                    mismatched = true;
            }
            delays.push_back(delayMs);
            ++frames;
        }
        TAnimationInfo info;
        int frames = 0;
        bool mismatched = false;
        std::vector<int> delays;

    private:
        WebPAnimDecoder* decoder_;
    } sink(reference.get());
    ReadWebp(data, QStringLiteral("slow_64_frames_2048.webp"), sink);
    EXPECT_EQ(QSize(sink.info.Width, sink.info.Height), QSize(2048, 2048));
    EXPECT_EQ(sink.info.FrameCount, 64);
    EXPECT_EQ(sink.frames, 64);
    EXPECT_FALSE(sink.mismatched);
    EXPECT_EQ(sink.delays, std::vector<int>(64, 10));
}
