#include "common/Error.h"
#include "image/ImageDecoders.h"
#include "package/PackageLayout.h"
#include "packer/FrameImport.h"
#include "packer/ProjectFile.h"
#include "packer/SheetGridDialog.h"
#include "support/TestEnv.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>

namespace {

// Every entry of a folder, hidden ones too, so that anything left behind shows.
QStringList Listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QImage Decoded(const QString& path, TImageInfo* info = nullptr)
{
    return DecodeImage(path, QStringLiteral("PNG"), info, std::int64_t{1} << 30);
}

// Whether two ARGB images show the same, pixels clear in both whatever their colour.
bool SameSight(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (p != q && (qAlpha(p) != 0 || qAlpha(q) != 0))
                return false;
        }
    return true;
}

}  // namespace

class FrameImportTest : public TempDirTest {
protected:
    QString Project() const { return Path(QStringLiteral("pet.zvp")); }

    // One opaque cell: what an import of it writes is decided by the name and folder alone.
    static TSheetImage OneCell()
    {
        TSheetImage sheet{QImage(8, 8, QImage::Format_ARGB32), TTransparency::None};
        sheet.Image.fill(qRgb(10, 20, 30));
        return sheet;
    }
    static constexpr TSheetGrid kWhole{TSheetGrid::Kind::Count, 1, 1, {}};
};

