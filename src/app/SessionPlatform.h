#pragma once

#include <QString>

// The pet needs a window that stays on top and places itself, which native Wayland does not
// allow. In a Wayland session that also offers X11 (XWayland), the program runs on X11,
// unless the user chose a platform (QT_QPA_PLATFORM). Returns the platform to use, or
// empty to leave Qt's choice alone.
QString PreferredPlatform(const QString& chosenPlatform, const QString& sessionType, const QString& waylandDisplay,
                          const QString& x11Display);
