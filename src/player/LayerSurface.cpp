#include "player/LayerSurface.h"

#include "player/WaylandConnection.h"
#include "wlr-layer-shell-unstable-v1-client.h"

#include <cstring>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

// A buffer's memory, unmapped when the compositor releases the buffer or, should it never
// (it went away), when the surface goes.
struct TLayerSurface::TShmBuffer {
    TLayerSurface* owner = nullptr;
    void* memory = MAP_FAILED;
    std::size_t size = 0;

    static void Free(wl_buffer* buffer)
    {
        auto* shm = static_cast<TShmBuffer*>(wl_buffer_get_user_data(buffer));
        if (shm->memory != MAP_FAILED)
            ::munmap(shm->memory, shm->size);
        delete shm;
        wl_buffer_destroy(buffer);
    }
    static void Released(void* data, wl_buffer* buffer)
    {
        std::erase(static_cast<TShmBuffer*>(data)->owner->buffers_, buffer);
        Free(buffer);
    }
};

namespace {

const wl_buffer_listener kBufferListener{&TLayerSurface::TShmBuffer::Released};

}  // namespace

TLayerSurface::TLayerSurface(TWaylandConnection& connection, Layer layer, QObject* parent)
    : QObject(parent), connection_(connection), layer_(layer)
{
    // Its output gone, the picture comes back on one that is there.
    connect(&connection_, &TWaylandConnection::OutputsChanged, this, [this] {
        if (shown_ && surface_ == nullptr)
            Show(pending_, place_, input_);
    });
    const auto global = [this](QPointF local) { return place_ + local.toPoint(); };
    // While a button is held the surface may move under the pointer: the pointer's place
    // follows its own motion then, where the compositor tells it.
    connect(&connection_, &TWaylandConnection::PointerMoved, this, [this, global](const void* surface, QPointF local) {
        if (surface != surface_)
            return;
        if (!held_ || !connection_.HasRelativePointer())
            pointer_ = QPointF(global(local));
        emit PointerMoved(pointer_.toPoint());
    });
    connect(&connection_, &TWaylandConnection::PointerDelta, this, [this](QPointF delta) {
        if (held_)
            pointer_ += delta;
    });
    connect(&connection_, &TWaylandConnection::PointerButton, this,
            [this, global](const void* surface, QPointF local, uint32_t button, bool pressed) {
                if (surface != surface_)
                    return;
                const Qt::MouseButton which = button == BTN_LEFT    ? Qt::LeftButton
                                              : button == BTN_RIGHT ? Qt::RightButton
                                                                    : Qt::NoButton;
                if (which == Qt::NoButton)
                    return;
                if (!held_)
                    pointer_ = QPointF(global(local));
                held_ = pressed;
                emit PointerButton(which, pressed, pointer_.toPoint());
            });
}

TLayerSurface::~TLayerSurface()
{
    for (wl_buffer* buffer : buffers_)
        TShmBuffer::Free(buffer);
    Unmake();
    connection_.Flush();
}

