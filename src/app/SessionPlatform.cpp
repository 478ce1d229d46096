#include "app/SessionPlatform.h"

QString PreferredPlatform(const QString& chosenPlatform, const QString& sessionType, const QString& waylandDisplay,
                          const QString& x11Display)
{
    if (!chosenPlatform.isEmpty())
        return {};
    const bool wayland = sessionType == u"wayland" || !waylandDisplay.isEmpty();
    if (wayland && !x11Display.isEmpty())
        return QStringLiteral("xcb");
    return {};
}
