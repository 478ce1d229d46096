#include "player/PlaybackEngine.h"

#include <cstdio>
#include <random>

void FormatFrameRequest(const TFrame& frame, char (&text)[41])
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

void StopPlayback(TPlaybackState& state) { state.Running = false; }

TPlaybackEngine::TPlaybackEngine(TPlaybackState& state, const TZvk* model, TTime start, Drawer draw)
    : state_(state), model_(model), draw_(std::move(draw)), due_(start)
{
}

std::int32_t TPlaybackEngine::ClockSeededDraw(std::int32_t last)
{
    std::mt19937 generator(static_cast<std::uint32_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<std::int32_t>(0, last)(generator);
}

void TPlaybackEngine::ChooseAction(std::int32_t last)
{
    switch (state_.PlayMode) {
    case kPlayRepeat:
        state_.ActionIndex = state_.ActionIndex < last ? state_.ActionIndex + 1 : 0;
        break;
    case kPlaySingleRepeat:
        break;
    default:
        state_.ActionIndex = last >= 0 ? draw_(last) : 0;
        break;
    }
    // The action chosen now plays to its end even if a pick changes ActionIndex. A pick
    // beyond this package's actions (left over from a larger one) plays nothing.
    action_ = state_.ActionIndex >= 0 && state_.ActionIndex <= last ? state_.ActionIndex : -1;
    next_ = 0;
    choosing_ = false;
}

TPause TPlaybackEngine::Pause(TTime now, TPause pause, std::int32_t ms)
{
    // Each pause ends its time after the last one was due, so timer slack does not add up
    // over a long show; whole pauses missed are skipped, not owed.
    const std::chrono::milliseconds length(ms);
    due_ += length;
    if (due_ <= now)
        due_ += length * ((now - due_) / length + 1);
    return pause;
}

TPause TPlaybackEngine::Step(TTime now, FrameTarget& target)
{
    if (model_ == nullptr || !state_.Running) {
        finished_ = true;
        return TPause::Ended;
    }
    if (choosing_) {
        const auto last = static_cast<std::int32_t>(model_->Actions.size()) - 1;
        ChooseAction(last);
        if (last < 0) {
            finished_ = true;
            return TPause::Ended;
        }
        if (action_ >= 0 && !state_.Interrupt && !model_->Actions[static_cast<std::size_t>(action_)].Frames.empty())
            target.ActionStarts(action_);
    }
    const std::vector<TFrame>* frames =
        action_ >= 0 ? &model_->Actions[static_cast<std::size_t>(action_)].Frames : nullptr;
    // A pick or a mode change ends the action before its next frame.
    if (frames == nullptr || next_ >= frames->size() || state_.Interrupt) {
        choosing_ = true;
        state_.Interrupt = false;
        return Pause(now, TPause::AfterAction, kFrameMs);
    }
    target.ShowFrame((*frames)[next_++], action_);
    // An action may set its own frame time; the pause after an action stays the same.
    return Pause(now, TPause::AfterFrame, model_->Actions[static_cast<std::size_t>(action_)].Motion.FrameMs());
}
