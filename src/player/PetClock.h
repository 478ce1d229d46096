#pragma once

#include "package/PackageLayout.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

// The one clock of every pet: a single timer that wakes when the earliest pet is due and then
// steps every pet due by then, or within kTogether of it. Pets that start on its beat stay on
// it, so any number of them share one wake-up a frame.
class TPetClock : public QObject {
    Q_OBJECT
public:
    using TTime = std::chrono::steady_clock::time_point;
    // Pets due this close to the earliest are stepped with it.
    static constexpr std::chrono::milliseconds kTogether{2};
    // The beat a pet keeps: one frame time.
    static constexpr std::chrono::milliseconds kBeat{kFrameMs};

    // A pet as the clock sees it.
    class TClocked {
    public:
        virtual ~TClocked() = default;
        // When it next needs a step; TTime::max() while it needs none (hidden, closed).
        virtual TTime Due() const = 0;
        virtual void Tick(TTime now) = 0;
    };

    // `now` reads the clock; tests give a simulated one.
    explicit TPetClock(std::function<TTime()> now = std::chrono::steady_clock::now, QObject* parent = nullptr);

    void Add(TClocked* pet);
    void Remove(TClocked* pet);
    // A pet's due time changed (started, shown again): the timer is set anew.
    void Reschedule();
    // When a pet starting at `now` takes its first step: on the beat the others play on, so
    // that it joins their wake-ups, or at once when none plays.
    TTime Beat(TTime now) const;

    // What the timer does: steps every pet due by now. Public for tests on a simulated clock.
    void Fire();
    // The time the timer is set to wake, if it is set.
    bool Armed() const { return timer_.isActive(); }
    TTime WakeAt() const { return wakeAt_; }
    int Wakeups() const { return wakeups_; }

private:
    TTime Earliest() const;

    std::function<TTime()> now_;
    QTimer timer_;
    std::vector<TClocked*> pets_;
    TTime wakeAt_{};
    int wakeups_ = 0;
    bool firing_ = false;
};

// The process's clock: every pet window steps on it.
TPetClock& PetClock();
