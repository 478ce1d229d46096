#include "player/WindowLedges.h"

#include "player/X11Connection.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>
#include <unordered_set>

struct TWindowLedges::TAtoms {
    xcb_atom_t stacking, frame, gtkFrame, state, hidden, desktop, current;
};

namespace {

// What a window is to tell us of itself: its place and size, and these.
constexpr uint32_t kHeard = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;

xcb_get_property_cookie_t Ask(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, uint32_t offset,
                              uint32_t most)
{
    return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, offset, most);
}

template <typename Reply>
TX11Reply<Reply> Take(Reply* reply, xcb_generic_error_t* error)
{
    std::free(error);
    return TX11Reply<Reply>(reply, &std::free);
}

// Zuvora's own windows, known by their ids (a process id in _NET_WM_PID may be another
// machine's or another container's). Pets move theirs every frame: they are neither floors
// nor heard.
std::unordered_set<uint32_t> OwnWindows(xcb_connection_t* connection, xcb_window_t root, const std::vector<uint32_t>& listed)
{
    std::unordered_set<uint32_t> own;
    std::vector<xcb_window_t> shown;
    for (const QWindow* window : QGuiApplication::allWindows()) {
        // winId() would make a native window for one that has none.
        if (window->handle() == nullptr)
            continue;
        const auto id = static_cast<xcb_window_t>(window->winId());
        own.insert(id);
        if (window->isVisible())
            shown.push_back(id);
    }
    // The list names client windows (EWMH); under a window manager whose list names its
    // frames instead, none of ours is named, and the frames around ours are ours too.
    if (std::any_of(listed.begin(), listed.end(), [&own](uint32_t window) { return own.contains(window); }))
        return own;
    for (int depth = 0; depth < 4 && !shown.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> asked;
        asked.reserve(shown.size());
        for (const xcb_window_t window : shown)
            asked.push_back(xcb_query_tree(connection, window));
        shown.clear();
        for (const xcb_query_tree_cookie_t cookie : asked) {
            xcb_generic_error_t* error = nullptr;
            const auto tree = Take(xcb_query_tree_reply(connection, cookie, &error), error);
            if (tree && tree->parent != root && tree->parent != XCB_NONE && own.insert(tree->parent).second)
                shown.push_back(tree->parent);
        }
    }
    return own;
}

}  // namespace

TWindowLedges::TWindowLedges(QObject* parent) : QObject(parent)
{
    // A window dragged tells each move: its top follows ten times a second, about a pet's
    // step, and the tops are worked out no more often than that.
    readSoon_.setSingleShot(true);
    readSoon_.setInterval(100);
    connect(&readSoon_, &QTimer::timeout, this, &TWindowLedges::Read);
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr)
        return;
    atoms_ = std::make_unique<TAtoms>(TAtoms{
        X11Atom(connection, "_NET_CLIENT_LIST_STACKING"), X11Atom(connection, "_NET_FRAME_EXTENTS"),
        X11Atom(connection, "_GTK_FRAME_EXTENTS"), X11Atom(connection, "_NET_WM_STATE"),
        X11Atom(connection, "_NET_WM_STATE_HIDDEN"), X11Atom(connection, "_NET_WM_DESKTOP"),
        X11Atom(connection, "_NET_CURRENT_DESKTOP")});
    X11ListenTo(connection, X11RootWindow(connection), XCB_EVENT_MASK_PROPERTY_CHANGE);
    qGuiApp->installNativeEventFilter(this);
    listening_ = true;
    Read();
}

TWindowLedges::~TWindowLedges()
{
    if (listening_ && qGuiApp != nullptr)
        qGuiApp->removeNativeEventFilter(this);
}

void TWindowLedges::Read()
{
    if (X11Connection() == nullptr || !atoms_)
        return;
    if (orderStale_ || desktopStale_)
        ReadRoot();
    if (std::exchange(partsStale_, false))
        ReadStale();
    // A window read again often shows as it was.
    QList<QRect> frames = stack_.Frames();
    if (frames == frames_)
        return;
    frames_ = std::move(frames);
    const QList<TLedge> ledges = VisibleTops(frames_);
    if (ledges != ledges_) {
        ledges_ = ledges;
        emit Changed();
    }
}

