#include "player/WaylandConnection.h"

#include "wlr-layer-shell-unstable-v1-client.h"
#include "relative-pointer-unstable-v1-client.h"
#include "xdg-output-unstable-v1-client.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

#include <poll.h>
#include <wayland-client.h>


// An output as the compositor describes it: its name in the registry, and its place and
// size in the desktop once xdg-output has told them.
struct TWaylandConnection::TOutput {
    TWaylandConnection* owner = nullptr;
    uint32_t name = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* described = nullptr;
    QRect area;
    QRect pending;
};

TWaylandConnection::TWaylandConnection()
{
    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr)
        return;
    // Both rounds share the time: this runs before the event loop, the library's lock held.
    const QDeadlineTimer deadline(kPatienceMs);
    static const wl_registry_listener listener{&TWaylandConnection::Global, &TWaylandConnection::GlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    TAnswer answer = AwaitAnswers(deadline);
    if (answer == TAnswer::Answered) {
        // The outputs' places come in answers to what the first round asked.
        for (const auto& output : outputs_)
            Describe(*output);
        answer = AwaitAnswers(deadline);
    }
    if (answer == TAnswer::TimedOut) {
        failure_ = QStringLiteral("did not answer within %1 s").arg(kPatienceMs / 1000.0);
        return;
    }
    if (answer == TAnswer::Broken) {
        failure_ = QStringLiteral("did not answer as a Wayland compositor does (its connection broke, or what "
                                  "came was not Wayland)");
        return;
    }
    notifier_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TWaylandConnection::Dispatch);
    // Whatever was asked while the loop ran goes out before it sleeps.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TWaylandConnection::Flush);
}

TWaylandConnection::~TWaylandConnection()
{
    if (display_ == nullptr)
        return;
    for (const auto& output : outputs_) {
        if (output->described != nullptr)
            zxdg_output_v1_destroy(output->described);
        wl_output_release(output->output);
    }
    if (outputManager_ != nullptr)
        zxdg_output_manager_v1_destroy(outputManager_);
    if (relative_ != nullptr)
        zwp_relative_pointer_v1_destroy(relative_);
    if (relativeManager_ != nullptr)
        zwp_relative_pointer_manager_v1_destroy(relativeManager_);
    if (pointer_ != nullptr)
        wl_pointer_release(pointer_);
    if (seat_ != nullptr)
        wl_seat_release(seat_);
    if (layerShell_ != nullptr)
        zwlr_layer_shell_v1_destroy(layerShell_);
    if (shm_ != nullptr)
        wl_shm_destroy(shm_);
    if (compositor_ != nullptr)
        wl_compositor_destroy(compositor_);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

void TWaylandConnection::Global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                uint32_t version)
{
    auto* self = static_cast<TWaylandConnection*>(data);
    const auto bind = [&](const wl_interface* wanted, uint32_t highest) {
        return wl_registry_bind(registry, name, wanted, std::min(version, highest));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && self->compositor_ == nullptr)
        self->compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0 && self->shm_ == nullptr)
        self->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && self->layerShell_ == nullptr)
        self->layerShell_ = static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 4));
    else if (std::strcmp(interface, zwp_relative_pointer_manager_v1_interface.name) == 0 &&
             self->relativeManager_ == nullptr)
        self->relativeManager_ =
            static_cast<zwp_relative_pointer_manager_v1*>(bind(&zwp_relative_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && self->outputManager_ == nullptr) {
        // Version 2: its own done event closes each description (from 3 on, wl_output does).
        self->outputManager_ = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
        for (const auto& output : self->outputs_)
            self->Describe(*output);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0 && version >= 3) {
        auto output = std::make_unique<TOutput>();
        output->owner = self;
        output->name = name;
        output->output = static_cast<wl_output*>(bind(&wl_output_interface, 3));
        self->Describe(*output);
        self->outputs_.push_back(std::move(output));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
        static const wl_seat_listener seatListener{&TWaylandConnection::SeatCapabilities,
                                                   [](void*, wl_seat*, const char*) {}};
        self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(self->seat_, &seatListener, self);
    }
}

