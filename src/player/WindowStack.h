#pragma once

#include <QList>
#include <QRect>

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

// What is known of another program's window, as its properties and the notices about it
// said.
struct TWindowFacts {
    QRect Client;                     // the window itself on the root window; empty: unknown
    bool Hidden = false;              // minimized (_NET_WM_STATE_HIDDEN)
    std::optional<uint32_t> Desktop;  // _NET_WM_DESKTOP; 0xFFFFFFFF: on every desktop
    std::array<uint32_t, 4> Frame{};  // _NET_FRAME_EXTENTS, the window manager's frame: left, right, top, bottom
    std::array<uint32_t, 4> Shadow{};  // _GTK_FRAME_EXTENTS, the shadows it draws itself, the same way round
    bool Gone = false;                // no such window: not asked again while it is listed
    unsigned Stale = 0;               // what is to be read again (TWindowStack::Part)
};

// The window's frame on the root window, as the person sees it; empty when it is not to be
// stood on (minimized, on another desktop, or unknown).
QRect VisibleFrame(const TWindowFacts& facts, uint32_t currentDesktop);

// The other programs' windows in the window manager's stacking order, with what is known of
// each: a change reads again only what it names, and a new list only the windows new to it.
class TWindowStack {
public:
    // A longer list keeps its topmost windows: they hide the ones below, not the other way.
    static constexpr std::size_t kMostWindows = 1024;
    enum Part : unsigned { State = 1, Desktop = 2, Frame = 4, Shadow = 8, Geometry = 16, All = 31 };

    // The stacking list, bottom first. Returns the windows new to it, to be heard and read
    // (all of their parts are stale); the others keep what is known of them, and those no
    // longer listed are forgotten.
    std::vector<uint32_t> SetOrder(const std::vector<uint32_t>& order);
    const std::vector<uint32_t>& Order() const { return order_; }
    // Null when the window is not listed.
    TWindowFacts* Find(uint32_t window);
    // The window is destroyed: listed again, it is new. Whether it was listed.
    bool Forget(uint32_t window);
    // The listed windows with something to read again, bottom first.
    std::vector<uint32_t> Stale() const;
    void SetCurrentDesktop(uint32_t desktop) { current_ = desktop; }
    // Every listed window's VisibleFrame, bottom first.
    QList<QRect> Frames() const;

private:
    std::vector<uint32_t> order_;
    std::unordered_map<uint32_t, TWindowFacts> facts_;
    uint32_t current_ = 0;
};
