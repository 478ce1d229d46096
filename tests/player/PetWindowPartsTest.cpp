#include "common/Settings.h"
#include "package/PackageCache.h"
#include "player/Desktop.h"
#include "player/PetDrag.h"
#include "player/PetMemory.h"
#include "player/Placement.h"
#include "player/PlaybackEngine.h"
#include "player/ShapeCache.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace {

// A 1-bit image of the see-through pixels: set where `clear(x, y)`.
template <typename Clear>
QImage ClearImage(int width, int height, Clear clear)
{
    QImage image(width, height, QImage::Format_Mono);
    image.fill(0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (clear(x, y))
                image.setPixel(x, y, 1);
    return image;
}

}  // namespace

TEST(ShapeCacheTest, ShapeIsTheWindowLessTheFramesSeeThroughPixels)
{
    // Left half of the sheet clear, right half opaque; a frame straddling both.
    TShapeCache cache(ClearImage(64, 32, [](int x, int) { return x < 32; }));
    const QRegion shape = cache.Shape(QRect(24, 0, 16, 8), QSize(16, 8));
    EXPECT_EQ(shape, QRegion(8, 0, 8, 8));
    // A frame wholly clear leaves nothing of the window, but is not "no mask".
    const QRegion none = cache.Shape(QRect(0, 0, 8, 8), QSize(8, 8));
    EXPECT_FALSE(none.isEmpty());
    EXPECT_TRUE((none & QRegion(0, 0, 8, 8)).isEmpty());
    // Opaque frame, empty frame, no clear pixels at all: the window shows whole.
    EXPECT_EQ(cache.Shape(QRect(40, 0, 8, 8), QSize(8, 8)), QRegion(0, 0, 8, 8));
    EXPECT_TRUE(cache.Shape(QRect(), QSize(8, 8)).isEmpty());
    EXPECT_TRUE(TShapeCache().Shape(QRect(0, 0, 8, 8), QSize(8, 8)).isEmpty());
}

TEST(ShapeCacheTest, ShapesAreKeptWithinTheBudgetAndTooFinePatternsShowWhole)
{
    // Every other row clear: one rectangle per row of a frame.
    TShapeCache cache(ClearImage(512, 512, [](int, int y) { return y % 2 == 0; }));
    const qsizetype budget = cache.Budget();
    ASSERT_EQ(budget, 65536);
    const QRegion first = cache.Shape(QRect(0, 0, 100, 512), QSize(100, 512));
    const qsizetype kept = cache.KeptRects();
    EXPECT_EQ(kept, first.rectCount());
    EXPECT_EQ(cache.Shape(QRect(0, 0, 100, 512), QSize(100, 512)), first);
    EXPECT_EQ(cache.KeptRects(), kept);  // looked up, not worked out again
    // Frames past the budget still get their shapes, unkept.
    for (int x = 1; x < 512 && cache.KeptRects() + kept <= budget; ++x)
        cache.Shape(QRect(x, 0, 100, 512), QSize(100, 512));
    const qsizetype full = cache.KeptRects();
    EXPECT_EQ(cache.Shape(QRect(0, 1, 100, 511), QSize(100, 511)), first.translated(0, -1) & QRegion(0, 0, 100, 511));
    EXPECT_EQ(cache.KeptRects(), full);
    EXPECT_LE(full, budget);

    // A checkerboard of over a hundred thousand rectangles is not worth shaping.
    TShapeCache fine(ClearImage(1024, 1024, [](int x, int y) { return (x + y) % 2 == 0; }));
    EXPECT_TRUE(fine.Shape(QRect(0, 0, 1024, 1024), QSize(1024, 1024)).isEmpty());
}