// Imported, an animation keeps its length to within one frame time, and each frame its start
// to within half of one.
TEST(AnimationTimingTest, TheFrameTimeComesFromTheDelaysAndEveryFrameStartsWhereItShould)
{
    const QList<int> slowest(10000, 65535000);  // an APNG's longest delays, as many as a file may hold
    const struct {
        QList<int> delays;
        std::optional<int> given;
        int frameMs;
        QList<int> entries;  // empty: only the totals are checked
        std::int64_t total;
    } cases[] = {
        {QList<int>(16, 120), {}, 120, QList<int>(16, 1), 16},
        {QList<int>(8, 100), {}, 100, QList<int>(8, 1), 8},
        {{30, 80, 130, 500}, {}, 30, {1, 3, 4, 17}, 25},  // no divisor of 20 ms: the shortest of the commonest
        {{50, 70, 70}, {}, 70, {1, 1, 1}, 3},
        {QList<int>(8, 10), {}, 20, {1, 0, 1, 0, 1, 0, 1, 0}, 4},
        {{20, 80, 130, 500}, 80, 80, {0, 1, 2, 6}, 9},
        {{100, 0, 0, 200}, {}, 100, {1, 0, 0, 2}, 3},  // frames of no time only build the next
        {{2400}, {}, 1000, {2}, 2},
        {{5}, {}, 20, {1}, 1},
        {{0, 0, 0}, {}, 80, {1, 1, 1}, 3},  // no delay at all: one entry each
        {{40, 40}, 10, 20, {2, 2}, 4},
        {slowest, 20, 20, {}, std::int64_t{32767500000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delays.first() << " x " << c.delays.size());
        const TAnimationTiming timing = AnimationTiming(c.delays, c.given);
        EXPECT_EQ(timing.FrameMs, c.frameMs);
        ASSERT_EQ(timing.Entries.size(), c.delays.size());
        if (!c.entries.isEmpty()) {
            EXPECT_EQ(timing.Entries, c.entries);
        }
        EXPECT_EQ(timing.Total, c.total);
        std::int64_t start = 0;
        std::int64_t entry = 0;
        for (qsizetype i = 0; i < c.delays.size(); ++i) {
            if (timing.Entries[i] > 0 && start > 0) {
                EXPECT_LE(std::abs(entry * timing.FrameMs - start), timing.FrameMs / 2) << i;
            }
            start += c.delays[i];
            entry += timing.Entries[i];
        }
        EXPECT_EQ(entry, timing.Total);
        if (start > 0) {
            EXPECT_LE(std::abs(entry * timing.FrameMs - start), timing.FrameMs);
        }
    }
}

TEST(GridCellsTest, CellsInReadingOrderWithTheRemainderLeftOut)
{
    const auto count = [](int columns, int rows) { return TSheetGrid{TSheetGrid::Kind::Count, columns, rows, {}}; };
    const auto cell = [](int width, int height) { return TSheetGrid{TSheetGrid::Kind::CellSize, 1, 1, QSize(width, height)}; };
    struct Case {
        QSize image;
        TSheetGrid grid;
        qsizetype cells;
        QRect last;
    } cases[] = {
        {{64, 32}, count(4, 2), 8, {48, 16, 16, 16}},
        {{70, 33}, count(4, 2), 8, {51, 16, 17, 16}},
        {{64, 32}, cell(20, 10), 9, {40, 20, 20, 10}},
        {{100, 100}, count(100, 100), 10000, {99, 99, 1, 1}},
        {{64, 32}, cell(65, 1), 0, {}},
        {{64, 32}, count(0, 1), 0, {}},
        {{64, 32}, count(65, 1), 0, {}},
        {{16384, 16384}, cell(1, 1), 0, {}},  // far more cells than an import may make
    };
    for (const Case& c : cases) {
        const QList<QRect> cells = GridCells(c.image, c.grid);
        ASSERT_EQ(cells.size(), c.cells) << c.image.width() << "x" << c.image.height();
        if (!cells.isEmpty()) {
            EXPECT_EQ(cells.first().topLeft(), QPoint(0, 0));
            EXPECT_EQ(cells.last(), c.last);
        }
    }
}

// A count of columns or rows that does not divide the picture would slice the creatures: it
// is refused, naming the counts that fit; a cell size may leave pixels over.
TEST(GridCellsTest, ACountThatLeavesPixelsOverIsRefusedNamingTheCountsThatFit)
{
    const struct {
        QSize image;
        TSheetGrid grid;
        QString why;
    } cases[] = {
        {{128, 32}, {TSheetGrid::Kind::Count, 5, 16, {}},
         "5 columns leave 3 of the 128 pixels across over; columns that fit: 1 (128 px), 2 (64 px), 4 (32 px), 8 (16 px), "
         "16 (8 px), 32 (4 px), 64 (2 px), 128 (1 px)"},
        {{128, 30}, {TSheetGrid::Kind::Count, 4, 4, {}},
         "4 rows leave 2 of the 30 pixels down over; rows that fit: 1 (30 px), 2 (15 px), 3 (10 px), 5 (6 px), 6 (5 px), "
         "10 (3 px), 15 (2 px), 30 (1 px)"},
        {{128, 32}, {TSheetGrid::Kind::Count, 4, 2, {}}, ""},
        {{70, 33}, {TSheetGrid::Kind::CellSize, 1, 1, QSize(16, 16)}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GridLeftover(c.image, c.grid), c.why);
}

TEST_F(FrameImportTest, SpriteSheetCellsBecomeFramesBesideTheProject)
{
    // Three by two cells of 16 pixels, each its own colour; one wholly clear and one less
    // than half opaque, both see-through on the pet.
    QImage sheet(48, 32, QImage::Format_ARGB32);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column)
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    sheet.setPixel(column * 16 + x, row * 16 + y, qRgba(40 * column, 100 * row, x * 16, 255));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            sheet.setPixel(16 + x, y, qRgba(1, 2, 3, 0));
            sheet.setPixel(32 + x, 16 + y, qRgba(1, 2, 3, 100));
        }
    sheet.setPixel(0, 0, qRgba(255, 255, 255, 255));
    const QString path = Path(QStringLiteral("walk.png"));
    ASSERT_TRUE(sheet.save(path));
    EXPECT_FALSE(IsImportedImage(path));
    // A file of the folder's name already stands there: it is kept, and the frames go elsewhere.
    WriteAll(Path(QStringLiteral("walk")), "mine");

    const TSheetGrid grid{TSheetGrid::Kind::Count, 3, 2, {}};
    const QStringList frames = ImportSpriteSheet(path, Project(), grid);
    const QString folder = Path(QStringLiteral("walk-2"));
    ASSERT_EQ(frames, (QStringList{folder + "/000.png", folder + "/001.png", folder + "/002.png", folder + "/003.png"}));
    const QRect kept[] = {{0, 0, 16, 16}, {32, 0, 16, 16}, {0, 16, 16, 16}, {16, 16, 16, 16}};
    for (int i = 0; i < 4; ++i) {
        TImageInfo info;
        EXPECT_EQ(Decoded(frames[i], &info), sheet.copy(kept[i])) << i;
        EXPECT_EQ(info.Transparency, TTransparency::Partial);
    }
    EXPECT_EQ(ReadAll(Path(QStringLiteral("walk"))), QByteArray("mine"));
    EXPECT_EQ(ImportSpriteSheet(path, Project(), grid).first(), Path(QStringLiteral("walk-3/000.png")));

    // A sheet without transparency: white is its see-through colour, and its frames stay opaque.
    QImage bmp(32, 16, QImage::Format_RGB32);
    bmp.fill(Qt::white);
    bmp.setPixel(20, 5, qRgb(9, 9, 9));
    ASSERT_TRUE(bmp.save(Path(QStringLiteral("bmp.bmp")), "BMP"));
    const QStringList opaque = ImportSpriteSheet(Path(QStringLiteral("bmp.bmp")), Project(), {TSheetGrid::Kind::CellSize, 1, 1, {16, 16}});
    ASSERT_EQ(opaque.size(), 1);
    TImageInfo info;
    EXPECT_EQ(Decoded(opaque[0], &info).pixel(4, 5), qRgb(9, 9, 9));
    EXPECT_EQ(info.Transparency, TTransparency::None);
}

