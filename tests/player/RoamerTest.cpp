#include "player/PetMemory.h"
#include "player/Roamer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// A pet of one 20x30 frame per role given, walking 4 px a frame with its art facing right.
TZvk Pet(std::initializer_list<TRole> roles)
{
    TZvk zvk;
    for (const TRole role : roles) {
        TAction& action = zvk.Actions.emplace_back();
        action.Index = static_cast<int>(zvk.Actions.size()) - 1;
        action.Name = RoleName(role);
        action.Frames.push_back({0, 0, 0, 30, 20});
        action.Motion.Role = role;
        if (role == TRole::Walk)
            action.Motion.Move = TMove{4, 0};
        if (role == TRole::Climb)
            action.Motion.Move = TMove{0, -6};
    }
    return zvk;
}

const TZvk kFullPet = Pet({TRole::Idle, TRole::Walk, TRole::Sit, TRole::Fall, TRole::Land, TRole::Drag, TRole::Climb});

TRoamer::Drawer Seeded(std::mt19937& generator)
{
    return [&generator](std::int32_t last) { return std::uniform_int_distribution<std::int32_t>(0, last)(generator); };
}

QRect Window(const TRoamStep& step) { return QRect(step.TopLeft, QSize(20, 30)); }

}  // namespace

// Whatever the seed, the screens and the place it starts from, a roaming pet's window lies
// wholly on one screen, and it comes down to a floor.
TEST(Roamer, StaysOnAScreenAndComesDownWhateverTheLayout)
{
    const QList<QList<QRect>> layouts{
        {QRect(0, 0, 1920, 1080)},
        {QRect(0, 0, 1280, 1024), QRect(1280, 200, 800, 600)},  // side by side, different sizes
        {QRect(0, 0, 640, 480), QRect(0, 480, 1024, 768)},       // stacked
        {QRect(-800, 0, 800, 600), QRect(0, 0, 25, 40)},         // one hardly larger than the pet
    };
    for (int seed = 0; seed < 40; ++seed) {
        for (const QList<QRect>& screens : layouts) {
            std::mt19937 generator(static_cast<std::uint32_t>(seed));
            TRoamer roamer(kFullPet, Seeded(generator));
            const QRect first = screens[seed % screens.size()];
            roamer.PlaceFoot(QPoint(first.left() + seed * 37 % first.width(), first.top() + 31));
            roamer.SetScreens(screens);
            bool landed = false;
            for (int i = 0; i < 600; ++i) {
                const TRoamStep step = roamer.Step();
                ASSERT_NE(step.Frame, nullptr);
                const bool onOne = std::any_of(screens.begin(), screens.end(),
                                               [&](const QRect& area) { return area.contains(Window(step)); });
                ASSERT_TRUE(onOne) << "seed " << seed << " step " << i << " at " << step.TopLeft.x() << ","
                                   << step.TopLeft.y();
                landed = landed || step.State == TRole::Land;
            }
            EXPECT_TRUE(landed) << "seed " << seed;
        }
    }
}

// Whatever the pet's size against its screen's, it comes down onto the screen's floor and
// stands there, its window no larger than a pet window may be and its foot over the screen.
TEST(Roamer, APetLargerThanItsScreenStandsOnTheFloor)
{
    struct Case {
        QRect screen;
        int width, height, scale;
    };
    const Case cases[] = {
        {QRect(0, 0, 1920, 1080), 30, 1100, 4},  // taller than a pet window may be
        {QRect(0, 0, 100, 600), 250, 30, 1},     // more than twice as wide as its screen
        {QRect(0, 0, 1, 1), 20, 30, 1},          // a screen of one pixel
    };
    for (const Case& c : cases) {
        TZvk pet = Pet({TRole::Walk, TRole::Fall});
        for (TAction& action : pet.Actions) {
            action.Frames[0].Width = c.width;
            action.Frames[0].Height = c.height;
        }
        std::mt19937 generator(3);
        TRoamer roamer(pet, Seeded(generator));
        roamer.SetScale(c.scale);
        roamer.SetScreens({c.screen});
        roamer.PlaceFoot(c.screen.center());
        TRoamStep step;
        for (int i = 0; i < 200; ++i)
            step = roamer.Step();
        const int height = std::min(c.height * c.scale, kMaxPetSide);
        EXPECT_NE(step.State, TRole::Fall) << c.width;
        EXPECT_EQ(step.TopLeft.y() + height, c.screen.bottom() + 1) << c.width;
        EXPECT_TRUE(roamer.Foot().x() >= c.screen.left() && roamer.Foot().x() <= c.screen.right()) << c.width;
    }
}

