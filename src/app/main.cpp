#include "app/LibraryFile.h"
#include "app/QtPrompts.h"
#include "app/SessionPlatform.h"
#include "app/TFrmMain.h"
#include "common/AppDirs.h"
#include "packer/TFrmPacker.h"
#include "player/TFrmPlay.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <malloc.h>

int main(int argc, char* argv[])
{
    // One heap for all threads: the playback thread allocates a few bytes a frame, which
    // is no reason for it to keep a heap of its own in memory.
    mallopt(M_ARENA_MAX, 1);
    const QString platform =
        PreferredPlatform(qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("XDG_SESSION_TYPE"),
                          qEnvironmentVariable("WAYLAND_DISPLAY"), qEnvironmentVariable("DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("1.0"));

    QtPrompts prompts;
    const QString libraryFile = LibraryFilePath(ExecutableFolder(), AppDataFolder());
    const bool firstRun = !QFileInfo::exists(libraryFile);
    TFrmMain main(prompts, libraryFile);
    prompts.SetParent(&main);
    TFrmPlay player(prompts);
    main.SetPlayer(&player);
    // The packer's dialogs belong to the packer, so they come up over it, not over the library.
    QtPrompts packerPrompts;
    TFrmPacker packer(packerPrompts);
    packerPrompts.SetParent(&packer);
    main.SetPacker(&packer);
    main.show();
    // A first run starts with the sample pet in the library, so there is something to play:
    // beside the program in the build tree, in the data folder once installed.
    if (firstRun) {
        const QDir program(ExecutableFolder());
        for (const QString& pip : {program.filePath(QStringLiteral("Pip.zvk")),
                                   program.filePath(QStringLiteral("../share/zuvora/Pip.zvk"))}) {
            if (QFileInfo(pip).isFile()) {
                main.AppendPackages({QFileInfo(pip).canonicalFilePath()});
                break;
            }
        }
    }

    // Files from the desktop: packages join the library and the first plays; a project opens
    // in the packer.
    QStringList packages;
    QString project;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        const QString path = QFileInfo(argument).absoluteFilePath();
        if (path.endsWith(QStringLiteral(".zvp"), Qt::CaseInsensitive))
            project = path;
        else
            packages.append(path);
    }
    if (!packages.isEmpty())
        main.OpenPackages(packages);
    if (!project.isEmpty()) {
        main.btnPackerClick();
        packer.Editor().OpenProject(project);
    }
    return QApplication::exec();
}