TEST_F(FrameImportTest, AGridIsHeldToTheSizeInTheHeaderBeforeAnyPixelIsDecoded)
{
    // Both claim 16384 by 16384 pixels, a canvas of 1 GiB: the PNG holds no pixels at all,
    // the GIF one 1 x 1 frame.
    WriteAll(Path(QStringLiteral("huge.png")), HeaderOnlyPng(16384, 16384));
    WriteAll(Path(QStringLiteral("huge.gif")), QByteArray::fromHex("474946383961" "00400040800000" "000000ffffff"  // screen, table
                                                                   "2c" "000000000100010000"  // a 1 x 1 frame
                                                                   "02024c0100" "3b"));
    const QStringList before = Listing(temp_.path());
    for (const char* file : {"huge.png", "huge.gif"}) {
        const QString path = Path(QString::fromLatin1(file));
        EXPECT_TRUE(WithinMemory(64, [&] {
            try {
                ImportSpriteSheet(path, Project(), {TSheetGrid::Kind::CellSize, 1, 1, {1, 1}});
            } catch (const TError& error) {
                return error.Text() == path + QStringLiteral(": the grid does not fit the image of 16384 by 16384 pixels, "
                                                             "or cuts more than 10000 cells");
            }
            return false;
        })) << file;
        EXPECT_EQ(Listing(temp_.path()), before) << file;
    }
}

