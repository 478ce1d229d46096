#include "player/PlaybackEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

// A package whose action a has frames[a] frames; frame f of action a sits at Left = a,
// Top = f, so requests tell which frame of which action was drawn.
TZvk MakePackage(const std::vector<int>& frames)
{
    TZvk zvk;
    for (std::size_t a = 0; a < frames.size(); ++a) {
        TAction action;
        action.Index = static_cast<int>(a);
        for (int f = 0; f < frames[a]; ++f)
            action.Frames.push_back({f, f, static_cast<int>(a), 10 + f, 20 + f});
        zvk.Actions.push_back(action);
    }
    return zvk;
}

// Records everything the engine does and lets a test act at exact points: after the n-th
// frame or in the n-th pause after an action.
class Recorder : public FrameTarget {
public:
    explicit Recorder(TPlaybackState& state) : state_(state) {}

    std::vector<std::string> log;
    std::vector<int> actions;  // action number of every frame
    std::vector<std::string> texts;
    int stopAfterRequests = 12;
    std::function<void(int request)> onRequest;
    std::function<void(int pause)> onActionPause;

    // Each start with the number of frames drawn before it.
    std::vector<std::pair<int, std::size_t>> starts;
    void ActionStarts(int action) override { starts.emplace_back(action, actions.size()); }
    void ShowFrame(const TFrame& frame, int action) override
    {
        char text[41];
        FormatFrameRequest(frame, text);
        texts.emplace_back(text);
        actions.push_back(action);
        log.push_back("draw");
        const int n = static_cast<int>(actions.size());
        if (onRequest)
            onRequest(n);
        if (n >= stopAfterRequests)
            state_.Running = false;
    }
    void Reset()
    {
        log.clear();
        starts.clear();
        actions.clear();
        texts.clear();
        actionPauses_ = 0;
    }

    void Pause(TPause pause)
    {
        log.push_back(pause == TPause::AfterFrame ? "pauseFrame" : "pauseAction");
        if (pause == TPause::AfterAction) {
            ++actionPauses_;
            if (onActionPause)
                onActionPause(actionPauses_);
            // A package whose actions draw nothing must still end.
            if (actionPauses_ > 1000)
                state_.Running = false;
        }
    }

    // The actions in the order they started drawing (every action begins at Top 0).
    std::vector<int> Sequence() const
    {
        std::vector<int> sequence;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (std::stoi(texts[i].substr(10, 10)) == 0)
                sequence.push_back(actions[i]);
        }
        return sequence;
    }

private:
    TPlaybackState& state_;
    int actionPauses_ = 0;
};

class EngineTest : public ::testing::Test {
protected:
    // Plays `zvk` from a fresh show: Running set, Repeat mode, ActionIndex as given.
    void Play(const TZvk* zvk, int actionIndex = 0, std::deque<int> draws = {})
    {
        engine_.reset();  // a finished engine stops the shared state when released
        recorder_.Reset();
        state_.Running = true;
        state_.Interrupt = false;
        state_.ActionIndex = actionIndex;
        if (state_.PlayMode == 0)
            state_.PlayMode = kPlayRepeat;
        draws_ = std::move(draws);
        // A simulated clock: each step comes exactly when it is due.
        engine_ = std::make_unique<TPlaybackEngine>(state_, zvk, TPlaybackEngine::TTime{}, [this](std::int32_t last) {
            ++drawCount_;
            EXPECT_FALSE(draws_.empty()) << "more random draws than scripted";
            if (draws_.empty())
                return 0;
            const int value = draws_.front();
            draws_.pop_front();
            EXPECT_LE(value, last);
            return value;
        });
        for (TPause pause; (pause = engine_->Step(engine_->Due(), recorder_)) != TPause::Ended;)
            recorder_.Pause(pause);
    }

    TPlaybackState state_;
    Recorder recorder_{state_};
    std::unique_ptr<TPlaybackEngine> engine_;
    std::deque<int> draws_;
    int drawCount_ = 0;
};

}  // namespace