void TWindowLedges::ReadRoot()
{
    xcb_connection_t* connection = X11Connection();
    const xcb_window_t root = X11RootWindow(connection);
    const TAtoms& atoms = *atoms_;
    constexpr auto most = static_cast<uint32_t>(TWindowStack::kMostWindows);
    // Both asked before either answer is awaited.
    const bool order = std::exchange(orderStale_, false), desktop = std::exchange(desktopStale_, false);
    const xcb_get_property_cookie_t askedDesktop = desktop ? Ask(connection, root, atoms.current, 0, 1) : xcb_get_property_cookie_t{};
    const xcb_get_property_cookie_t askedOrder = order ? Ask(connection, root, atoms.stacking, 0, most) : xcb_get_property_cookie_t{};
    if (desktop) {
        const auto current = X11Cardinals(connection, askedDesktop, 1);
        stack_.SetCurrentDesktop(current && !current->empty() ? current->front() : 0);
    }
    if (!order)
        return;
    uint32_t after = 0;
    std::vector<uint32_t> listed = X11Cardinals(connection, askedOrder, most, &after).value_or(std::vector<uint32_t>());
    // A longer list is read from where its topmost windows begin.
    if (after > 0)
        listed = X11Cardinals(connection, Ask(connection, root, atoms.stacking, static_cast<uint32_t>(listed.size()) + after - most, most), most)
                     .value_or(std::vector<uint32_t>());
    const std::unordered_set<uint32_t> own = OwnWindows(connection, root, listed);
    std::erase_if(listed, [&own](uint32_t window) { return own.contains(window); });
    const std::vector<uint32_t> added = stack_.SetOrder(listed);
    partsStale_ |= !added.empty();
    Listen(added);
}

void TWindowLedges::Listen(const std::vector<uint32_t>& windows)
{
    // Heard before they are read, so that no change falls between. Each client has one event
    // mask per window: setting it replaces what this process asked for before.
    xcb_connection_t* connection = X11Connection();
    std::vector<xcb_get_window_attributes_cookie_t> asked;
    asked.reserve(windows.size());
    for (const uint32_t window : windows)
        asked.push_back(xcb_get_window_attributes(connection, window));
    for (std::size_t i = 0; i < windows.size(); ++i) {
        xcb_generic_error_t* error = nullptr;
        const auto now = Take(xcb_get_window_attributes_reply(connection, asked[i], &error), error);
        if (!now) {
            // An id of no window (any more): not asked again while it is listed.
            stack_.Find(windows[i])->Gone = true;
            continue;
        }
        const uint32_t mask = now->your_event_mask | kHeard;
        // A window gone by now is no error worth a line in the log.
        if (mask != now->your_event_mask)
            xcb_discard_reply(connection,
                              xcb_change_window_attributes_checked(connection, windows[i], XCB_CW_EVENT_MASK, &mask).sequence);
    }
}

