#include "player/WindowStack.h"

#include <gtest/gtest.h>

#include <numeric>

// A window's frame as the person sees it: the window manager's frame around it, less the
// shadows it draws itself; none when minimized, on another desktop or never read.
TEST(WindowStack, AFrameIsTheWindowWithItsFrameLessItsShadows)
{
    const QRect client(100, 200, 300, 150);
    const auto facts = [&client](auto change) {
        TWindowFacts f;
        f.Client = client;
        change(f);
        return f;
    };
    struct {
        const char* name;
        TWindowFacts facts;
        QRect frame;
    } const cases[] = {
        {"plain", facts([](TWindowFacts&) {}), client},
        {"framed", facts([](TWindowFacts& f) { f.Frame = {4, 5, 20, 6}; }), QRect(96, 180, 309, 176)},
        {"shadowed", facts([](TWindowFacts& f) { f.Shadow = {10, 10, 8, 12}; }), QRect(110, 208, 280, 130)},
        {"a frame wider than any screen", facts([](TWindowFacts& f) { f.Frame = {0, 0, 0xFFFFFFFFu, 0}; }),
         QRect(100, -3896, 300, 4246)},
        {"on every desktop", facts([](TWindowFacts& f) { f.Desktop = 0xFFFFFFFFu; }), client},
        {"on this desktop", facts([](TWindowFacts& f) { f.Desktop = 2; }), client},
        {"on another desktop", facts([](TWindowFacts& f) { f.Desktop = 1; }), QRect()},
        {"minimized", facts([](TWindowFacts& f) { f.Hidden = true; }), QRect()},
        {"gone", facts([](TWindowFacts& f) { f.Gone = true; }), QRect()},
        {"never read", facts([](TWindowFacts& f) { f.Client = QRect(); }), QRect()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VisibleFrame(c.facts, 2), c.frame) << c.name;
}

// A new list brings only the windows new to it to be read; the others keep what is known of
// them, and the ones that left it, or were destroyed, are new when they come back.
TEST(WindowStack, ANewListReadsOnlyTheWindowsNewToIt)
{
    TWindowStack stack;
    EXPECT_EQ(stack.SetOrder({1, 2, 3}), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(stack.Stale(), (std::vector<uint32_t>{1, 2, 3}));
    for (const uint32_t window : {1u, 2u, 3u}) {
        stack.Find(window)->Client = QRect(0, 0, 10, static_cast<int>(window));
        stack.Find(window)->Stale = 0;  // read
    }
    stack.Find(3)->Gone = true;  // an id of no window
    EXPECT_EQ(stack.SetOrder({3, 4, 2, 1}), (std::vector<uint32_t>{4}));
    EXPECT_EQ(stack.Stale(), (std::vector<uint32_t>{4}));
    EXPECT_EQ(stack.Frames(), (QList<QRect>{QRect(), QRect(), QRect(0, 0, 10, 2), QRect(0, 0, 10, 1)}));
    EXPECT_EQ(stack.SetOrder({2, 4}), std::vector<uint32_t>());
    EXPECT_EQ(stack.Find(1), nullptr);
    EXPECT_TRUE(stack.Forget(2));
    EXPECT_FALSE(stack.Forget(2));
    EXPECT_EQ(stack.Order(), std::vector<uint32_t>{4});
    EXPECT_EQ(stack.SetOrder({1, 2, 4, 2}), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(stack.Order(), (std::vector<uint32_t>{1, 4, 2}));  // named twice: where it is highest
}

// A list of a hundred thousand windows keeps its topmost ones, as many as are read.
TEST(WindowStack, AHugeListKeepsItsTopmostWindows)
{
    std::vector<uint32_t> order(100000);
    std::iota(order.begin(), order.end(), 1u);
    TWindowStack stack;
    const std::vector<uint32_t> added = stack.SetOrder(order);
    ASSERT_EQ(added.size(), TWindowStack::kMostWindows);
    EXPECT_EQ(added.front(), 100001u - TWindowStack::kMostWindows);
    EXPECT_EQ(added.back(), 100000u);
    EXPECT_EQ(stack.Frames().size(), static_cast<qsizetype>(TWindowStack::kMostWindows));
}