TEST(FrameRequestText, FourTenDigitFieldsNegativeAsZero)
{
    char text[41];
    FormatFrameRequest({0, 0, 128, 96, 64}, text);  // Index, Top, Left, Height, Width
    EXPECT_STREQ(text, "0000000128000000000000000000640000000096");
    FormatFrameRequest({0, -5, -1, 2147483647, INT32_MIN}, text);
    EXPECT_STREQ(text, "0000000000000000000000000000002147483647");
}

TEST_F(EngineTest, EachFrameIsShownWithItsRectangleAndPausedAfter)
{
    TZvk zvk;
    zvk.Actions.resize(1);
    zvk.Actions[0].Frames.push_back({0, 0, 128, 96, 64});
    recorder_.stopAfterRequests = 2;
    Play(&zvk);
    EXPECT_EQ(recorder_.log, (std::vector<std::string>{"draw", "pauseFrame", "pauseAction", "draw", "pauseFrame"}));
    EXPECT_EQ(recorder_.texts[0], "0000000128000000000000000000640000000096");
}

// Frames 80 ms apart, 80 ms more after each action, on the beat of the first step; a step
// late by whole frames (a pet hidden meanwhile) shows one frame and skips the rest.
TEST_F(EngineTest, StepsComeOnTheBeatAndMissedFramesAreNotOwed)
{
    using std::chrono::milliseconds;
    const TZvk zvk = MakePackage({1, 3});
    const TPlaybackEngine::TTime start{milliseconds(1000)};
    TPlaybackEngine engine(state_, &zvk, start);
    std::vector<long> dues;
    for (int step = 0; step < 6; ++step) {
        engine.Step(engine.Due(), recorder_);
        dues.push_back(static_cast<long>((engine.Due() - start) / milliseconds(1)));
    }
    // Action 1's three frames, its pause, action 0's frame and its pause.
    EXPECT_EQ(dues, (std::vector<long>{80, 160, 240, 320, 400, 480}));
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 1, 1, 0}));

    engine.Step(engine.Due() + milliseconds(1000) + milliseconds(3), recorder_);
    EXPECT_EQ(recorder_.actions.size(), 5u);
    EXPECT_EQ((engine.Due() - start) / milliseconds(1), 480 + 1040);
}

// An action with a frame time of its own keeps it for each of its frames; the pause after the
// action stays 80 ms.
TEST_F(EngineTest, AnActionsOwnFrameTimeSpacesItsFrames)
{
    using std::chrono::milliseconds;
    TZvk zvk = MakePackage({1, 2});
    zvk.Actions[1].Motion.Interval = 120;
    TPlaybackEngine engine(state_, &zvk, {});
    std::vector<long> dues;
    for (int step = 0; step < 5; ++step) {
        engine.Step(engine.Due(), recorder_);
        dues.push_back(static_cast<long>(engine.Due().time_since_epoch() / milliseconds(1)));
    }
    EXPECT_EQ(dues, (std::vector<long>{120, 240, 320, 400, 480}));
}

TEST_F(EngineTest, AfterProgramStartRepeatBeginsWithTheSecondAction)
{
    const TZvk zvk = MakePackage({2, 1, 3});
    recorder_.stopAfterRequests = 12;  // 1, 2, 0, 1, 2, 0(first frame)
    Play(&zvk);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 2, 2, 2, 0, 0, 1, 2, 2, 2, 0, 0}));
    EXPECT_EQ(state_.ActionIndex, 0);
}

TEST_F(EngineTest, ActionIndexCarriesOverFromTheLastShow)
{
    const TZvk zvk = MakePackage({1, 1, 1});
    recorder_.stopAfterRequests = 3;
    Play(&zvk, 1);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{2, 0, 1}));

    // From a larger package: an index beyond this one's last starts over at 0.
    recorder_.stopAfterRequests = 2;
    Play(&zvk, 7);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{0, 1}));
}

