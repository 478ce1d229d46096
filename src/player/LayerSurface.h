#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRegion>

struct wl_buffer;
struct wl_surface;
struct zwlr_layer_surface_v1;
class TWaylandConnection;

// One picture on the desktop as a layer surface: above windows (the overlay layer, or the
// top one, below fullscreen windows), placed to the pixel by its margins from the output's
// top-left corner, taking no keyboard focus and reserving no room. Its see-through pixels
// show what is below; only its input region takes the pointer.
class TLayerSurface : public QObject {
    Q_OBJECT
public:
    enum class Layer { Top = 2, Overlay = 3 };

    TLayerSurface(TWaylandConnection& connection, Layer layer, QObject* parent = nullptr);
    ~TLayerSurface() override;

    // Shows `image` with its top-left corner at `place` on the output; `input` is the part
    // that takes the pointer, empty for all of it.
    void Show(const QImage& image, QPoint place, const QRegion& input);
    // Takes the picture off the desktop until the next Show.
    void Hide();
    void SetLayer(Layer layer);
    wl_surface* Surface() const { return surface_; }
    bool Configured() const { return configured_; }

signals:
    // The compositor will not show it again (its output went).
    void Closed();
    // The pointer over the surface, at `global` on the output (its place plus where in it).
    void PointerMoved(QPoint global);
    void PointerButton(Qt::MouseButton button, bool pressed, QPoint global);

private:
    static void Configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width, uint32_t height);
    static void Close(void* data, zwlr_layer_surface_v1* layer);
    // A buffer holding `image`, freed once the compositor lets go of it.
    wl_buffer* Buffer(const QImage& image);
    void Commit();

    TWaylandConnection& connection_;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    bool configured_ = false;
    // What waits for the first configure.
    QImage pending_;
    QPoint place_;
    QRegion input_;
    QPointF pointer_;    // where the pointer is on the output
    bool held_ = false;  // a button is down
};