void TWindowLedges::ReadStale()
{
    xcb_connection_t* connection = X11Connection();
    const xcb_window_t root = X11RootWindow(connection);
    const TAtoms& atoms = *atoms_;
    struct TAsked {
        uint32_t window;
        unsigned parts;
        xcb_get_property_cookie_t state, desktop, frame, shadow;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t at;
    };
    // Every request is sent before any answer is awaited: one round trip for them all.
    std::vector<TAsked> asked;
    for (const uint32_t window : stack_.Stale()) {
        TAsked& a = asked.emplace_back(TAsked{window, std::exchange(stack_.Find(window)->Stale, 0u), {}, {}, {}, {}, {}, {}});
        if (a.parts & TWindowStack::State)
            a.state = Ask(connection, window, atoms.state, 0, 64);
        if (a.parts & TWindowStack::Desktop)
            a.desktop = Ask(connection, window, atoms.desktop, 0, 1);
        if (a.parts & TWindowStack::Frame)
            a.frame = Ask(connection, window, atoms.frame, 0, 4);
        if (a.parts & TWindowStack::Shadow)
            a.shadow = Ask(connection, window, atoms.gtkFrame, 0, 4);
        if (a.parts & TWindowStack::Geometry) {
            a.geometry = xcb_get_geometry(connection, window);
            a.at = xcb_translate_coordinates(connection, window, root, 0, 0);
        }
    }
    const auto extents = [](const std::optional<std::vector<uint32_t>>& e) {
        return e && e->size() == 4 ? std::array<uint32_t, 4>{(*e)[0], (*e)[1], (*e)[2], (*e)[3]} : std::array<uint32_t, 4>{};
    };
    for (const TAsked& a : asked) {
        TWindowFacts& facts = *stack_.Find(a.window);
        bool gone = false;
        if (a.parts & TWindowStack::State) {
            const auto state = X11Cardinals(connection, a.state, 64);
            gone |= !state;
            facts.Hidden = state && std::find(state->begin(), state->end(), atoms.hidden) != state->end();
        }
        if (a.parts & TWindowStack::Desktop) {
            const auto desktop = X11Cardinals(connection, a.desktop, 1);
            gone |= !desktop;
            facts.Desktop = desktop && !desktop->empty() ? std::optional(desktop->front()) : std::nullopt;
        }
        if (a.parts & TWindowStack::Frame) {
            const auto frame = X11Cardinals(connection, a.frame, 4);
            gone |= !frame;
            facts.Frame = extents(frame);
        }
        if (a.parts & TWindowStack::Shadow) {
            const auto shadow = X11Cardinals(connection, a.shadow, 4);
            gone |= !shadow;
            facts.Shadow = extents(shadow);
        }
        if (a.parts & TWindowStack::Geometry) {
            xcb_generic_error_t* error = nullptr;
            const auto geometry = Take(xcb_get_geometry_reply(connection, a.geometry, &error), error);
            error = nullptr;
            const auto at = Take(xcb_translate_coordinates_reply(connection, a.at, &error), error);
            gone |= !geometry || !at;
            if (geometry && at)
                facts.Client = QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
        }
        facts.Gone = gone;
    }
}

void TWindowLedges::Soon()
{
    if (!readSoon_.isActive())
        readSoon_.start();
}

bool TWindowLedges::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const TAtoms& a = *atoms_;
    switch (event->response_type & 0x7F) {
    case XCB_PROPERTY_NOTIFY: {
        const auto* notice = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notice->atom == a.stacking || notice->atom == a.current) {
            if (notice->window != X11RootWindow(X11Connection()))
                break;
            (notice->atom == a.stacking ? orderStale_ : desktopStale_) = true;
            Soon();
            break;
        }
        const unsigned part = notice->atom == a.state      ? TWindowStack::State
                              : notice->atom == a.desktop  ? TWindowStack::Desktop
                              : notice->atom == a.frame    ? TWindowStack::Frame
                              : notice->atom == a.gtkFrame ? TWindowStack::Shadow
                                                           : 0u;
        if (TWindowFacts* facts = part != 0 ? stack_.Find(notice->window) : nullptr; facts != nullptr && !facts->Gone) {
            facts->Stale |= part;
            partsStale_ = true;
            Soon();
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* notice = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        TWindowFacts* facts = stack_.Find(notice->window);
        if (facts == nullptr || facts->Gone)
            break;
        // A window manager that moves a window's frame tells the window its place on the
        // root window in a notice it sends itself; the X server's own notices give the place
        // in the parent, which is that frame: then the place is asked.
        if (event->response_type & 0x80)
            facts->Client = QRect(notice->x + notice->border_width, notice->y + notice->border_width, notice->width, notice->height);
        else
            facts->Stale |= TWindowStack::Geometry;
        partsStale_ |= facts->Stale != 0;
        Soon();
        break;
    }
    case XCB_UNMAP_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_REPARENT_NOTIFY: {
        // These three notices name the window in the same place. Shown again or hidden, or
        // taken into another frame, its state and place are read again.
        if (TWindowFacts* facts = stack_.Find(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window);
            facts != nullptr && !facts->Gone) {
            facts->Stale |= TWindowStack::State | TWindowStack::Desktop | TWindowStack::Geometry;
            partsStale_ = true;
            Soon();
        }
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (stack_.Forget(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window))
            Soon();
        break;
    default:
        break;
    }
    return false;
}

TWindowLedges& WindowLedges()
{
    static TWindowLedges ledges;
    return ledges;
}
