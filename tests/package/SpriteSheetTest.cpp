#include "common/Error.h"
#include "package/SpriteSheet.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

class SpriteSheetTest : public TempDirTest {};

TEST_F(SpriteSheetTest, DecodesThePngSuiteAndRejectsItsCorruptFiles)
{
    const QString folder = TestDataFolder();
    ASSERT_FALSE(folder.isEmpty()) << "conformance data not found: " ZUVORA_TESTDATA;
    QFile table(QDir(folder).filePath(QStringLiteral("pngsuite/expected-libpng.tsv")));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly | QIODevice::Text));
    QTextStream lines(&table);
    lines.readLine();  // header
    int decoded = 0;
    int rejected = 0;
    while (!lines.atEnd()) {
        const QStringList row = lines.readLine().split(u'\t');
        ASSERT_GE(row.size(), 11);
        const QString path = QDir(folder).filePath(QStringLiteral("pngsuite/") + row[0]);
        if (row[1] == u"OK") {
            const QImage image = DecodePng(path);
            EXPECT_EQ(image.width(), row[2].toInt()) << row[0].toStdString();
            EXPECT_EQ(image.height(), row[3].toInt()) << row[0].toStdString();
            EXPECT_EQ(AlphaCounts(image), std::make_pair(row[8].toInt(), row[9].toInt())) << row[0].toStdString();
            // An interlaced image decodes to exactly the pixels of its plain twin.
            if (row[0].startsWith(QStringLiteral("basi"))) {
                const QString twin = QDir(folder).filePath(QStringLiteral("pngsuite/basn") + row[0].mid(4));
                EXPECT_EQ(image, DecodePng(twin)) << row[0].toStdString();
            }
            ++decoded;
        } else {
            EXPECT_THROW(DecodePng(path), TError) << row[0].toStdString();
            ++rejected;
        }
    }
    EXPECT_EQ(decoded, 161);
    EXPECT_EQ(rejected, 14);
}

TEST_F(SpriteSheetTest, SavedSheetsAreRgbWithWhiteTransparentAndReadBackExactly)
{
    QImage sheet(3, 4, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    sheet.setPixel(0, 0, qRgb(1, 2, 3));
    sheet.setPixel(2, 3, qRgb(254, 255, 255));
    sheet.setPixel(1, 2, qRgb(0, 0, 0));
    const QString path = Path(QStringLiteral("zvk.png"));
    SaveSpriteSheet(sheet, path);

    const QByteArray bytes = ReadAll(path);
    EXPECT_EQ(static_cast<unsigned char>(bytes[25]), 2) << "colour type RGB";
    EXPECT_EQ(static_cast<unsigned char>(bytes[24]), 8) << "8 bits per sample";
    EXPECT_TRUE(bytes.contains(QByteArray("tRNS") + QByteArray("\x00\xff\x00\xff\x00\xff", 6)));

    // The player sees every colour, white included, as stored.
    EXPECT_EQ(LoadSpriteSheet(path), sheet);
    // Other readers see white as transparent and everything else opaque.
    const QImage withAlpha = DecodePng(path);
    EXPECT_EQ(qAlpha(withAlpha.pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(withAlpha.pixel(2, 3)), 255);
}

TEST_F(SpriteSheetTest, TheSeeThroughRegionOfAFrameIsExactlyItsTransparentPixels)
{
    // Equal rows (one band), a checker, a blank row and rows of runs touching the edges.
    QImage sheet(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            const bool white = y < 10 ? (x / 7) % 2 == 0 : y < 20 ? (x + y) % 2 == 0 : y == 20 || x < y - 15 || x > 45 - y;
            sheet.setPixel(x, y, white ? qRgb(255, 255, 255) : qRgb(x * 6, y * 8, 255));
        }
    }
    const QString path = Path(QStringLiteral("zvk.png"));
    SaveSpriteSheet(sheet, path);
    QImage clear;
    EXPECT_EQ(LoadSpriteSheet(path, &clear), sheet);
    ASSERT_EQ(clear.size(), sheet.size());

    for (const QRect frame : {sheet.rect(), QRect(3, 5, 20, 20), QRect(30, 25, 16, 16), QRect(-4, -4, 8, 8)}) {
        const QRegion region = ClearRegion(clear, frame, 1000).value_or(QRegion(-1, -1, 1, 1));
        int mismatches = 0;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                const QPoint onSheet = frame.topLeft() + QPoint(x, y);
                const bool white = sheet.rect().contains(onSheet) && sheet.pixel(onSheet) == qRgb(255, 255, 255);
                mismatches += region.contains(QPoint(x, y)) != white;
            }
        }
        EXPECT_EQ(mismatches, 0) << frame.x() << "," << frame.y();
    }
    EXPECT_EQ(ClearRegion(clear, QRect(50, 50, 10, 10), 0), QRegion());
    // The checker rows alone take 200 rectangles.
    EXPECT_EQ(ClearRegion(clear, QRect(0, 10, 40, 10), 199), std::nullopt);

    // A sheet with no transparent colour has nothing see-through, white or not; one with an
    // alpha channel is see-through where alpha is 0.
    sheet.save(Path(QStringLiteral("plain.png")));
    LoadSpriteSheet(Path(QStringLiteral("plain.png")), &clear);
    EXPECT_TRUE(clear.isNull());
    QImage alpha(4, 1, QImage::Format_ARGB32);
    alpha.fill(qRgba(10, 20, 30, 255));
    alpha.setPixel(2, 0, qRgba(10, 20, 30, 0));
    alpha.save(Path(QStringLiteral("alpha.png")));
    LoadSpriteSheet(Path(QStringLiteral("alpha.png")), &clear);
    EXPECT_EQ(ClearRegion(clear, alpha.rect(), 10), QRegion(2, 0, 1, 1));
}