void TWaylandConnection::SeatCapabilities(void* data, wl_seat* seat, uint32_t capabilities)
{
    auto* self = static_cast<TWaylandConnection*>(data);
    const bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (pointer == (self->pointer_ != nullptr))
        return;
    if (!pointer) {
        if (self->relative_ != nullptr)
            zwp_relative_pointer_v1_destroy(self->relative_);
        self->relative_ = nullptr;
        wl_pointer_release(self->pointer_);
        self->pointer_ = nullptr;
        self->pointerSurface_ = nullptr;
        return;
    }
    static const wl_pointer_listener pointerListener{
        // enter
        [](void* d, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
            auto* c = static_cast<TWaylandConnection*>(d);
            c->pointerSurface_ = surface;
            c->pointerAt_ = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
        },
        // leave
        [](void* d, wl_pointer*, uint32_t, wl_surface*) { static_cast<TWaylandConnection*>(d)->pointerSurface_ = nullptr; },
        // motion
        [](void* d, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
            auto* c = static_cast<TWaylandConnection*>(d);
            c->pointerAt_ = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
            if (c->pointerSurface_ != nullptr)
                emit c->PointerMoved(c->pointerSurface_, c->pointerAt_);
        },
        // button
        [](void* d, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
            auto* c = static_cast<TWaylandConnection*>(d);
            if (c->pointerSurface_ != nullptr)
                emit c->PointerButton(c->pointerSurface_, c->pointerAt_, button, state == WL_POINTER_BUTTON_STATE_PRESSED);
        },
        // axis, frame, axis_source, axis_stop, axis_discrete: nothing for pets
        [](void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {},
        [](void*, wl_pointer*) {},
        [](void*, wl_pointer*, uint32_t) {},
        [](void*, wl_pointer*, uint32_t, uint32_t) {},
        [](void*, wl_pointer*, uint32_t, int32_t) {},
        [](void*, wl_pointer*, uint32_t, int32_t) {},
    };
    self->pointer_ = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(self->pointer_, &pointerListener, self);
    if (self->relativeManager_ != nullptr) {
        static const zwp_relative_pointer_v1_listener relativeListener{
            [](void* d, zwp_relative_pointer_v1*, uint32_t, uint32_t, wl_fixed_t dx, wl_fixed_t dy, wl_fixed_t, wl_fixed_t) {
                emit static_cast<TWaylandConnection*>(d)->PointerDelta(QPointF(wl_fixed_to_double(dx), wl_fixed_to_double(dy)));
            }};
        self->relative_ = zwp_relative_pointer_manager_v1_get_relative_pointer(self->relativeManager_, self->pointer_);
        zwp_relative_pointer_v1_add_listener(self->relative_, &relativeListener, self);
    }
}

void TWaylandConnection::GlobalRemove(void* data, wl_registry*, uint32_t name)
{
    auto* self = static_cast<TWaylandConnection*>(data);
    const auto gone = std::find_if(self->outputs_.begin(), self->outputs_.end(),
                                   [name](const auto& output) { return output->name == name; });
    if (gone == self->outputs_.end())
        return;
    if ((*gone)->described != nullptr)
        zxdg_output_v1_destroy((*gone)->described);
    wl_output_release((*gone)->output);
    self->outputs_.erase(gone);
    emit self->OutputsChanged();
}

void TWaylandConnection::Describe(TOutput& output)
{
    if (outputManager_ == nullptr || output.described != nullptr)
        return;
    static const zxdg_output_v1_listener listener{
        [](void* data, zxdg_output_v1*, int32_t x, int32_t y) { static_cast<TOutput*>(data)->pending.moveTo(x, y); },
        [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
            static_cast<TOutput*>(data)->pending.setSize(QSize(width, height));
        },
        [](void* data, zxdg_output_v1*) {
            auto* described = static_cast<TOutput*>(data);
            if (described->area == described->pending)
                return;
            described->area = described->pending;
            emit described->owner->OutputsChanged();
        },
        [](void*, zxdg_output_v1*, const char*) {},
        [](void*, zxdg_output_v1*, const char*) {},
    };
    output.described = zxdg_output_manager_v1_get_xdg_output(outputManager_, output.output);
    zxdg_output_v1_add_listener(output.described, &listener, &output);
}

QList<QRect> TWaylandConnection::Outputs() const
{
    QList<QRect> areas;
    for (const auto& output : outputs_) {
        if (!output->area.isEmpty())
            areas.append(output->area);
    }
    return areas;
}

std::pair<wl_output*, QRect> TWaylandConnection::OutputAt(QPoint point) const
{
    std::pair<wl_output*, QRect> nearest{nullptr, QRect()};
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (const auto& output : outputs_) {
        if (output->area.isEmpty())
            continue;
        const QRect& area = output->area;
        const qint64 dx = std::max({qint64{area.left()} - point.x(), qint64{point.x()} - area.right(), qint64{0}});
        const qint64 dy = std::max({qint64{area.top()} - point.y(), qint64{point.y()} - area.bottom(), qint64{0}});
        if (dx * dx + dy * dy < nearestDistance) {
            nearestDistance = dx * dx + dy * dy;
            nearest = {output->output, area};
        }
    }
    return nearest;
}

void TWaylandConnection::Flush()
{
    if (display_ != nullptr)
        wl_display_flush(display_);
}

QString TWaylandConnection::DisplayName()
{
    const QString named = qEnvironmentVariable("WAYLAND_DISPLAY");
    return named.isEmpty() ? QStringLiteral("wayland-0") : named;
}

// wl_display_roundtrip, with a deadline: a sync request, and the socket read with poll() in
// between dispatching what came, until its answer.
TWaylandConnection::TAnswer TWaylandConnection::AwaitAnswers(const QDeadlineTimer& deadline)
{
    bool answered = false;
    static const wl_callback_listener listener{
        [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback* sync = wl_display_sync(display_);
    wl_callback_add_listener(sync, &listener, &answered);
    TAnswer answer = TAnswer::Broken;
    for (;;) {
        if (wl_display_dispatch_pending(display_) < 0)
            break;
        if (answered) {
            answer = TAnswer::Answered;
            break;
        }
        // Not 0: events came in meanwhile, to be dispatched first.
        if (wl_display_prepare_read(display_) != 0)
            continue;
        // Requests go out as far as the socket takes them now; the rest when it can.
        const int flushed = wl_display_flush(display_);
        if (flushed < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            break;
        }
        pollfd watch{wl_display_get_fd(display_), static_cast<short>(POLLIN | (flushed < 0 ? POLLOUT : 0)), 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), INT_MAX)));
        if (ready > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (wl_display_read_events(display_) < 0)
                break;
            continue;
        }
        wl_display_cancel_read(display_);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready == 0) {
            answer = TAnswer::TimedOut;
            break;
        }
    }
    // An answer that comes after this goes to a forgotten object, which libwayland ignores.
    wl_callback_destroy(sync);
    return answer;
}

void TWaylandConnection::Dispatch()
{
    // The socket is readable: read once, then run what came without waiting again.
    if (wl_display_dispatch(display_) < 0) {
        notifier_->setEnabled(false);
        emit Lost();
    }
}