TEST_F(EngineTest, ASingleActionRepeatsInEveryMode)
{
    const TZvk zvk = MakePackage({2});
    for (int mode : std::initializer_list<int>{kPlayRepeat, kPlaySingleRepeat, kPlayRandom, 0, 99}) {
        state_.PlayMode = mode;
        recorder_.stopAfterRequests = 6;
        Play(&zvk, 0, {0, 0, 0, 0});
        EXPECT_EQ(recorder_.actions, (std::vector<int>(6, 0))) << "mode " << mode;
    }
}

TEST_F(EngineTest, RepeatPickPlaysTheActionAfterThePick)
{
    const TZvk zvk = MakePackage({3, 3, 3});
    // Pick the last action during the first frame of action 1: action 0 follows.
    recorder_.onRequest = [this](int n) {
        if (n == 1)
            PickAction(state_, 2);
    };
    recorder_.stopAfterRequests = 5;
    Play(&zvk);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 0, 0, 0, 1}));
    // The cut action stopped at its next frame boundary: one frame drawn.
    EXPECT_EQ(recorder_.Sequence(), (std::vector<int>{1, 0, 1}));
}

TEST_F(EngineTest, RepeatPickOfTheFirstActionPlaysTheSecond)
{
    const TZvk zvk = MakePackage({2, 2, 2});
    recorder_.onRequest = [this](int n) {
        if (n == 3)  // first frame of action 2
            PickAction(state_, 0);
    };
    recorder_.stopAfterRequests = 6;
    Play(&zvk);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 1, 2, 1, 1, 2}));
}

TEST_F(EngineTest, SingleRepeatPickPlaysThePickedActionOverAndOver)
{
    const TZvk zvk = MakePackage({2, 2, 2});
    state_.PlayMode = kPlaySingleRepeat;
    recorder_.onRequest = [this](int n) {
        if (n == 1)
            PickAction(state_, 1);
    };
    recorder_.stopAfterRequests = 5;
    Play(&zvk, 2);  // single repeat of action 2 at first
    EXPECT_EQ(recorder_.actions, (std::vector<int>{2, 1, 1, 1, 1}));
}

TEST_F(EngineTest, SingleRepeatOfAnActionThisPackageLacksPlaysNothingUntilAPick)
{
    // Left over from a larger package shown before.
    const TZvk zvk = MakePackage({2, 2});
    state_.PlayMode = kPlaySingleRepeat;
    recorder_.onActionPause = [this](int pause) {
        if (pause == 3)
            PickAction(state_, 1);
    };
    recorder_.stopAfterRequests = 2;
    Play(&zvk, 7);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 1}));
    EXPECT_EQ(recorder_.log.front(), "pauseAction");
}

TEST_F(EngineTest, RandomPickOnlyCutsTheActionShort)
{
    const TZvk zvk = MakePackage({3, 3, 3, 3});
    state_.PlayMode = kPlayRandom;
    recorder_.onRequest = [this](int n) {
        if (n == 1)
            PickAction(state_, 3);
    };
    recorder_.stopAfterRequests = 4;
    Play(&zvk, 0, {2, 1});
    EXPECT_EQ(recorder_.actions, (std::vector<int>{2, 1, 1, 1}));
    EXPECT_EQ(drawCount_, 2);
}

TEST_F(EngineTest, SwitchingToSingleRepeatRestartsTheCutAction)
{
    const TZvk zvk = MakePackage({3, 3, 3});
    recorder_.onRequest = [this](int n) {
        if (n == 2)  // second frame of action 1
            SetPlayMode(state_, kPlaySingleRepeat);
    };
    recorder_.stopAfterRequests = 8;
    Play(&zvk);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1}));
    std::vector<int> tops;
    for (const std::string& text : recorder_.texts)
        tops.push_back(std::stoi(text.substr(10, 10)));
    EXPECT_EQ(tops, (std::vector<int>{0, 1, 0, 1, 2, 0, 1, 2}));
}