TEST_F(FrameImportTest, AFailedImportLeavesNothingBehind)
{
    QImage clear(32, 32, QImage::Format_ARGB32);
    clear.fill(0);
    ASSERT_TRUE(clear.save(Path(QStringLiteral("clear.png"))));
    WriteAll(Path(QStringLiteral("text.gif")), "GIF89a but nothing after");
    WriteAll(Path(QStringLiteral("note.png")), "not a picture");
    // Animations of each kind cut short: frames were written before the damage showed.
    const QDir data(TestDataFolder());
    WriteAll(Path(QStringLiteral("cut.apng")), ReadAll(data.filePath(QStringLiteral("animation/apng_pillow.png"))).chopped(40));
    WriteAll(Path(QStringLiteral("cut.webp")), ReadAll(data.filePath(QStringLiteral("animation/webp_img2webp.webp"))).chopped(40));
    WriteAll(Path(QStringLiteral("cut.gif")), ReadAll(data.filePath(QStringLiteral("animation/gif_pillow.gif"))).chopped(20));
    // Whole files with more frames than the project has room for.
    QImage opaque(32, 32, QImage::Format_RGB32);
    opaque.fill(Qt::red);
    ASSERT_TRUE(opaque.save(Path(QStringLiteral("four.png"))));
    ASSERT_TRUE(QFile::copy(data.filePath(QStringLiteral("animation/gif_pillow.gif")), Path(QStringLiteral("hop.gif"))));
    const QStringList before = Listing(temp_.path());
    const TSheetGrid grid{TSheetGrid::Kind::Count, 2, 2, {}};
    const struct {
        const char* file;
        bool sheet;
        int room = kMaxPackageFrames;
    } cases[] = {{"clear.png", true},  {"note.png", true},  {"text.gif", false}, {"note.png", false},
                 {"cut.apng", false}, {"cut.webp", false}, {"cut.gif", false},  {"missing.gif", false},
                 {"four.png", true, 3}, {"hop.gif", false, 1}};
    for (const auto& c : cases) {
        const QString path = Path(QString::fromLatin1(c.file));
        try {
            if (c.sheet)
                ImportSpriteSheet(path, Project(), grid, c.room);
            else
                ImportAnimation(path, Project(), c.room);
            ADD_FAILURE() << c.file << " was imported";
        } catch (const TError& error) {
            EXPECT_TRUE(error.Text().startsWith(path + QStringLiteral(": "))) << error.Text().toStdString();
        }
        EXPECT_EQ(Listing(temp_.path()), before) << c.file;
    }
}

TEST_F(FrameImportTest, AnimationFramesAreWholeAndRepeatedForTheirDelays)
{
    // Made by other encoders, with the frames their decoders compose; every file has the
    // delays 20, 80, 130 and 500 ms: 37 entries at 20 ms, or 9 at 80 ms, the first frame
    // falling between two of them.
    const struct {
        const char* file;
        bool acrossReference;  // the reference frames stand side by side, else stacked
    } cases[] = {{"gif_dispose_background.gif", false}, {"apng_pillow.png", true}, {"webp_dispose_background.webp", false}};
    const auto repeated = [](const QString& folder, const QList<int>& repeats) {
        QStringList expected;
        for (int i = 0; i < repeats.size(); ++i)
            for (int k = 0; k < repeats[i]; ++k)
                expected.append(QDir(folder).filePath(QStringLiteral("00%1.png").arg(i)));
        return expected;
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.file);
        const QString source = Path(name);
        ASSERT_TRUE(QFile::copy(QDir(TestDataFolder()).filePath(QStringLiteral("animation/") + name), source)) << c.file;
        // An animated PNG is told by its content, whatever its name.
        EXPECT_TRUE(IsImportedImage(source)) << c.file;
        try {
            ImportAnimation(source, Project(), 36);
            ADD_FAILURE() << c.file << " was imported into too little room";
        } catch (const TError& error) {
            EXPECT_EQ(error.Text(), source + QStringLiteral(": its frames would take 37 entries of the frame list at 20 ms "
                                                            "a frame, but the project has room for 36 more of the 50000 "
                                                            "frames it may hold"));
        }
        const TImportedAnimation imported = ImportAnimation(source, Project(), 37);
        const QString folder = Path(QFileInfo(name).completeBaseName());
        ASSERT_EQ(Listing(folder), (QStringList{"000.png", "001.png", "002.png", "003.png"})) << c.file;
        EXPECT_EQ(imported.FrameMs, 20);
        EXPECT_EQ(imported.Entries, repeated(folder, {1, 4, 7, 25})) << c.file;
        const QImage reference(QDir(TestDataFolder()).filePath(QStringLiteral("animation/%1.frames.png").arg(name)));
        for (int i = 0; i < 4; ++i) {
            const QImage frame = Decoded(QDir(folder).filePath(QStringLiteral("00%1.png").arg(i)));
            const QPoint at = c.acrossReference ? QPoint(i * frame.width(), 0) : QPoint(0, i * frame.height());
            EXPECT_TRUE(SameSight(frame, reference.copy(QRect(at, frame.size())).convertToFormat(QImage::Format_ARGB32)))
                << c.file << " frame " << i;
        }
        // At the pet's 80 ms the first frame is left out, its file too.
        const TImportedAnimation paced = ImportAnimation(source, Project(), kMaxPackageFrames, {}, 80);
        EXPECT_EQ(paced.FrameMs, 80);
        EXPECT_EQ(paced.Entries, repeated(folder + QStringLiteral("-2"), {0, 1, 2, 6})) << c.file;
        EXPECT_EQ(Listing(folder + QStringLiteral("-2")), (QStringList{"001.png", "002.png", "003.png"})) << c.file;
    }
}

