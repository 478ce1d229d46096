#include "player/PetClock.h"
#include "player/PlaybackEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using TTime = TPetClock::TTime;
using std::chrono::milliseconds;

// A pet as the window is to the clock: an engine stepped when due, unless hidden.
struct Pet : TPetClock::TClocked, FrameTarget {
    Pet(const TZvk& zvk, TTime start) : engine(state, &zvk, start) {}
    TTime Due() const override { return hidden ? TTime::max() : engine.Due(); }
    void Tick(TTime now) override { engine.Step(now, *this); }
    void ShowFrame(const TFrame&, int) override { ++frames; }

    TPlaybackState state;
    TPlaybackEngine engine;
    bool hidden = false;
    int frames = 0;
};

TZvk OneActionOf(int frames)
{
    TZvk zvk;
    zvk.Actions.resize(1);
    zvk.Actions[0].Frames.resize(static_cast<std::size_t>(frames), {0, 0, 0, 8, 8});
    return zvk;
}

}  // namespace

// Seven pets, started at odd moments, share one wake-up per frame time; a hidden one is
// neither stepped nor owed the frames it missed.
TEST(PetClock, PetsOnTheBeatShareOneWakeUpAndAHiddenOneOwesNothing)
{
    TTime now{milliseconds(5000)};
    TPetClock clock([&] { return now; });
    const TZvk zvk = OneActionOf(1000);
    std::vector<std::unique_ptr<Pet>> pets;
    for (int i = 0; i < 7; ++i) {
        now += milliseconds(13 * i);
        pets.push_back(std::make_unique<Pet>(zvk, clock.Beat(now)));
        clock.Add(pets.back().get());
    }
    const auto runFor = [&](milliseconds span) {
        const int before = clock.Wakeups();
        const TTime end = now + span;
        while (clock.Armed() && clock.WakeAt() < end) {
            now = std::max(now, clock.WakeAt()) + milliseconds(1);  // the timer's slack
            clock.Fire();
        }
        now = end;
        return clock.Wakeups() - before;
    };
    EXPECT_LE(runFor(milliseconds(1000)), 13);
    for (const auto& pet : pets)
        EXPECT_GE(pet->frames, 6) << "frames and pauses of 80 ms each over a second";

    // Hidden for two seconds, then seen again: it plays on as the others do, no faster.
    pets[3]->hidden = true;
    const int hiddenFrom = pets[3]->frames;
    runFor(milliseconds(2000));
    EXPECT_EQ(pets[3]->frames, hiddenFrom);
    pets[3]->hidden = false;
    clock.Reschedule();
    const int other = pets[0]->frames;
    EXPECT_LE(runFor(milliseconds(1000)), 14);
    EXPECT_LE(pets[3]->frames - hiddenFrom, pets[0]->frames - other + 1);
    EXPECT_GE(pets[3]->frames - hiddenFrom, 6);

    // The last pet gone, the timer rests.
    for (const auto& pet : pets)
        clock.Remove(pet.get());
    EXPECT_FALSE(clock.Armed());
}