TEST_F(EngineTest, SwitchingToRepeatOrRandomMovesOn)
{
    const TZvk zvk = MakePackage({3, 3, 3});
    state_.PlayMode = kPlaySingleRepeat;
    recorder_.onRequest = [this](int n) {
        if (n == 1)
            SetPlayMode(state_, kPlayRepeat);
    };
    recorder_.stopAfterRequests = 4;
    Play(&zvk, 2);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{2, 0, 0, 0}));

    state_.PlayMode = kPlaySingleRepeat;
    recorder_.onRequest = [this](int n) {
        if (n == 1)
            SetPlayMode(state_, kPlayRandom);
    };
    Play(&zvk, 1, {0, 2});
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 0, 0, 0}));
}

TEST_F(EngineTest, AChoiceDuringThePauseAfterAnActionIsSeenOneActionLater)
{
    const TZvk zvk = MakePackage({1, 1, 1, 1, 1});
    // Repeat: a pick of k in the pause makes k + 2 play next.
    recorder_.onActionPause = [this](int pause) {
        if (pause == 1)
            PickAction(state_, 1);
    };
    recorder_.stopAfterRequests = 3;
    Play(&zvk);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{1, 3, 4}));

    // Single Repeat: the picked action still plays next.
    state_.PlayMode = kPlaySingleRepeat;
    Play(&zvk, 3);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{3, 1, 1}));

    // Random: a second draw decides.
    state_.PlayMode = kPlayRandom;
    drawCount_ = 0;
    Play(&zvk, 0, {4, 0, 2, 3});
    EXPECT_EQ(recorder_.actions, (std::vector<int>{4, 2, 3}));
    EXPECT_EQ(drawCount_, 4);

    // A mode change in the pause runs the choice twice under the new mode.
    state_.PlayMode = kPlaySingleRepeat;
    recorder_.onActionPause = [this](int pause) {
        if (pause == 1)
            SetPlayMode(state_, kPlayRepeat);
    };
    Play(&zvk, 2);
    EXPECT_EQ(recorder_.actions, (std::vector<int>{2, 4, 0}));
}

TEST_F(EngineTest, NoRequestOnceRunningIsFalse)
{
    const TZvk zvk = MakePackage({5, 5});
    recorder_.onRequest = [this](int n) {
        if (n == 2)
            StopPlayback(state_);
    };
    recorder_.stopAfterRequests = 100;
    Play(&zvk);
    EXPECT_EQ(recorder_.actions.size(), 2u);
    EXPECT_EQ(recorder_.log.back(), "pauseFrame");  // no pause after the action
    EXPECT_TRUE(engine_->Finished());
}

TEST_F(EngineTest, NothingToPlayEndsPlayback)
{
    const TZvk empty;
    Play(&empty);
    EXPECT_TRUE(recorder_.log.empty());
    EXPECT_TRUE(engine_->Finished());
    EXPECT_TRUE(state_.Running);  // ended by itself, not stopped
    EXPECT_EQ(state_.ActionIndex, 0);

    Play(nullptr);
    EXPECT_TRUE(recorder_.log.empty());

    // Actions without frames cycle on pauses alone until stopped.
    const TZvk frameless = MakePackage({0, 0});
    Play(&frameless);
    EXPECT_TRUE(recorder_.actions.empty());
    EXPECT_GT(recorder_.log.size(), 100u);
}

TEST(EngineClock, DrawsStayInRange)
{
    for (int i = 0; i < 200; ++i) {
        const std::int32_t value = TPlaybackEngine::ClockSeededDraw(3);
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 3);
    }
    EXPECT_EQ(TPlaybackEngine::ClockSeededDraw(0), 0);
}

TEST_F(EngineTest, EachStartOfAnActionWithFramesIsToldBeforeItsFirstFrame)
{
    const TZvk zvk = MakePackage({2, 0, 3});
    recorder_.stopAfterRequests = 10;  // 2 + 3 + 2 + 3 frames
    state_.PlayMode = kPlayRepeat;
    Play(&zvk, 2);  // Repeat steps on first: actions 0, 1 (no frames), 2, 0, 1, 2
    using Start = std::pair<int, std::size_t>;
    EXPECT_EQ(recorder_.starts, (std::vector<Start>{{0, 0}, {2, 2}, {0, 5}, {2, 7}}));
}
