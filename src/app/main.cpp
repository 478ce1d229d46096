#include "app/QtPrompts.h"
#include "app/TFrmMain.h"
#include "common/AppDirs.h"
#include "player/TFrmPlay.h"

#include <QApplication>
#include <QDir>

namespace {

// The pet needs a window that stays on top and places itself, which native Wayland does not
// allow; in a Wayland session with X11 beside it, run on X11 unless the user chose otherwise.
void PreferX11UnderWayland()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland" ||
                         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

}  // namespace

int main(int argc, char* argv[])
{
    PreferX11UnderWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("1.0"));

    QtPrompts prompts;
    TFrmMain main(prompts, QDir(ExecutableFolder()).filePath(QStringLiteral("Zuvora.Dat")));
    prompts.SetParent(&main);
    TFrmPlay player(prompts);
    main.SetPlayer(&player);
    main.show();
    return QApplication::exec();
}