// A fall speeds up by the gravity up to its terminal speed and ends with the foot on the
// floor (a window's top first, then the screen's bottom once that window is gone); a walk
// moves by its Move and turns round at the side.
TEST(Roamer, FallsOntoFloorsAndWalksToTheSide)
{
    std::mt19937 generator(7);
    const TZvk pet = Pet({TRole::Walk, TRole::Fall, TRole::Land});
    TRoamer roamer(pet, Seeded(generator));
    roamer.SetScreens({QRect(0, 0, 200, 1000)});
    roamer.SetLedges({TLedge{500, 50, 150}});
    roamer.PlaceFoot(QPoint(100, 30));
    std::vector<int> tops;
    TRoamStep step;
    while ((step = roamer.Step()).State == TRole::Fall)
        tops.push_back(step.TopLeft.y());
    EXPECT_EQ(step.State, TRole::Land);
    EXPECT_EQ(roamer.Foot(), QPoint(100, 500));
    ASSERT_GE(tops.size(), 3u);
    EXPECT_EQ(tops[1] - tops[0], 4);
    EXPECT_EQ(tops[2] - tops[1], 6);

    roamer.SetLedges({});
    while ((step = roamer.Step()).State != TRole::Land)
        ASSERT_LT(roamer.Foot().y(), 1001);
    EXPECT_EQ(roamer.Foot().y(), 1000);

    // Only walking is left: 4 px a frame, turning at each side of the 200 px screen.
    int last = roamer.Foot().x();
    bool turned = false;
    for (int i = 0; i < 200; ++i) {
        step = roamer.Step();
        const int x = roamer.Foot().x();
        ASSERT_EQ(step.State, TRole::Walk);
        EXPECT_TRUE(std::abs(x - last) == 4 || x == 10 || x == 190) << x;
        turned = turned || x == 10 || x == 190;
        last = x;
    }
    EXPECT_TRUE(turned);
}

// Held, the pet plays its drag action where the person holds it; let go, it flies with the
// throw's speed, bounces off the side and lands.
TEST(Roamer, HeldItDanglesAndThrownItFliesBouncesAndLands)
{
    std::mt19937 generator(1);
    TRoamer roamer(kFullPet, Seeded(generator));
    roamer.SetScreens({QRect(0, 0, 400, 300)});
    roamer.PlaceFoot(QPoint(200, 300));
    roamer.Hold(QPoint(300, 100));
    EXPECT_EQ(roamer.Step().State, TRole::Drag);
    EXPECT_EQ(roamer.Foot(), QPoint(300, 100));
    roamer.Release(QPoint(500, -10));  // capped
    TRoamStep step = roamer.Step();
    EXPECT_EQ(step.State, TRole::Fall);
    EXPECT_EQ(roamer.Foot().x(), 360);  // 60 px a frame at most
    step = roamer.Step();
    EXPECT_EQ(roamer.Foot().x(), 390);  // against the right side
    step = roamer.Step();
    EXPECT_EQ(roamer.Foot().x(), 360);  // and back at half the speed
    for (int i = 0; i < 100 && step.State == TRole::Fall; ++i)
        step = roamer.Step();
    EXPECT_EQ(step.State, TRole::Land);
    EXPECT_EQ(roamer.Foot().y(), 300);
}

TEST(Roamer, OnlyAPackageWithAWalkingActionRoams)
{
    EXPECT_TRUE(TRoamer::CanRoam(kFullPet));
    EXPECT_FALSE(TRoamer::CanRoam(Pet({TRole::Idle, TRole::Fall})));
    TZvk noFrames = Pet({TRole::Walk});
    noFrames.Actions[0].Frames.clear();
    EXPECT_FALSE(TRoamer::CanRoam(noFrames));
    TZvk menuOnly = Pet({TRole::Walk});
    menuOnly.Actions[0].Motion.Weight = 0;
    EXPECT_FALSE(TRoamer::CanRoam(menuOnly));
}

// A window's top edge is a ledge where no window above it in the stack covers that row.
TEST(Roamer, LedgesAreTheTopEdgesNoWindowAboveCovers)
{
    const QList<QRect> stack{QRect(100, 300, 400, 200),  // bottom
                             QRect(200, 250, 100, 100),  // hides 200..299 of the first's edge
                             QRect(0, 0, 50, 50),        // elsewhere
                             QRect(250, 200, 300, 60)};  // hides 250..299 of the second's
    EXPECT_EQ(VisibleTops(stack), (QList<TLedge>{{300, 100, 199}, {300, 300, 499}, {250, 200, 249}, {0, 0, 49},
                                                 {200, 250, 549}}));
    EXPECT_TRUE(VisibleTops({}).isEmpty());
}