TEST_F(FrameImportTest, FrameFoldersAreNamedSoThatTheProjectKeepsTheirPaths)
{
    const struct {
        const char* source;
        const char* folder;
    } cases[] = {{"a\\b.gif", "a_b"},   {"x;y.gif", "x_y"},  {" cat .gif", "cat"},
                 {"c:at.gif", "c_at"},  {"bell\x07.gif", "bell_"}, {"  .gif", "frames"}};
    for (const auto& c : cases) {
        const QStringList frames = ImportSpriteSheet(OneCell(), Path(QString::fromLatin1(c.source)), Project(), kWhole);
        EXPECT_EQ(frames, QStringList{Path(QString::fromLatin1(c.folder) + QStringLiteral("/000.png"))}) << c.source;
        SaveProject(Project(), {{QStringLiteral("A"), frames, {}}});
        TActionModel read;
        ASSERT_EQ(LoadProject(Project(), read), std::nullopt);
        EXPECT_EQ(read.Read().first().Frames, frames) << c.source;
    }
    // A project in a folder whose path the file cannot keep takes no frames there.
    const QString odd = Path(QStringLiteral("a;b/pet.zvp"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(odd).path()));
    EXPECT_THROW(ImportSpriteSheet(OneCell(), Path(QStringLiteral("walk.png")), odd, kWhole), TError);
    EXPECT_EQ(Listing(QFileInfo(odd).path()), QStringList{});
}

TEST_F(FrameImportTest, TheFramesFolderFollowsTheUmask)
{
    const struct {
        mode_t umask;
        mode_t folder;
    } cases[] = {{077, 0700}, {022, 0755}, {002, 0775}};
    for (const auto& c : cases) {
        const mode_t old = ::umask(c.umask);
        const QStringList frames = ImportSpriteSheet(OneCell(), Path(QStringLiteral("walk.png")), Project(), kWhole);
        ::umask(old);
        struct stat folder {};
        ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(frames.first()).path()).constData(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 07777, c.folder) << std::oct << c.umask;
    }
}

