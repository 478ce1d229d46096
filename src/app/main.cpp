#include "app/LibraryFile.h"
#include "app/PetTray.h"
#include "app/QtPrompts.h"
#include "app/SessionPlatform.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignal.h"
#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "app/FrmMain.h"
#include "common/AppDirs.h"
#include "packer/FrmPacker.h"
#include "player/PetHerd.h"
#include "player/PetOutput.h"
#include "player/WaylandConnection.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include <malloc.h>
#include <unistd.h>

namespace {

// Set once the library is saved: what comes after (a hand-off, the files of the start) opens
// nothing more.
bool gEnding = false;

// Files from the desktop or from a later start: packages join the library and each plays
// as a pet of its own; a project opens in the packer.
void OpenFiles(TFrmMain& main, TFrmPacker& packer, const QStringList& absolutePaths)
{
    if (gEnding)
        return;
    QStringList packages;
    QString project;
    for (const QString& path : absolutePaths) {
        if (path.endsWith(QStringLiteral(".zvp"), Qt::CaseInsensitive))
            project = path;
        else
            packages.append(path);
    }
    if (!packages.isEmpty())
        main.OpenPackages(packages);
    if (!project.isEmpty()) {
        main.OnPackerClicked();
        packer.Editor().OpenProject(project);
    }
}

void Say(const QString& line) { std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData()); }

// Two library windows on one library file would each save only their own list: a later
// start hands its files to the running Zuvora and ends. The exit code when this start ends.
std::optional<int> BecomeTheInstance(TInstanceServer& instance, const QString& libraryFile, const QStringList& files)
{
    QString failure;
    const QString runtimeFolder = InstanceRuntimeFolder(&failure);
    if (runtimeFolder.isEmpty())
        Say(QStringLiteral("zuvora: %1").arg(failure));
    const QString socket = runtimeFolder.isEmpty() ? QString() : InstanceSocketPath(runtimeFolder, libraryFile);
    QString note;
    switch (instance.Start(libraryFile, socket, files, THandOffPatience(), Say, &note)) {
    case TInstanceServer::TRole::HandedOff:
        return 0;
    case TInstanceServer::TRole::TooLarge:
        Say(note);
        return 2;
    case TInstanceServer::TRole::NotAnswering:
        Say(note);
        // Started from the desktop, nobody reads standard error.
        if (!::isatty(STDERR_FILENO) && QGuiApplication::platformName() != u"offscreen")
            QtPrompts().Error(note.mid(note.indexOf(u' ') + 1));
        return 1;
    case TInstanceServer::TRole::Alone:
        Say(note);
        break;
    case TInstanceServer::TRole::Serving:
        break;
    }
    return std::nullopt;
}

// Files from later starts open here; a start without files brings the library forward.
void ServeLaterStarts(TInstanceServer& instance, TFrmMain& main, TFrmPacker& packer)
{
    QObject::connect(&instance, &TInstanceServer::Received, &main, [&main, &packer](const QStringList& received) {
        if (gEnding)
            return;
        if (!received.isEmpty()) {
            OpenFiles(main, packer, received);
            return;
        }
        main.showNormal();
        main.raise();
        main.activateWindow();
    });
    // Files handed over once the library is saved would be lost: the next start runs anew.
    if (QWindow* window = main.windowHandle()) {
        QObject::connect(window, &QWindow::visibleChanged, &instance, [&instance](bool visible) {
            if (!visible)
                instance.Close();
        });
    }
}

// A first run starts with the sample pet in the library, so there is something to play:
// beside the program in the build tree, in the data folder once installed. Given on the
// command line, it is listed once, as given.
void AddSamplePet(TFrmMain& main, const QStringList& given)
{
    const QDir program(ExecutableFolder());
    for (const QString& pip : {program.filePath(QStringLiteral("Pip.zvk")),
                               program.filePath(QStringLiteral("../share/zuvora/Pip.zvk"))}) {
        const QString sample = QFileInfo(pip).canonicalFilePath();
        if (sample.isEmpty())
            continue;
        const bool listedAnyway = std::any_of(given.begin(), given.end(), [&](const QString& file) {
            return QFileInfo(file).canonicalFilePath() == sample;
        });
        if (!listedAnyway)
            main.AppendPackages({sample});
        return;
    }
}