TEST(PlacementTest, ANewPetTakesTheLowestFreeSpotClearOfPetsAndWindows)
{
    const QRect screen(0, 0, 800, 600);
    const QRect right(1920, 0, 1280, 1024);  // a second screen
    const QSize pet(64, 64);
    const struct {
        QRect area;
        QSize size;
        QList<QRect> avoid;
        QPoint expected;
        bool free;
    } cases[] = {
        {screen, pet, {}, {0, 536}, true},
        {right, pet, {}, {1920, 960}, true},
        {screen, pet, {{0, 536, 64, 64}}, {72, 536}, true},                       // the gap beside a pet
        {screen, pet, {{0, 300, 500, 300}}, {508, 536}, true},                    // a window at the bottom left
        {screen, pet, {{0, 400, 800, 200}}, {0, 328}, true},                      // across the bottom: above it
        {screen, pet, {{0, 536, 64, 64}, {80, 536, 720, 64}}, {0, 464}, true},    // a slot too narrow
        {screen, {1000, 700}, {}, {0, 0}, true},                                  // larger than the screen
        {screen, pet, {{0, 0, 800, 560}}, {0, 536}, false},                       // full: covers least
        {screen, pet, {{0, 0, 800, 600}}, {0, 536}, false},
        {screen, pet, {{INT_MAX - 10, INT_MAX - 10, 10, 10}, {-5000, 0, 10, 10}}, {0, 536}, true},
    };
    for (const auto& c : cases) {
        const TSpot spot = FreeSpot(c.area, c.size, c.avoid);
        EXPECT_EQ(spot.At, c.expected) << c.avoid.size();
        EXPECT_EQ(spot.Free, c.free) << c.avoid.size();
        EXPECT_TRUE(c.area.contains(spot.At));
        if (c.size.width() <= c.area.width() && c.size.height() <= c.area.height()) {
            EXPECT_TRUE(c.area.contains(QRect(spot.At, c.size)));
        }
    }
    // A herd in its largest number fills the screen row by row from the bottom, each clear of
    // all before it.
    QList<QRect> placed;
    for (int i = 0; i < 32; ++i) {
        const QSize size(48 + i % 4 * 9, 60);
        const TSpot spot = FreeSpot(screen, size, placed);
        const QRect place(spot.At, size);
        ASSERT_TRUE(spot.Free) << i;
        EXPECT_TRUE(screen.contains(place)) << i;
        EXPECT_TRUE(Clear(place, placed)) << i;
        placed.append(place);
    }
    EXPECT_EQ(placed[0].bottom(), screen.bottom());
    // The twelfth, 75 wide, no longer fits the bottom row; the next, narrower, does.
    EXPECT_EQ(placed[11].bottom(), screen.bottom() - 68);
    EXPECT_EQ(placed[12].bottom(), screen.bottom());
}

// The window keeps the pointer where it was held; a throw's speed is the pointer's over its
// last 100 ms, in pixels a frame of 80 ms: a rest before the fling does not slow it, and a
// pet let go at rest is not thrown.
TEST(PetDragTest, TheWindowFollowsThePointerAndAThrowTakesItsLastSpeed)
{
    const struct {
        std::vector<std::pair<qint64, QPoint>> moves;  // after the press at 0, (100,100)
        qint64 releasedAt;
        QPoint released, speed;
    } cases[] = {
        {{{40, {140, 100}}}, 80, {180, 100}, {80, 0}},
        // At rest for half a second, then 50 px right and 20 down within the last 100 ms.
        {{{500, {110, 100}}, {560, {130, 110}}}, 580, {150, 120}, {40, 16}},
        {{{40, {160, 100}}}, 900, {160, 100}, {0, 0}},
    };
    for (const auto& c : cases) {
        TPetDrag drag;
        drag.Begin({100, 100}, {90, 80}, 0);
        EXPECT_EQ(drag.Follow({100, 100}, 0), QPoint(90, 80));
        for (const auto& [at, pointer] : c.moves)
            EXPECT_EQ(drag.Follow(pointer, at), pointer - QPoint(10, 20));
        EXPECT_EQ(drag.End(c.released, c.releasedAt), c.speed);
        EXPECT_FALSE(drag.Active());
    }
}