TEST_F(FrameImportTest, LeftoversOfImportsCutOffGoAtTheNextImportButNothingElse)
{
    const QString dead = QStringLiteral("999999999");  // beyond any process id
    const QString self = QString::number(::getpid());
    const QString outside = Path(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    WriteAll(outside + QStringLiteral("/keep.png"), "mine");
    const struct {
        QString name;
        bool link;
        bool old;
        bool removed;
    } cases[] = {
        {QStringLiteral(".zuvora-import-Ab12Cd"), false, true, true},  // from before names carried the process
        {QStringLiteral(".zuvora-import-%1-Ab12Cd").arg(dead), false, true, true},
        {QStringLiteral(".zuvora-import-%1-Ab12Cd").arg(self), false, true, false},  // its process runs
        {QStringLiteral(".zuvora-import-%1-Ef34Gh").arg(dead), false, false, false},
        {QStringLiteral(".zuvora-import-Xy98Zw"), true, true, false},
        {QStringLiteral(".zuvora-import-other"), false, true, false},
        {QStringLiteral("zuvora-import-Ab12Cd"), false, true, false},
    };
    const timespec twoDaysAgo{std::time(nullptr) - 2 * 24 * 60 * 60, 0};
    const timespec times[2] = {twoDaysAgo, twoDaysAgo};
    for (const auto& c : cases) {
        const QString path = Path(c.name);
        if (c.link) {
            ASSERT_TRUE(QFile::link(outside, path));
        } else {
            ASSERT_TRUE(QDir().mkpath(path));
            WriteAll(path + QStringLiteral("/000.png"), "frame");
        }
        if (c.old) {
            ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
    }
    ImportSpriteSheet(OneCell(), Path(QStringLiteral("walk.png")), Project(), kWhole);
    for (const auto& c : cases)
        EXPECT_EQ(QFileInfo(Path(c.name)).isSymLink() || QFileInfo::exists(Path(c.name)), !c.removed) << c.name.toStdString();
    EXPECT_EQ(Listing(outside), QStringList{"keep.png"});
}

TEST(SheetGridDialogTest, TheGridFollowsTheNumbersAndStrikesSeeThroughCells)
{
    // A strip of four 16-pixel cells, the third one clear.
    TSheetImage sheet{QImage(64, 16, QImage::Format_ARGB32), TTransparency::Partial};
    sheet.Image.fill(qRgba(10, 20, 30, 255));
    for (int y = 0; y < 16; ++y)
        for (int x = 32; x < 48; ++x)
            sheet.Image.setPixel(x, y, 0);
    TSheetGridDialog dialog(sheet, QStringLiteral("/pets/walk.png"));
    QPushButton* import = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    // It opens on Columns; a strip of square cells is guessed.
    dialog.show();
    EXPECT_EQ(dialog.focusWidget(), dialog.Columns());
    EXPECT_EQ(dialog.Columns()->value(), 4);
    EXPECT_EQ(dialog.Frames(), (QList<QRect>{{0, 0, 16, 16}, {16, 0, 16, 16}, {48, 0, 16, 16}}));
    EXPECT_EQ(dialog.Summary()->text(), QStringLiteral("3 frames of 16 x 16 pixels; 1 see-through cell left out"));
    const QImage before = dialog.Picture()->pixmap().toImage();

    // Columns that would slice the creatures are refused before Import.
    dialog.Columns()->setValue(3);
    EXPECT_TRUE(dialog.Summary()->text().startsWith(QStringLiteral("3 columns leave 1 of the 64 pixels across over")));
    EXPECT_FALSE(import->isEnabled());
    dialog.Columns()->setValue(4);

    dialog.BySize()->setChecked(true);
    dialog.CellWidth()->setValue(32);
    EXPECT_EQ(dialog.Grid().By, TSheetGrid::Kind::CellSize);
    EXPECT_EQ(dialog.Frames(), (QList<QRect>{{0, 0, 32, 16}, {32, 0, 32, 16}}));
    EXPECT_NE(dialog.Picture()->pixmap().toImage(), before);
    EXPECT_TRUE(import->isEnabled());

    // Only clear cells: nothing to import.
    sheet.Image.fill(0);
    TSheetGridDialog clear(sheet, QStringLiteral("/pets/none.png"));
    EXPECT_TRUE(clear.Frames().isEmpty());
    EXPECT_FALSE(clear.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
}
