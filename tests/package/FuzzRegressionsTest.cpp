// Every input the fuzz targets found a fault with, kept under fuzz/regressions/<target>,
// goes through the same code again and must now be handled within bounds. (The fuzz runs
// of the test command replay them too, under the fuzzers' allocation limit.)
#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "support/TestEnv.h"

TEST(FuzzRegressions, SpriteSheetsClaimingHugeChunksAreRefusedInLittleMemory)
{
    const QStringList files = FuzzFindings(QStringLiteral("sprite_sheet"));
    ASSERT_FALSE(files.isEmpty());
    for (const QString& file : files) {
        // Refused for what it is, not for the memory it asked for.
        EXPECT_TRUE(WithinMemory(128, [&file] {
            try {
                DecodeImage(file, QStringLiteral("PNG"), nullptr, std::int64_t{64} << 20);
            } catch (const TError& error) {
                return !error.Text().contains(QStringLiteral("memory"), Qt::CaseInsensitive);
            }
            return true;
        })) << file.toStdString();
    }
}
