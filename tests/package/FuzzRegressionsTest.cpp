// Every input the fuzz targets found a fault with, kept under fuzz/regressions/<target>,
// goes through the same code again and must now be handled within bounds. (The fuzz runs
// of the test command replay them too, under the fuzzers' allocation limit.)
#include "app/LibraryFile.h"
#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "support/TestEnv.h"

#include <QDir>

namespace {

QStringList Findings(const QString& target)
{
    const QDir folder(QStringLiteral(ZUVORA_FUZZ_REGRESSIONS "/") + target);
    QStringList files;
    for (const QString& name : folder.entryList(QDir::Files))
        files.append(folder.filePath(name));
    return files;
}

}  // namespace

TEST(FuzzRegressions, SpriteSheetsClaimingHugeChunksAreRefusedInLittleMemory)
{
    const QStringList files = Findings(QStringLiteral("sprite_sheet"));
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

TEST(FuzzRegressions, LibraryEntriesThatNameNoFileAreNotRows)
{
    const QStringList files = Findings(QStringLiteral("library"));
    ASSERT_FALSE(files.isEmpty());
    for (const QString& file : files) {
        QList<TLibraryRow> rows;
        EXPECT_TRUE(ReadLibrary(file, rows).has_value()) << file.toStdString();
        for (const TLibraryRow& row : rows)
            EXPECT_FALSE(row.Path.isEmpty()) << file.toStdString();
    }
}