void TLayerSurface::Make(wl_output* output)
{
    static const zwlr_layer_surface_v1_listener listener{&TLayerSurface::Configure, &TLayerSurface::Close};
    output_ = output;
    surface_ = wl_compositor_create_surface(connection_.Compositor());
    layerSurface_ = zwlr_layer_shell_v1_get_layer_surface(connection_.LayerShell(), surface_, output,
                                                          static_cast<uint32_t>(layer_), "zuvora-pet");
    zwlr_layer_surface_v1_add_listener(layerSurface_, &listener, this);
    // Placed by its margins from the top-left corner, over other surfaces' reserved room
    // (-1), reserving none and never taking the keyboard.
    zwlr_layer_surface_v1_set_anchor(layerSurface_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_exclusive_zone(layerSurface_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layerSurface_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
}

void TLayerSurface::Unmake()
{
    if (layerSurface_ != nullptr)
        zwlr_layer_surface_v1_destroy(layerSurface_);
    if (surface_ != nullptr)
        wl_surface_destroy(surface_);
    layerSurface_ = nullptr;
    surface_ = nullptr;
    output_ = nullptr;
    configured_ = false;
}

void TLayerSurface::Configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t, uint32_t)
{
    auto* self = static_cast<TLayerSurface*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    const bool first = !self->configured_;
    self->configured_ = true;
    if (first && !self->pending_.isNull())
        self->Commit();
}

void TLayerSurface::Close(void* data, zwlr_layer_surface_v1*) { static_cast<TLayerSurface*>(data)->Unmake(); }

void TLayerSurface::Hide()
{
    shown_ = false;
    if (!configured_ || surface_ == nullptr)
        return;
    // A null buffer unmaps the surface; showing it again starts with a configure.
    wl_surface_attach(surface_, nullptr, 0, 0);
    wl_surface_commit(surface_);
    configured_ = false;
    connection_.Flush();
}

void TLayerSurface::SetLayer(Layer layer)
{
    layer_ = layer;
    if (layerSurface_ == nullptr)
        return;
    zwlr_layer_surface_v1_set_layer(layerSurface_, static_cast<uint32_t>(layer));
    wl_surface_commit(surface_);
}

void TLayerSurface::Show(const QImage& image, QPoint place, const QRegion& input)
{
    shown_ = true;
    pending_ = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    place_ = place;
    input_ = input;
    const auto [output, area] = connection_.OutputAt(QRect(place, pending_.size()).center());
    if (surface_ == nullptr || output != output_) {
        Unmake();
        Make(output);
    }
    zwlr_layer_surface_v1_set_size(layerSurface_, static_cast<uint32_t>(pending_.width()),
                                   static_cast<uint32_t>(pending_.height()));
    const QPoint margin = place - area.topLeft();
    zwlr_layer_surface_v1_set_margin(layerSurface_, margin.y(), 0, 0, margin.x());
    if (!configured_) {
        // The first commit carries no buffer; the picture follows the compositor's answer.
        wl_surface_commit(surface_);
        connection_.Flush();
        return;
    }
    Commit();
}

wl_buffer* TLayerSurface::Buffer(const QImage& image)
{
    const auto stride = static_cast<std::size_t>(image.bytesPerLine());
    const std::size_t size = stride * static_cast<std::size_t>(image.height());
    const int fd = ::memfd_create("zuvora-pet", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto* shm = new TShmBuffer{this, MAP_FAILED, size};
    if (::ftruncate(fd, static_cast<off_t>(size)) == 0)
        shm->memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (shm->memory == MAP_FAILED) {
        ::close(fd);
        delete shm;
        return nullptr;
    }
    std::memcpy(shm->memory, image.constBits(), size);
    wl_shm_pool* pool = wl_shm_create_pool(connection_.Shm(), fd, static_cast<int32_t>(size));
    // Qt's premultiplied ARGB32 is wl_shm's ARGB8888 on a little-endian machine.
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, image.width(), image.height(), static_cast<int32_t>(stride),
                                                  WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    wl_buffer_add_listener(buffer, &kBufferListener, shm);
    buffers_.push_back(buffer);
    return buffer;
}

void TLayerSurface::Commit()
{
    wl_buffer* buffer = Buffer(pending_);
    if (buffer == nullptr)
        return;
    wl_region* region = nullptr;
    if (!input_.isEmpty()) {
        region = wl_compositor_create_region(connection_.Compositor());
        for (const QRect& rect : input_)
            wl_region_add(region, rect.x(), rect.y(), rect.width(), rect.height());
    }
    wl_surface_set_input_region(surface_, region);
    if (region != nullptr)
        wl_region_destroy(region);
    wl_surface_attach(surface_, buffer, 0, 0);
    wl_surface_damage_buffer(surface_, 0, 0, pending_.width(), pending_.height());
    wl_surface_commit(surface_);
    connection_.Flush();
}
