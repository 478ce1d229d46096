#include "player/WindowStack.h"

#include <algorithm>
#include <unordered_set>

QRect VisibleFrame(const TWindowFacts& facts, uint32_t currentDesktop)
{
    if (facts.Gone || facts.Hidden || facts.Client.isEmpty())
        return {};
    if (facts.Desktop && *facts.Desktop != 0xFFFFFFFFu && *facts.Desktop != currentDesktop)
        return {};
    // Any program may set these: a frame wider than a screen is no frame.
    const auto side = [](const std::array<uint32_t, 4>& e, std::size_t i) { return static_cast<int>(std::min(e[i], 4096u)); };
    QRect frame = facts.Client;
    frame.adjust(-side(facts.Frame, 0), -side(facts.Frame, 2), side(facts.Frame, 1), side(facts.Frame, 3));
    frame.adjust(side(facts.Shadow, 0), side(facts.Shadow, 2), -side(facts.Shadow, 1), -side(facts.Shadow, 3));
    return frame;
}

std::vector<uint32_t> TWindowStack::SetOrder(const std::vector<uint32_t>& order)
{
    const std::size_t skip = order.size() > kMostWindows ? order.size() - kMostWindows : 0;
    std::vector<uint32_t> kept;
    kept.reserve(order.size() - skip);
    std::unordered_set<uint32_t> listed;
    std::vector<uint32_t> added;
    TWindowFacts fresh;
    fresh.Stale = All;
    // A window named twice counts once, where it is highest.
    for (auto it = order.rbegin(); it != order.rend() - static_cast<std::ptrdiff_t>(skip); ++it) {
        if (!listed.insert(*it).second)
            continue;
        kept.push_back(*it);
        if (facts_.try_emplace(*it, fresh).second)
            added.push_back(*it);
    }
    std::reverse(kept.begin(), kept.end());
    std::reverse(added.begin(), added.end());
    std::erase_if(facts_, [&listed](const auto& entry) { return !listed.contains(entry.first); });
    order_ = std::move(kept);
    return added;
}

TWindowFacts* TWindowStack::Find(uint32_t window)
{
    const auto it = facts_.find(window);
    return it != facts_.end() ? &it->second : nullptr;
}

bool TWindowStack::Forget(uint32_t window)
{
    if (facts_.erase(window) == 0)
        return false;
    std::erase(order_, window);
    return true;
}

std::vector<uint32_t> TWindowStack::Stale() const
{
    std::vector<uint32_t> stale;
    for (const uint32_t window : order_) {
        if (const TWindowFacts& facts = facts_.at(window); facts.Stale != 0 && !facts.Gone)
            stale.push_back(window);
    }
    return stale;
}

QList<QRect> TWindowStack::Frames() const
{
    QList<QRect> frames;
    frames.reserve(static_cast<qsizetype>(order_.size()));
    for (const uint32_t window : order_)
        frames.append(VisibleFrame(facts_.at(window), current_));
    return frames;
}
