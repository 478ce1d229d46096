#pragma once

#include "package/PackageLayout.h"
#include "package/Zvk.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

// Play modes as the menu sets them; any other value plays like Random.
enum : std::int32_t { kPlayRepeat = 1, kPlaySingleRepeat = 2, kPlayRandom = 3 };

// A pet's playback state, shared by the UI thread (menus, show, close) and its playback
// thread. Atomic: the two threads read and write it without a lock.
struct TPlaybackState {
    std::atomic<bool> Running{true};
    std::atomic<bool> Interrupt{false};
    std::atomic<std::int32_t> PlayMode{kPlayRepeat};
    // Never reset: it carries over from one show, and one package, to the next.
    std::atomic<std::int32_t> ActionIndex{0};
    // Nobody can see the pet (minimized): the thread waits without waking until it can.
    std::atomic<bool> Hidden{false};
    // Wakes a pause early: a stop, or the pet seen again.
    std::mutex WakeMutex;
    std::condition_variable Wake;
};

// What the player window's menu and close do to the state; the thread sees them before its
// next frame.
void PickAction(TPlaybackState& state, std::int32_t action);
void SetPlayMode(TPlaybackState& state, std::int32_t mode);
void StopPlayback(TPlaybackState& state);
void SetHidden(TPlaybackState& state, bool hidden);

// The player window as the playback thread sees it. All three are called on the playback
// thread; FrameRequest returns only once the frame has been drawn (on the UI thread).
class FrameTarget {
public:
    virtual ~FrameTarget() = default;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    // `text` is 40 characters: Left, Top, Width and Height, ten digits each. `action` is the
    // number of the action the frame belongs to.
    virtual void FrameRequest(std::string_view text, int action) = 0;
    // An action with frames begins; its first frame request follows.
    virtual void ActionStarts(int /*action*/) {}
};

// The two pauses of the playback loop; both last kFrameMs, and neither ends while the pet is
// hidden.
enum class TPause { AfterFrame, AfterAction };

// The 40-character frame request text. A negative value has no place in a ten-digit field
// and is sent as 0.
void FormatFrameRequest(const TFragment& frame, char (&text)[41]);

// Plays a loaded package on a thread of its own: one engine per show of the player window.
class TPlaybackEngine {
public:
    // Takes the pause; empty: the real one, paced to the clock.
    using Sleeper = std::function<void(TPause)>;
    using Drawer = std::function<std::int32_t(std::int32_t last)>;  // uniform in 0..last

    // The model and the target must outlive the thread (see Stop/Join).
    TPlaybackEngine(TPlaybackState& state, const TZvk* model, FrameTarget& target,
                    Sleeper sleep = {}, Drawer draw = ClockSeededDraw);
    ~TPlaybackEngine();
    TPlaybackEngine(const TPlaybackEngine&) = delete;
    TPlaybackEngine& operator=(const TPlaybackEngine&) = delete;

    void StartPlayback();

    // True once the thread has ended (or never started).
    bool Finished() const { return finished_.load(); }
    // Waits for the thread to end. Call after StopPlayback; while a frame request is in
    // flight the UI thread must keep serving it, so a UI caller waits on Finished() while
    // processing events, and joins after.
    void Join();

    static std::int32_t ClockSeededDraw(std::int32_t last);

private:
    void Run();
    void PlayAction(std::int32_t index);
    void Pause(TPause pause);
    void PaceToClock();

    TPlaybackState& state_;
    const TZvk* model_;
    FrameTarget& target_;
    Sleeper sleep_;
    Drawer draw_;
    std::thread thread_;
    std::atomic<bool> finished_{true};
    std::chrono::steady_clock::time_point wake_{};  // when the last real pause ended
};
