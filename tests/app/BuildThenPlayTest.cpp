// A package the packer builds, played by the engine as built.
#include "image/ImageDecoders.h"
#include "packer/PackageBuildFixture.h"
#include "packer/PreviewDecoder.h"
#include "player/PlaybackEngine.h"

#include <QPainter>

#include <string>
#include <vector>

namespace {

// One row of pixels, each its own palette entry, so that a case lists colour and result side by side.
QImage PaletteRow(const QList<QRgb>& colours)
{
    QImage image(static_cast<int>(colours.size()), 1, QImage::Format_Indexed8);
    image.setColorTable(colours);
    for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, 0, static_cast<uint>(x));
    return image;
}

QImage ArgbRow(const QList<QRgb>& colours, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(static_cast<int>(colours.size()), 1, format);
    for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, 0, colours[x]);
    return image;
}

}  // namespace

TEST_F(PackageBuildTest, SheetDrawingRulesFollowEachFramesTransparency)
{
    const QRgb white = qRgb(255, 255, 255);
    const QRgb keptWhite = qRgb(254, 254, 254);
    // Each case: a frame file, and per pixel what the sheet holds.
    struct Case {
        const char* name;
        QImage image;
        const char* format;
        QList<QRgb> sheet;
    } cases[] = {
        // Less than half opaque is see-through; the rest keeps its colour unblended; kept
        // white stays visible.
        {"alpha.png",
         ArgbRow({qRgba(10, 20, 30, 0), qRgba(10, 20, 30, 127), qRgba(10, 20, 30, 128), qRgba(10, 20, 30, 255),
                  qRgba(255, 255, 255, 255), qRgba(255, 255, 255, 0)}),
         "PNG", {white, white, qRgb(10, 20, 30), qRgb(10, 20, 30), keptWhite, white}},
        {"partial-palette.png", PaletteRow({qRgba(255, 0, 0, 0), qRgb(0, 0, 255), qRgba(0, 255, 0, 100), qRgba(255, 255, 255, 200)}),
         "PNG", {white, qRgb(0, 0, 255), white, keptWhite}},
        {"one-colour.png", PaletteRow({qRgba(255, 0, 0, 0), white, qRgb(0, 0, 255)}), "PNG", {white, keptWhite, qRgb(0, 0, 255)}},
        // Without transparency, white is the format's see-through colour, as it always was.
        {"opaque.png", ArgbRow({white, qRgb(1, 2, 3)}, QImage::Format_RGB32), "PNG", {white, qRgb(1, 2, 3)}},
        {"plain.bmp", ArgbRow({white, qRgb(1, 2, 3)}, QImage::Format_RGB32), "BMP", {white, qRgb(1, 2, 3)}},
    };
    QStringList frames;
    for (const Case& c : cases)
        frames.append(Save(QString::fromLatin1(c.name), c.image, c.format));
    frames.append(Save("photo.jpg", Pattern(8, 8, 6), "JPEG"));
    ASSERT_TRUE(Build({{"A", frames, {}}}, Path("rules")));
    const Played played = Play(Path(QStringLiteral("rules.zvk")));
    for (std::size_t f = 0; f < std::size(cases); ++f) {
        const QImage frame = played.Frame(0, static_cast<int>(f));
        QList<QRgb> sheet;
        for (int x = 0; x < frame.width(); ++x)
            sheet.append(frame.pixel(x, 0) | 0xFF000000u);
        EXPECT_EQ(sheet, cases[f].sheet) << cases[f].name;
    }
    const int jpeg = static_cast<int>(std::size(cases));
    EXPECT_EQ(played.Frame(0, jpeg), DecodeImage(frames[jpeg], "JPEG", nullptr, kMaxSheetBytes).convertToFormat(QImage::Format_RGB32));

    // The packer's preview shows what the pet will: drawn over white, each frame is its
    // rectangle of the sheet, and it is clear exactly where the sheet is white.
    for (int f = 0; f < frames.size(); ++f) {
        const QImage preview = TPreviewDecoder::Decode(frames[f]).Image;
        QImage overWhite(preview.size(), QImage::Format_RGB32);
        overWhite.fill(Qt::white);
        QPainter(&overWhite).drawImage(0, 0, preview);
        const QImage sheetFrame = played.Frame(0, f);
        EXPECT_EQ(overWhite, sheetFrame) << f;
        int mismatches = 0;
        for (int y = 0; y < sheetFrame.height(); ++y)
            for (int x = 0; x < sheetFrame.width(); ++x)
                mismatches += (qAlpha(preview.pixel(x, y)) == 0) != (sheetFrame.pixel(x, y) == qRgb(255, 255, 255));
        EXPECT_EQ(mismatches, 0) << f;
    }

    // The engine shows exactly the rectangles of the manifest.
    TPlaybackState state;
    struct Recorder : FrameTarget {
        std::vector<std::string> texts;
        void ShowFrame(const TFrame& frame, int) override
        {
            char text[41];
            FormatFrameRequest(frame, text);
            texts.emplace_back(text);
        }
    } recorder;
    TPlaybackEngine engine(state, &played.zvk, {});
    while (recorder.texts.size() < 4 && engine.Step(engine.Due(), recorder) != TPause::Ended) {
    }
    ASSERT_EQ(recorder.texts.size(), 4u);
    for (std::size_t f = 0; f < 4; ++f) {
        char text[41];
        FormatFrameRequest(played.zvk.Actions[0].Frames[f], text);
        EXPECT_EQ(recorder.texts[f], std::string(text));
    }
}