// What the process needs set before Qt starts: its heap, its X11 transport and its platform.
void PrepareProcess()
{
    // One heap for all threads: the shelf's thread decodes a sheet now and then, which is no
    // reason for it to keep a heap of its own in memory.
    mallopt(M_ARENA_MAX, 1);
    // Pets send a small image per frame per window. Through shared memory each costs the X
    // server a completion event back, which wakes both of Qt's threads: over the socket the
    // same frame costs less of both (seven pets: 365 wake-ups a second against 150). The
    // person's own setting wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    const QString platform =
        PreferredPlatform(qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("XDG_SESSION_TYPE"),
                          qEnvironmentVariable("WAYLAND_DISPLAY"), qEnvironmentVariable("DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toUtf8());
}

// --platform x11|layer-shell says where pets are drawn, over the settings' choice. Qt would
// take it for its own platform option: it is taken out of argv before Qt sees it. False for
// a choice that is neither.
bool TakePetOutputOption(int& argc, char* argv[], std::optional<QString>& chosen)
{
    for (int i = 1; i < argc; ++i) {
        // "--platform VALUE" or "--platform=VALUE"
        const bool joined = std::strncmp(argv[i], "--platform=", 11) == 0;
        if (!joined && (std::strcmp(argv[i], "--platform") != 0 || i + 1 == argc))
            continue;
        chosen = QString::fromLocal8Bit(joined ? argv[i] + 11 : argv[i + 1]);
        if (*chosen != kX11Output && *chosen != kLayerShellOutput) {
            std::fprintf(stderr, "zuvora: --platform takes x11 or layer-shell\n");
            return false;
        }
        const int taken = joined ? 1 : 2;
        std::copy(argv + i + taken, argv + argc + 1, argv + i);
        argc -= taken;
        break;
    }
    return true;
}

// Zuvora ends with the library window's close, which saves the library.
void EndWithTheLibrary(TFrmMain& main)
{
    QObject::connect(&main, &TFrmMain::Closed, qApp, [] { gEnding = true; });
    QObject::connect(&main, &TFrmMain::Closed, qApp, [] {
        // The library is saved: whatever still runs (a sound server that never answers) may
        // hold Zuvora up for two seconds at most.
        EndProcessWithin(2000);
        QCoreApplication::quit();
    }, Qt::QueuedConnection);
}

std::optional<int> AnswerHelpOrVersion(int argc, char* argv[])
{
    QCoreApplication core(argc, argv);
    const TCommandLine early = ReadCommandLine(QCoreApplication::arguments(), true);
    if (early.ExitCode)
        std::fputs(early.Output.toLocal8Bit().constData(), stdout);
    return early.ExitCode;
}

}  // namespace

int main(int argc, char* argv[])
{
    PrepareProcess();
    std::optional<QString> chosenOutput;
    if (!TakePetOutputOption(argc, argv, chosenOutput))
        return 2;
    // --help and --version answer without a display, before the windows' application starts.
    if (const std::optional<int> exitCode = AnswerHelpOrVersion(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setDesktopFileName(QStringLiteral("org.zuvora.zuvora"));
    QApplication::setWindowIcon(ZuvoraIcon(ExecutableFolder()));

    QtPrompts prompts;
    const QString libraryFile = LibraryFilePath(ExecutableFolder(), AppDataFolder());
    // Qt has taken its own options: anything else Zuvora does not take is an error.
    const TCommandLine commandLine = ReadCommandLine(QApplication::arguments());
    if (commandLine.ExitCode) {
        std::fputs(commandLine.Output.toLocal8Bit().constData(), stderr);
        return *commandLine.ExitCode;
    }
    // --restore (from the desktop session's start) brings back the pets of the last run.
    const bool restore = commandLine.Restore;
    QString output = chosenOutput.value_or(PetOutputSetting());
    QStringList files;
    for (const QString& file : commandLine.Files)
        files.append(QFileInfo(file).absoluteFilePath());
    TInstanceServer instance;
    if (const std::optional<int> exitCode = BecomeTheInstance(instance, libraryFile, files))
        return *exitCode;
    // A session's end closes the library window as the user would, which saves the library.
    TTerminationSignal termination;

    const bool firstRun = !QFileInfo::exists(libraryFile);
    TFrmMain main(prompts, libraryFile);
    prompts.SetParent(&main);
    ChoosePetOutput(output);
    TPetHerd pets(prompts, PetDesktop());
    main.SetPlayer(&pets);
    TPetTray tray(main, pets);
    const bool inTray = tray.Show();
    // With a tray the library may be out of sight while pets play: Zuvora ends with the
    // library's close, which saves it, not with the last window seen.
    if (inTray)
        QApplication::setQuitOnLastWindowClosed(false);
    EndWithTheLibrary(main);
    // The packer's dialogs belong to the packer, so they come up over it, not over the library.
    QtPrompts packerPrompts;
    packerPrompts.SetTitle(kPackerTitle);
    TFrmPacker packer(packerPrompts);
    packerPrompts.SetParent(&packer);
    main.SetPacker(&packer);
    QObject::connect(&packer, &TFrmPacker::PlayPackage, &main, &TFrmMain::PlayPackage);
    if (!restore) {
        main.show();
    } else {
        main.EnsureLoaded();
        if (!inTray)
            main.showMinimized();
        pets.RestoreLastPets();
    }
    QObject::connect(&termination, &TTerminationSignal::Requested, &main, &QWidget::close);
    // So does the compositor's going away, which ends the session the pets were drawn in.
    if (TWaylandConnection* wayland = PetWayland())
        QObject::connect(wayland, &TWaylandConnection::Lost, &main, &QWidget::close);
    ServeLaterStarts(instance, main, packer);
    if (firstRun)
        AddSamplePet(main, files);

    // From the event loop, so that a box this opens ends with it when Zuvora is told to end.
    QTimer::singleShot(0, &main, [&main, &packer, files] { OpenFiles(main, packer, files); });
    return QApplication::exec();
}
