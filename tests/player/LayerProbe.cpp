// The layer-shell test's helper, run by layer_shell.sh on a headless sway:
//   layer_probe make FILE          writes a 64x64 picture: its left half opaque red, the
//                                  right half clear
//   layer_probe show FILE X Y MS   shows FILE as a layer surface at X,Y for MS milliseconds
//   layer_probe listen X Y W H MS  shows a grey rectangle on the top layer, below pets, and
//                                  prints "click X Y" for each press of a button on it
//   layer_probe fullscreen MS      shows a green window, fullscreen
//   layer_probe window MS          shows a green 640x480 window (app id "layer_probe"), as
//                                  the compositor places it
//   layer_probe pixel FILE X Y     prints the pixel's red, green and blue
//   layer_probe drawn FILE X Y W H prints how many pixels of the rectangle are not the
//                                  background (#336699)
#include "player/LayerSurface.h"
#include "player/WaylandConnection.h"
#include "xdg-shell-client.h"

#include <QCoreApplication>
#include <QImage>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

// A green window, fullscreen as a game or a video would be or an ordinary one: xdg-shell on
// a connection of its own, its buffer filled at whatever size the compositor asks.
int ShowWindow(int milliseconds, bool fullscreen)
{
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return 1;
    struct Globals {
        wl_compositor* compositor = nullptr;
        wl_shm* shm = nullptr;
        xdg_wm_base* base = nullptr;
        int width = 0, height = 0;
        uint32_t serial = 0;
        bool configured = false;
    } g;
    static const wl_registry_listener registryListener{
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            auto* globals = static_cast<Globals*>(data);
            if (std::strcmp(interface, wl_compositor_interface.name) == 0)
                globals->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
            else if (std::strcmp(interface, wl_shm_interface.name) == 0)
                globals->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
            else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
                globals->base = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &g);
    wl_display_roundtrip(display);
    if (g.compositor == nullptr || g.shm == nullptr || g.base == nullptr)
        return 1;
    static const xdg_wm_base_listener baseListener{[](void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }};
    xdg_wm_base_add_listener(g.base, &baseListener, nullptr);
    wl_surface* surface = wl_compositor_create_surface(g.compositor);
    xdg_surface* shell = xdg_wm_base_get_xdg_surface(g.base, surface);
    static const xdg_surface_listener surfaceListener{[](void* data, xdg_surface*, uint32_t serial) {
        static_cast<Globals*>(data)->serial = serial;
        static_cast<Globals*>(data)->configured = true;
    }};
    xdg_surface_add_listener(shell, &surfaceListener, &g);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(shell);
    static const xdg_toplevel_listener toplevelListener{
        [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
            if (width > 0 && height > 0) {
                static_cast<Globals*>(data)->width = width;
                static_cast<Globals*>(data)->height = height;
            }
        },
        [](void*, xdg_toplevel*) {},
        [](void*, xdg_toplevel*, int32_t, int32_t) {},
        [](void*, xdg_toplevel*, wl_array*) {}};
    xdg_toplevel_add_listener(toplevel, &toplevelListener, &g);
    xdg_toplevel_set_app_id(toplevel, "layer_probe");
    if (fullscreen)
        xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(surface);
    // The first configure may leave the size to the client: the headless output's size is
    // the fullscreen one, and the window becomes fullscreen once it shows.
    while (!g.configured)
        if (wl_display_dispatch(display) < 0)
            return 1;
    xdg_surface_ack_configure(shell, g.serial);
    if (g.width == 0) {
        g.width = fullscreen ? 1280 : 640;
        g.height = fullscreen ? 720 : 480;
    }
    const int stride = g.width * 4;
    const int size = stride * g.height;
    const int fd = memfd_create("window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0)
        return 1;
    auto* pixels = static_cast<uint32_t*>(mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    for (int i = 0; i < g.width * g.height; ++i)
        pixels[i] = 0xFF00C000u;
    wl_shm_pool* pool = wl_shm_create_pool(g.shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, g.width, g.height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    for (int waited = 0; waited < milliseconds; waited += 100) {
        g.configured = false;
        wl_display_roundtrip(display);
        // Later configures (the fullscreen state) are acknowledged; the size stays.
        if (g.configured) {
            xdg_surface_ack_configure(shell, g.serial);
            wl_surface_commit(surface);
        }
        usleep(100000);
    }
    // Everything let go, so that the leak checker of a sanitizer build has nothing to say.
    wl_buffer_destroy(buffer);
    wl_shm_pool_destroy(pool);
    munmap(pixels, static_cast<std::size_t>(size));
    close(fd);
    xdg_toplevel_destroy(toplevel);
    xdg_surface_destroy(shell);
    wl_surface_destroy(surface);
    xdg_wm_base_destroy(g.base);
    wl_shm_destroy(g.shm);
    wl_compositor_destroy(g.compositor);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == u"make") {
        QImage image(64, 64, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 32; ++x)
                image.setPixel(x, y, qRgb(255, 0, 0));
        return image.save(args[1]) ? 0 : 1;
    }
    if (args.size() == 4 && args[0] == u"pixel") {
        const QRgb pixel = QImage(args[1]).pixel(args[2].toInt(), args[3].toInt());
        std::printf("%d %d %d\n", qRed(pixel), qGreen(pixel), qBlue(pixel));
        return 0;
    }
    if (args.size() == 6 && args[0] == u"drawn") {
        const QImage shot(args[1]);
        const QRect area = QRect(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[5].toInt()) & shot.rect();
        int drawn = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                drawn += (shot.pixel(x, y) & 0xFFFFFF) != 0x336699 ? 1 : 0;
        std::printf("%d\n", drawn);
        return 0;
    }
    if (args.size() == 2 && (args[0] == u"fullscreen" || args[0] == u"window"))
        return ShowWindow(args[1].toInt(), args[0] == u"fullscreen");
    const bool listen = args.size() == 6 && args[0] == u"listen";
    if (!listen && (args.size() != 5 || args[0] != u"show"))
        return 2;
    TWaylandConnection connection;
    if (!connection.Usable()) {
        std::fprintf(stderr, "layer_probe: no compositor with the layer shell\n");
        return 1;
    }
    TLayerSurface surface(connection, listen ? TLayerSurface::Layer::Top : TLayerSurface::Layer::Overlay);
    if (listen) {
        QImage grey(args[3].toInt(), args[4].toInt(), QImage::Format_ARGB32);
        grey.fill(qRgb(128, 128, 128));
        surface.Show(grey, QPoint(args[1].toInt(), args[2].toInt()), {});
        QObject::connect(&surface, &TLayerSurface::PointerButton, [](Qt::MouseButton, bool pressed, QPoint at) {
            if (pressed)
                std::printf("click %d %d\n", at.x(), at.y());
            std::fflush(stdout);
        });
    } else {
        surface.Show(QImage(args[1]), QPoint(args[2].toInt(), args[3].toInt()), QRegion(0, 0, 32, 64));
    }
    QTimer::singleShot(args.last().toInt(), &app, &QCoreApplication::quit);
    return app.exec();
}
