#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

struct wl_compositor;
struct wl_output;
struct zxdg_output_manager_v1;
struct zwp_relative_pointer_manager_v1;
struct zwp_relative_pointer_v1;
struct zxdg_output_v1;
struct wl_display;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
class QDeadlineTimer;
class QSocketNotifier;

// A connection of Zuvora's own to the Wayland compositor of the session, beside whatever
// platform Qt runs on: pets drawn as layer surfaces speak through it. Its events are read
// and dispatched from Qt's event loop.
class TWaylandConnection : public QObject {
    Q_OBJECT
public:
    // Connects to the display WAYLAND_DISPLAY names (in XDG_RUNTIME_DIR) and learns what it
    // offers, waiting for the compositor's answers kPatienceMs at most; Usable() says
    // whether pets can be drawn there.
    TWaylandConnection();
    ~TWaylandConnection() override;
    TWaylandConnection(const TWaylandConnection&) = delete;
    TWaylandConnection& operator=(const TWaylandConnection&) = delete;

    // A compositor, shared memory and the layer shell: all a pet needs.
    bool Usable() const
    {
        return failure_.isEmpty() && compositor_ != nullptr && shm_ != nullptr && layerShell_ != nullptr;
    }
    // Why a display that is there cannot be used ("did not answer ..."); empty when it
    // answered, or when there was no display to connect to.
    const QString& Failure() const { return failure_; }
    // The display connected to, as WAYLAND_DISPLAY names it.
    static QString DisplayName();
    // How long a compositor may take to answer: a socket that takes connections and never
    // answers (a compositor stopped in a debugger, some other program's socket) must not
    // hold Zuvora up, and with it the library's lock, for ever.
    static constexpr int kPatienceMs = 2000;
    // Whether drags can follow PointerDelta.
    bool HasRelativePointer() const { return relative_ != nullptr; }
    wl_display* Display() const { return display_; }
    wl_compositor* Compositor() const { return compositor_; }
    wl_shm* Shm() const { return shm_; }
    zwlr_layer_shell_v1* LayerShell() const { return layerShell_; }
    // Every output's place and size in the desktop's coordinates, as the compositor says.
    QList<QRect> Outputs() const;
    // The output showing `point`, or the one nearest to it, with its place and size; null
    // before any output is described (the compositor then chooses).
    std::pair<wl_output*, QRect> OutputAt(QPoint point) const;
    // Sends what was asked; requests wait in the connection until then.
    void Flush();

signals:
    // The compositor went away: every surface of this connection is gone.
    void Lost();
    // The pointer over one of this connection's surfaces, at `local` in it; `button` is a
    // Linux input code (BTN_LEFT...), `pressed` its new state.
    // (The surface as an untyped pointer: Qt's signals take only complete types.)
    void PointerMoved(const void* surface, QPointF local);
    void PointerButton(const void* surface, QPointF local, uint32_t button, bool pressed);
    // How far the pointer moved, wherever the surfaces are: a drag follows these, since a
    // surface that moves under the pointer changes what its own coordinates mean.
    void PointerDelta(QPointF delta);
    // An output came, went, or moved.
    void OutputsChanged();

private:
    static void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void GlobalRemove(void* data, wl_registry* registry, uint32_t name);
    static void SeatCapabilities(void* data, wl_seat* seat, uint32_t capabilities);
    struct TOutput;
    void Describe(TOutput& output);
    void Dispatch();
    enum class TAnswer { Answered, TimedOut, Broken };
    TAnswer AwaitAnswers(const QDeadlineTimer& deadline);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    wl_seat* seat_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    std::vector<std::unique_ptr<TOutput>> outputs_;
    wl_pointer* pointer_ = nullptr;
    zwp_relative_pointer_manager_v1* relativeManager_ = nullptr;
    zwp_relative_pointer_v1* relative_ = nullptr;
    wl_surface* pointerSurface_ = nullptr;  // the surface the pointer is over, if ours
    QPointF pointerAt_;
    QSocketNotifier* notifier_ = nullptr;
    QString failure_;
};
