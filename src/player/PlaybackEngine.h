#pragma once

#include "package/PackageLayout.h"
#include "package/Zvk.h"

#include <chrono>
#include <cstdint>
#include <functional>

// Play modes as the menu sets them; any other value plays like Random. Roam is the pet's
// controller's own: the engine plays no part in it.
enum : std::int32_t { kPlayRepeat = 1, kPlaySingleRepeat = 2, kPlayRandom = 3, kPlayRoam = 4 };

// Whether `mode` is one the menu offers.
inline bool IsPlayMode(std::int32_t mode) { return mode >= kPlayRepeat && mode <= kPlayRoam; }

// A pet's playback state: what its menu and close change, what its engine reads before
// each step. Everything runs on the UI thread.
struct TPlaybackState {
    bool Running = true;
    bool Interrupt = false;
    std::int32_t PlayMode = kPlayRepeat;
    // Never reset: it carries over from one show, and one package, to the next.
    std::int32_t ActionIndex = 0;
};

// What the pet's menu and close do to the state; the engine sees them at its next step.
void PickAction(TPlaybackState& state, std::int32_t action);
void SetPlayMode(TPlaybackState& state, std::int32_t mode);
void StopPlayback(TPlaybackState& state);

// Where an engine's step shows what it plays.
class FrameTarget {
public:
    virtual ~FrameTarget() = default;
    // The frame's rectangle of the sprite sheet, as the manifest gives it, and the number of
    // the action it belongs to.
    virtual void ShowFrame(const TFrame& frame, int action) = 0;
    // An action with frames begins; its first frame follows in the same step.
    virtual void ActionStarts(int /*action*/) {}
};

// What follows a step: the action's frame time after a frame (kFrameMs unless it sets
// another), kFrameMs after an action, or nothing more (no actions, or stopped).
enum class TPause { AfterFrame, AfterAction, Ended };

// The 40-character frame request text (Left, Top, Width, Height, ten digits each), as the
// trace tool prints it. A negative value has no place in a ten-digit field and reads as 0.
void FormatFrameRequest(const TFrame& frame, char (&text)[41]);

// Plays a loaded package a step at a time: each step does what is due at its time (the next
// frame, or the choice of the next action) and sets when the next one is due. The caller
// keeps the clock: the pet window steps it from the herd's one timer, the trace tool from
// the real clock or a simulated one.
class TPlaybackEngine {
public:
    using TTime = std::chrono::steady_clock::time_point;
    using Drawer = std::function<std::int32_t(std::int32_t last)>;  // uniform in 0..last

    // The model must outlive the engine. The first step is due at `start`.
    TPlaybackEngine(TPlaybackState& state, const TZvk* model, TTime start, Drawer draw = ClockSeededDraw);

    // Does what is due, showing at most one frame through `target`. Call at Due() or later:
    // a step late by whole frames (a hidden pet, a busy machine) skips them rather than
    // catching up, and the next step keeps its place on the beat.
    TPause Step(TTime now, FrameTarget& target);
    TTime Due() const { return due_; }
    bool Finished() const { return finished_; }

    static std::int32_t ClockSeededDraw(std::int32_t last);

private:
    void ChooseAction(std::int32_t last);
    TPause Pause(TTime now, TPause pause, std::int32_t ms);

    TPlaybackState& state_;
    const TZvk* model_;
    Drawer draw_;
    TTime due_;
    bool choosing_ = true;      // the next step chooses an action; else it plays action_
    std::int32_t action_ = -1;  // the action playing, if in this package
    std::size_t next_ = 0;      // its next frame
    bool finished_ = false;
};
