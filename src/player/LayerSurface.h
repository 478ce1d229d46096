#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRegion>

#include <vector>

struct wl_buffer;
struct wl_output;
struct wl_surface;
struct zwlr_layer_surface_v1;
class TWaylandConnection;

// One picture on the desktop as a layer surface: above windows (the overlay layer, or the
// top one, below fullscreen windows), on the output its middle is over, placed to the pixel
// by its margins from that output's top-left corner, taking no keyboard focus and reserving
// no room. Its see-through pixels show what is below; only its input region takes the
// pointer.
class TLayerSurface : public QObject {
    Q_OBJECT
public:
    enum class Layer { Top = 2, Overlay = 3 };

    TLayerSurface(TWaylandConnection& connection, Layer layer, QObject* parent = nullptr);
    ~TLayerSurface() override;

    // Shows `image` with its top-left corner at `place` on the desktop; `input` is the part
    // that takes the pointer, empty for all of it.
    void Show(const QImage& image, QPoint place, const QRegion& input);
    // Takes the picture off the desktop until the next Show.
    void Hide();
    void SetLayer(Layer layer);

    struct TShmBuffer;

signals:
    // The pointer over the surface, at `global` on the desktop (its place plus where in it).
    void PointerMoved(QPoint global);
    void PointerButton(Qt::MouseButton button, bool pressed, QPoint global);

private:
    static void Configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width, uint32_t height);
    static void Close(void* data, zwlr_layer_surface_v1* layer);
    // A layer surface can never change its output: one on another output is a new one.
    void Make(wl_output* output);
    void Unmake();
    // A buffer holding `image`, freed once the compositor lets go of it.
    wl_buffer* Buffer(const QImage& image);
    void Commit();

    TWaylandConnection& connection_;
    std::vector<wl_buffer*> buffers_;  // sent and not yet released
    Layer layer_;
    wl_output* output_ = nullptr;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layerSurface_ = nullptr;
    bool configured_ = false;
    bool shown_ = false;  // to be seen: between Show and Hide
    // What waits for the first configure.
    QImage pending_;
    QPoint place_;
    QRegion input_;
    QPointF pointer_;    // where the pointer is on the output
    bool held_ = false;  // a button is down
};