// The same as asking every column of every edge whether a window above covers it.
TEST(Roamer, LedgesAreThoseOfAColumnByColumnLook)
{
    const auto reference = [](const QList<QRect>& stack) {
        QList<TLedge> ledges;
        for (qsizetype i = 0; i < stack.size(); ++i) {
            const QRect& w = stack[i];
            const qsizetype first = ledges.size();
            for (int x = w.left(); x <= w.right() && !w.isEmpty(); ++x) {
                const bool covered = std::any_of(stack.begin() + i + 1, stack.end(), [&](const QRect& c) {
                    return !c.isEmpty() && c.left() <= x && x <= c.right() && c.top() <= w.top() && w.top() <= c.bottom();
                });
                if (covered)
                    continue;
                if (ledges.size() > first && ledges.back().Right == x - 1)
                    ledges.back().Right = x;
                else
                    ledges.append({w.top(), x, x});
            }
        }
        return ledges;
    };
    std::mt19937 generator(11);
    const auto draw = [&generator](int low, int high) { return std::uniform_int_distribution<int>(low, high)(generator); };
    for (int round = 0; round < 300; ++round) {
        QList<QRect> stack;
        // Few rows and columns, so that edges meet and share rows; some windows empty.
        for (int n = draw(1, 12); n > 0; --n)
            stack.append(QRect(draw(-5, 40), draw(0, 12), draw(0, 25), draw(0, 8)));
        ASSERT_EQ(VisibleTops(stack), reference(stack)) << "round " << round;
    }
}

// 512 one-pixel-wide windows standing over 512 wide ones cut their edges into 263,168
// pieces: only kMostLedges of them are kept, each one true.
TEST(Roamer, ManyWindowsCuttingEachOtherMakeABoundedNumberOfLedges)
{
    QList<QRect> stack;
    for (int i = 0; i < 512; ++i)
        stack.append(QRect(0, 100 + i, 1537, 600));  // edge i on row 100 + i
    for (int i = 0; i < 512; ++i)
        stack.append(QRect(3 * i + 2, 50, 1, 1100));  // columns 2, 5, 8, ...
    const QList<TLedge> ledges = VisibleTops(stack);
    ASSERT_EQ(ledges.size(), kMostLedges);
    for (const TLedge& ledge : ledges) {
        // Each thin window's own top, or a wide edge's piece between two thin windows.
        const bool thin = ledge.Y == 50 && ledge.Left == ledge.Right && ledge.Left % 3 == 2;
        const bool wide = ledge.Y >= 100 && ledge.Y < 612 &&
                          ledge.Left % 3 == 0 && ledge.Right == std::min(ledge.Left + 1, 1536);
        ASSERT_TRUE(thin || wide) << ledge.Y << " " << ledge.Left << ".." << ledge.Right;
    }
    // The rows nearest the screen's top are kept: the thin windows' tops, then the first
    // wide edges whole (513 pieces each).
    EXPECT_EQ(std::count_if(ledges.begin(), ledges.end(), [](const TLedge& l) { return l.Y == 50; }), 512);
    EXPECT_EQ(std::count_if(ledges.begin(), ledges.end(), [](const TLedge& l) { return l.Y == 100; }), 513);
}

// Held still, a pet only rests; a pet chasing the pointer walks to it and rests beside it.
// The menu's choice plays where it stands.
TEST(Roamer, HeldStillItRestsAndChasingItComesToThePointer)
{
    std::mt19937 generator(5);
    TRoamer roamer(kFullPet, Seeded(generator));
    roamer.SetScreens({QRect(0, 0, 1000, 500)});
    roamer.PlaceFoot(QPoint(100, 500));
    roamer.SetStill(true);
    for (int i = 0; i < 300; ++i) {
        const TRole state = roamer.Step().State;
        ASSERT_TRUE(state == TRole::Idle || state == TRole::Sit) << RoleName(state).toStdString();
    }
    // An action chosen in the menu plays where the pet rests, a weight of 0 too.
    TZvk withMenuOnly = kFullPet;
    withMenuOnly.Actions[0].Motion.Weight = 0;
    TRoamer chooser(withMenuOnly, Seeded(generator));
    chooser.SetScreens({QRect(0, 0, 1000, 500)});
    chooser.PlaceFoot(QPoint(100, 500));
    chooser.Step();
    chooser.Play(0);
    EXPECT_EQ(chooser.Step().Action, 0);

    roamer.SetStill(false);
    roamer.SetChase(QPoint(800, 300));
    for (int i = 0; i < 400; ++i)
        roamer.Step();
    EXPECT_LE(std::abs(roamer.Foot().x() - 800), TRoamer::kNearPointer);
    EXPECT_NE(roamer.State(), TRole::Walk);
}

// A pet on a screen that goes is put on the one that remains, and comes down to its floor.
TEST(Roamer, APetWhoseScreenWentFallsOntoOneThatRemains)
{
    std::mt19937 generator(3);
    TRoamer roamer(kFullPet, Seeded(generator));
    roamer.SetScreens({QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)});
    roamer.PlaceFoot(QPoint(1500, 768));
    roamer.Step();
    roamer.SetScreens({QRect(0, 0, 800, 600)});
    TRoamStep step;
    for (int i = 0; i < 100; ++i) {
        step = roamer.Step();
        ASSERT_TRUE(QRect(0, 0, 800, 600).contains(Window(step))) << i;
    }
    EXPECT_EQ(roamer.Foot().y(), 600);
}
