#pragma once

#include <QString>

class TDesktop;
class TWaylandConnection;

// Where pets are drawn, chosen once when Zuvora starts: as windows of their own on X11
// (and XWayland), as layer surfaces of a Wayland compositor that offers the layer shell,
// or, where neither is there, as ordinary windows of Qt's Wayland platform, which the
// compositor places and stacks as it likes.
enum class TPetOutput { X11Windows, LayerShell, QtWindows };

// Decides, from the person's choice ("x11" or "layer-shell"; empty: none) and what the
// session offers. Said on standard error when pets cannot be placed or kept above.
// Call once, with the application made.
TPetOutput ChoosePetOutput(const QString& chosen);
TPetOutput PetOutput();
// Whether a pet window's place is what the person sees: not under Qt's Wayland platform,
// which cannot tell where the compositor put a window (it says 0,0).
bool PetPlacesKnown();
// The desktop pets live on when it is not the one Qt's screens tell: the compositor's
// outputs under the layer shell. Null otherwise.
TDesktop* PetDesktop();
// The layer-shell connection, when that is where pets are drawn; null otherwise.
TWaylandConnection* PetWayland();
// The person's choice kept in settings (Player/Platform); empty for none.
QString PetOutputSetting();
// The choice's names, as given on the command line and in settings.
inline const QString kX11Output = QStringLiteral("x11");
inline const QString kLayerShellOutput = QStringLiteral("layer-shell");
