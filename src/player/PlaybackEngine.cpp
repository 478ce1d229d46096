#include "player/PlaybackEngine.h"

#include <chrono>
#include <cstdio>
#include <random>

void FormatFrameRequest(const TFragment& frame, char (&text)[41])
{
    const auto field = [](std::int32_t value) { return value < 0 ? 0 : value; };
    std::snprintf(text, sizeof text, "%.10d%.10d%.10d%.10d", field(frame.Left), field(frame.Top),
                  field(frame.Width), field(frame.Height));
}

void PickAction(TPlaybackState& state, std::int32_t action)
{
    state.Interrupt = true;
    state.ActionIndex = action;
}

void SetPlayMode(TPlaybackState& state, std::int32_t mode)
{
    state.Interrupt = true;
    state.PlayMode = mode;
}

// Changed under the mutex, so a pause that has just found nothing to wake for cannot miss it.
template <typename Change>
void ChangeAndWake(TPlaybackState& state, Change change)
{
    {
        const std::lock_guard<std::mutex> lock(state.WakeMutex);
        change();
    }
    state.Wake.notify_all();
}

void StopPlayback(TPlaybackState& state)
{
    ChangeAndWake(state, [&] { state.Running = false; });
}

void SetHidden(TPlaybackState& state, bool hidden)
{
    ChangeAndWake(state, [&] { state.Hidden = hidden; });
}

TPlaybackEngine::TPlaybackEngine(TPlaybackState& state, const TZvk* model, FrameTarget& target,
                                 Sleeper sleep, Drawer draw)
    : state_(state), model_(model), target_(target), sleep_(std::move(sleep)), draw_(std::move(draw))
{
}

TPlaybackEngine::~TPlaybackEngine()
{
    StopPlayback(state_);
    Join();
}

void TPlaybackEngine::Pause(TPause pause)
{
    if (sleep_) {
        sleep_(pause);
    } else {
        PaceToClock();
    }
    std::unique_lock<std::mutex> lock(state_.WakeMutex);
    state_.Wake.wait(lock, [this] { return !state_.Running || !state_.Hidden; });
}

void TPlaybackEngine::PaceToClock()
{
    // Each pause ends 80 ms after the previous one ended, so timer slack and drawing time
    // do not add up over a long show; after a stall (a pause already overdue) the schedule
    // starts afresh from now.
    constexpr std::chrono::milliseconds kPause(kFrameMs);
    const auto now = std::chrono::steady_clock::now();
    const bool onSchedule = wake_ != std::chrono::steady_clock::time_point{} && wake_ + kPause > now;
    wake_ = onSchedule ? wake_ + kPause : now + kPause;
    std::unique_lock<std::mutex> lock(state_.WakeMutex);
    state_.Wake.wait_until(lock, wake_, [this] { return !state_.Running.load(); });
}

std::int32_t TPlaybackEngine::ClockSeededDraw(std::int32_t last)
{
    std::mt19937 generator(static_cast<std::uint32_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<std::int32_t>(0, last)(generator);
}

void TPlaybackEngine::StartPlayback()
{
    if (thread_.joinable())
        return;
    finished_ = false;
    thread_ = std::thread([this] {
        Run();
        finished_ = true;
    });
}


void TPlaybackEngine::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void TPlaybackEngine::Run()
{
    if (model_ == nullptr)
        return;
    const auto last = static_cast<std::int32_t>(model_->Actions.size()) - 1;
    while (state_.Running) {
        switch (state_.PlayMode.load()) {
        case kPlayRepeat: {
            // One read: a pick between two reads would make the step skip or repeat.
            const std::int32_t current = state_.ActionIndex;
            state_.ActionIndex = current < last ? current + 1 : 0;
            break;
        }
        case kPlaySingleRepeat:
            break;
        default:
            state_.ActionIndex = last >= 0 ? draw_(last) : 0;
            break;
        }
        // The action chosen now plays to its end even if a pick changes ActionIndex.
        const std::int32_t index = state_.ActionIndex;
        if (last < 0 || !state_.Running)
            return;
        // A pick beyond this package's actions (left over from a larger one) plays nothing.
        if (index >= 0 && index <= last) {
            PlayAction(index);
            if (!state_.Running)
                return;
        }
        state_.Interrupt = false;
        Pause(TPause::AfterAction);
    }
}

void TPlaybackEngine::PlayAction(std::int32_t index)
{
    const std::vector<TFragment>& frames = model_->Actions[static_cast<std::size_t>(index)].Fragments;
    if (!frames.empty() && state_.Running && !state_.Interrupt)
        target_.ActionStarts(index);
    for (const TFragment& frame : frames) {
        if (!state_.Running || state_.Interrupt)
            return;
        target_.SetWidth(frame.Width);
        target_.SetHeight(frame.Height);
        char text[41];
        FormatFrameRequest(frame, text);
        target_.FrameRequest(std::string_view(text, 40), index);
        Pause(TPause::AfterFrame);
    }
}