TEST_F(SpriteSheetTest, AnEightByteSheetHoldsNoImage)
{
    SaveSpriteSheet(QImage(), Path(QStringLiteral("empty.png")));
    EXPECT_EQ(ReadAll(Path(QStringLiteral("empty.png"))), QByteArray("\x89PNG\r\n\x1a\n"));
    EXPECT_TRUE(LoadSpriteSheet(Path(QStringLiteral("empty.png"))).isNull());
    WriteAll(Path(QStringLiteral("zero.png")), {});
    EXPECT_TRUE(LoadSpriteSheet(Path(QStringLiteral("zero.png"))).isNull());
    // Anything at all of 8 bytes or less is not looked at.
    WriteAll(Path(QStringLiteral("junk.png")), "garbage!");
    EXPECT_TRUE(LoadSpriteSheet(Path(QStringLiteral("junk.png"))).isNull());
}

TEST_F(SpriteSheetTest, MissingDamagedAndOversizedSheetsAreRefused)
{
    EXPECT_THROW(LoadSpriteSheet(Path(QStringLiteral("absent.png"))), TError);
    WriteAll(Path(QStringLiteral("text.png")), "This is not a PNG file at all.");
    EXPECT_THROW(LoadSpriteSheet(Path(QStringLiteral("text.png"))), TError);

    // A valid sheet cut short inside its image data.
    QImage sheet(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            sheet.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 0xFF));
    SaveSpriteSheet(sheet, Path(QStringLiteral("full.png")));
    const QByteArray full = ReadAll(Path(QStringLiteral("full.png")));
    WriteAll(Path(QStringLiteral("cut.png")), full.left(full.size() / 2));
    EXPECT_THROW(LoadSpriteSheet(Path(QStringLiteral("cut.png"))), TError);

    // A header that claims 20000 by 20000 pixels (1.6 GB decoded) is refused before any
    // pixel memory is taken.
    WriteAll(Path(QStringLiteral("huge.png")), HeaderOnlyPng(20000, 20000));
    try {
        LoadSpriteSheet(Path(QStringLiteral("huge.png")));
        ADD_FAILURE() << "an oversized sheet was accepted";
    } catch (const TError& error) {
        EXPECT_TRUE(error.Text().contains(QStringLiteral("too large"))) << error.Text().toStdString();
    }
}