TEST(PetMemoryTest, AWindowOffEveryScreenGoesToTheNearestPlaceOnOne)
{
    const QList<QRect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const struct {
        QPoint at;
        QSize size;
        QPoint expected;
    } cases[] = {
        {{100, 100}, {128, 128}, {100, 100}},     // wholly on the first screen
        {{1900, 100}, {128, 128}, {1920, 100}},   // across both: onto the nearer
        {{4000, 900}, {128, 128}, {3072, 896}},   // right of the second, below its bottom
        {{-300, -40}, {128, 128}, {0, 0}},
        {{50, 50}, {3000, 2000}, {0, 0}},         // larger than any screen
        {{INT_MIN, 100}, {128, 128}, {0, 100}},   // its distance to a screen is beyond the int range
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeepOnScreens(c.at, c.size, screens), c.expected) << c.at.x() << "," << c.at.y();
    EXPECT_EQ(KeepOnScreens({5000, 5000}, {10, 10}, {}), QPoint(5000, 5000));
}

// A work area that cannot hold the pet (a panel's bad claim, none at all) gives way to its
// screen's whole geometry; the others stay.
TEST(PetMemoryTest, AWorkAreaTooSmallForThePetGivesWayToItsScreen)
{
    struct Desktop : TDesktop {
        QList<QRect> WorkAreas() const override { return {{0, 0, 0, 0}, {1920, 0, 1280, 1}, {3200, 0, 800, 560}}; }
        QRect WorkAreaAt(QPoint) const override { return {}; }
        QList<QRect> ScreenGeometries() const override
        {
            return {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {3200, 0, 800, 600}};
        }
    } desktop;
    const QList<QRect> areas{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {3200, 0, 800, 560}};
    EXPECT_EQ(desktop.AreasFor({128, 128}), areas);
    EXPECT_EQ(desktop.KeepOnScreens({2000, 900}, {128, 128}), QPoint(2000, 896));
}

class KeptPetsTest : public TempDirTest {};

TEST_F(KeptPetsTest, ValuesFromADamagedFileAreHeldWithinBoundsBeforeUse)
{
    const QString pet = Path(QStringLiteral("pet.zvk"));
    const struct {
        const char* place;
        std::optional<QRect> expected;
    } cases[] = {
        {"@Rect(0 0 30000 30000)", QRect(0, 0, kMaxPetSide, kMaxPetSide)},
        {"@Rect(-2147483648 2147480000 16 24)", QRect(-kMaxPetCoordinate, kMaxPetCoordinate, 16, 24)},
        {"@Rect(-10 0 -2147483648 5)", QRect(-10, 0, kMaxPetSide, 5)},  // its width wraps past the int range
        {"@Rect(0 0 0 5)", std::nullopt},
        {"rubbish", std::nullopt},
    };
    ASSERT_TRUE(QDir().mkpath(QFileInfo(SettingsFilePath()).absolutePath()));
    for (const auto& c : cases) {
        WriteAll(SettingsFilePath(), QStringLiteral("[Pets]\n%1\\Place=%2\n").arg(PathDigest(pet), QLatin1String(c.place)).toUtf8());
        EXPECT_EQ(PetPlace(pet), c.expected) << c.place;
    }

    SetLastPets({{pet, {INT_MIN, INT_MAX}, -7, 99}, {pet, {5, 6}, 3, kPlayRandom}});
    EXPECT_EQ(LastPets(), (QList<TPetRecord>{{pet, {-kMaxPetCoordinate, kMaxPetCoordinate}, -1, kPlayRepeat},
                                             {pet, {5, 6}, 3, kPlayRandom}}));
}

TEST_F(KeptPetsTest, OnlyThePackagesPlayedMostRecentlyKeepTheirPlaces)
{
    const auto package = [this](int i) { return Path(QStringLiteral("pet%1.zvk").arg(i)); };
    {
        const TSettingsBatch batch;
        for (int i = 0; i < kMaxKeptPackages; ++i)
            SetPetPlace(package(i), {i, i, 16, 16});
    }
    SetPetScale(package(0), 2);  // played again
    SetPetPlace(package(kMaxKeptPackages), {0, 0, 16, 16});

    EXPECT_EQ(SettingGroups(QStringLiteral("Pets")).size(), kMaxKeptPackages);
    EXPECT_EQ(PetPlace(package(0)), QRect(0, 0, 16, 16));
    EXPECT_EQ(PetScale(package(0)), 2);
    EXPECT_EQ(PetPlace(package(1)), std::nullopt);
    EXPECT_EQ(PetPlace(package(kMaxKeptPackages)), QRect(0, 0, 16, 16));
}
