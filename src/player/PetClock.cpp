#include "player/PetClock.h"

#include <algorithm>

TPetClock::TPetClock(std::function<TTime()> now, QObject* parent) : QObject(parent), now_(std::move(now))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TPetClock::Fire);
}

void TPetClock::Add(TClocked* pet)
{
    if (std::find(pets_.begin(), pets_.end(), pet) == pets_.end())
        pets_.push_back(pet);
    Reschedule();
}

void TPetClock::Remove(TClocked* pet)
{
    std::erase(pets_, pet);
    Reschedule();
}

TPetClock::TTime TPetClock::Earliest() const
{
    TTime earliest = TTime::max();
    for (const TClocked* pet : pets_)
        earliest = std::min(earliest, pet->Due());
    return earliest;
}

TPetClock::TTime TPetClock::Beat(TTime now) const
{
    const TTime next = Earliest();
    if (next == TTime::max())
        return now;
    if (next >= now)
        return next;
    // Due already (not yet stepped): the first beat from now on.
    return next + kBeat * ((now - next + kBeat - std::chrono::nanoseconds(1)) / kBeat);
}

void TPetClock::Reschedule()
{
    // Fire sets the timer once every pet has stepped.
    if (firing_)
        return;
    const TTime earliest = Earliest();
    if (earliest == TTime::max()) {
        timer_.stop();
        return;
    }
    wakeAt_ = earliest;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - now_()).count();
    timer_.start(static_cast<int>(std::clamp<decltype(wait)>(wait, 0, 60 * 60 * 1000)));
}

void TPetClock::Fire()
{
    ++wakeups_;
    const TTime now = now_();
    firing_ = true;
    // A step may close its pet, or start another: a copy is walked, each pet looked up again.
    const std::vector<TClocked*> pets = pets_;
    for (TClocked* pet : pets) {
        if (std::find(pets_.begin(), pets_.end(), pet) != pets_.end() && pet->Due() <= now + kTogether)
            pet->Tick(now);
    }
    firing_ = false;
    Reschedule();
}

TPetClock& PetClock()
{
    static TPetClock clock;
    return clock;
}
