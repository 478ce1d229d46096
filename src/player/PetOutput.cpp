#include "player/PetOutput.h"

#include "common/Settings.h"
#include "player/Desktop.h"
#include "player/WaylandConnection.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {

// The compositor's outputs as the desktop: no panel tells its reserved room here, so a
// work area is the whole output.
class TLayerShellDesktop : public TDesktop {
public:
    explicit TLayerShellDesktop(TWaylandConnection& connection) : connection_(connection)
    {
        connect(&connection_, &TWaylandConnection::OutputsChanged, this, &TDesktop::WorkAreasChanged);
    }
    QList<QRect> WorkAreas() const override { return connection_.Outputs(); }
    QRect WorkAreaAt(QPoint point) const override
    {
        const QList<QRect> areas = WorkAreas();
        for (const QRect& area : areas) {
            if (area.contains(point))
                return area;
        }
        return areas.value(0);
    }

private:
    TWaylandConnection& connection_;
};

TPetOutput gOutput = TPetOutput::X11Windows;
std::unique_ptr<TWaylandConnection> gWayland;
std::unique_ptr<TLayerShellDesktop> gDesktop;

}  // namespace

TPetOutput ChoosePetOutput(const QString& chosen)
{
    const bool x11 = QGuiApplication::platformName() == u"xcb";
    const bool waylandSession = !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
    if (chosen != kX11Output && (chosen == kLayerShellOutput || waylandSession)) {
        auto connection = std::make_unique<TWaylandConnection>();
        if (connection->Usable()) {
            gWayland = std::move(connection);
            gDesktop = std::make_unique<TLayerShellDesktop>(*gWayland);
            return gOutput = TPetOutput::LayerShell;
        }
        // A display that does not answer is said alone: what it would offer is not known.
        if (!connection->Failure().isEmpty()) {
            std::fprintf(stderr, "zuvora: the Wayland display %s %s: pets are drawn as %s\n",
                         qUtf8Printable(TWaylandConnection::DisplayName()), qUtf8Printable(connection->Failure()),
                         x11 ? "X11 windows" : "ordinary windows");
            return gOutput = x11 ? TPetOutput::X11Windows : TPetOutput::QtWindows;
        }
        if (chosen == kLayerShellOutput)
            std::fprintf(stderr, "zuvora: this desktop offers no layer shell: pets are drawn as %s\n",
                         x11 ? "X11 windows" : "ordinary windows");
    }
    if (x11)
        return gOutput = TPetOutput::X11Windows;
    if (waylandSession)
        std::fprintf(stderr, "zuvora: this Wayland desktop offers neither the layer shell nor X11: pets cannot be "
                             "placed or kept above other windows here\n");
    return gOutput = TPetOutput::QtWindows;
}

TPetOutput PetOutput() { return gOutput; }

QString PetOutputSetting()
{
    const QString chosen = ReadSetting(QStringLiteral("Player/Platform")).toString();
    return chosen == kX11Output || chosen == kLayerShellOutput ? chosen : QString();
}

TWaylandConnection* PetWayland() { return gWayland.get(); }

TDesktop* PetDesktop() { return gDesktop.get(); }

bool PetPlacesKnown() { return gOutput == TPetOutput::LayerShell || QGuiApplication::platformName() != u"wayland"; }
