#include "Commands.h"

#include "common/Error.h"
#include "image/ImageFormat.h"
#include "package/PackageLayout.h"
#include "packer/FrameImport.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <signal.h>

#include <optional>

namespace {

// "COLSxROWS" or "WxH": two whole numbers from 1 on.
QSize ParsePair(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,6})[xX]([0-9]{1,6})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    const QSize size = match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
    if (size.isEmpty())
        throw UsageError{};
    return size;
}

std::optional<TSheetGrid> GridOption(const TArguments& arguments)
{
    const bool byCount = arguments.Options.contains(QStringLiteral("--grid"));
    const bool bySize = arguments.Options.contains(QStringLiteral("--cell"));
    if (byCount && bySize)
        throw UsageError{};
    if (!byCount && !bySize)
        return std::nullopt;
    TSheetGrid grid;
    if (byCount) {
        const QSize count = ParsePair(arguments.Options.value(QStringLiteral("--grid")));
        grid.Columns = count.width();
        grid.Rows = count.height();
    } else {
        grid.By = TSheetGrid::Kind::CellSize;
        grid.CellSize = ParsePair(arguments.Options.value(QStringLiteral("--cell")));
    }
    return grid;
}

// How the action moves, from --role, --move DX,DY, --facing and --interval; a value the
// project could not keep is a usage error.
TMotion MotionOptions(const TArguments& arguments)
{
    TMotion motion;
    const auto option = [&](const char* name, auto parse, auto& into) {
        const QString key = QString::fromLatin1(name);
        if (!arguments.Options.contains(key))
            return;
        into = parse(arguments.Options.value(key));
        if (!into)
            throw UsageError{};
    };
    option("--role", ParseRole, motion.Role);
    option("--move", [](const QString& text) { return ParseMove(QString(text).replace(u',', u' ')); }, motion.Move);
    option("--facing", ParseFacing, motion.Facing);
    option("--interval", ParseInterval, motion.Interval);
    return motion;
}

// The frames of `file` as the packer's Add or Import Sprite Sheet would list them, at most
// `room` entries. An animation's are repeated at the motion's frame time, or at the one
// its delays give, which then becomes the motion's.
QStringList Frames(const QString& file, const QString& project, const std::optional<TSheetGrid>& grid, int room,
                   TMotion& motion)
{
    if (grid)
        return ImportSpriteSheet(file, project, *grid, room);
    if (IsImportedImage(file)) {
        const TImportedAnimation animation = ImportAnimation(file, project, room, {}, motion.Interval);
        // The default is left unwritten, so that such a project reads as before.
        if (!motion.Interval && animation.FrameMs != kFrameMs)
            motion.Interval = animation.FrameMs;
        return animation.Entries;
    }
    CheckImageFile(file, TImageUse::Frame).Usable();
    if (!IsStorablePath(file))
        throw TError(QStringLiteral("%1: its path %2").arg(file, kUnstorablePath));
    return {file};
}

// Ctrl+C or a kill stops the import at its next frame, so that its temporary folder goes
// with it. The handler is reset when it runs: a second one ends the program at once.
void StopImportOnSignals()
{
    struct sigaction action {};
    action.sa_handler = InterruptImports;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) {
        // One ignored from the start, as a job in the background is, stays ignored.
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

// Appends one action with the frames of an image, an animation or a sprite sheet to a
// project, making the project when it does not exist.
int ImportCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    const std::optional<TSheetGrid> grid = GridOption(arguments);
    TMotion motion = MotionOptions(arguments);
    const QString file = QFileInfo(args[0]).absoluteFilePath();
    // Through a link, the project is the file it leads to: its frames go beside that file.
    const QString project = ResolvedProjectPath(WithProjectExtension(QFileInfo(args[1]).absoluteFilePath()));
    if (!QFileInfo(file).isFile()) {
        PrintErr(args[0] + QStringLiteral(" does not exist!"));
        return 1;
    }
    const bool named = arguments.Options.contains(QStringLiteral("--action"));
    QString name = arguments.Options.value(QStringLiteral("--action"), QFileInfo(file).completeBaseName()).left(kMaxActionName);
    if (const QString problem = ActionNameProblem(name); !problem.isEmpty()) {
        PrintErr(QStringLiteral("The action's name %1.").arg(problem));
        return 1;
    }
    TActionModel actions;
    // Saving what was read of a damaged project would drop the rest of it.
    if (QFileInfo::exists(project)) {
        if (const std::optional<QString> failure = LoadProject(project, actions)) {
            PrintErr(QStringLiteral("%1 could not be read whole: %2").arg(project, *failure));
            return 1;
        }
    }
    // A project past its limits would be read back in part: refused before anything is written.
    QList<TProjectAction> projectActions = actions.Read();
    qsizetype held = 0;
    for (const TProjectAction& action : projectActions)
        held += action.Frames.size();
    if (projectActions.size() >= kMaxPackageActions || held >= kMaxPackageFrames) {
        PrintErr(QStringLiteral("%1 holds %2 actions and %3 frames; a project holds at most %4 actions and %5 frames")
                     .arg(project).arg(projectActions.size()).arg(held).arg(kMaxPackageActions).arg(kMaxPackageFrames));
        return 1;
    }
    StopImportOnSignals();
    QStringList frames;
    try {
        frames = Frames(file, project, grid, static_cast<int>(kMaxPackageFrames - held), motion);
    } catch (const TError& error) {
        if (const int signal = ImportInterruption(); signal != 0) {
            // The frames written so far are gone; the program ends as the signal ends it.
            PrintErr(error.Text());
            ::raise(signal);
        }
        throw;
    }
    const QString folder = frames.first() == file ? QString() : QFileInfo(frames.first()).absolutePath();
    // Imported again, the frames go to a folder of another name ("walk-2"): so does the action.
    if (!named && !folder.isEmpty())
        name = QFileInfo(folder).fileName().left(kMaxActionName);
    projectActions.append({name, frames, {}, motion});
    try {
        SaveProject(project, projectActions);
    } catch (const TError&) {
        // Frames nobody lists are of no use: the folder made for them goes too.
        if (frames.first() != file)
            QDir(QFileInfo(frames.first()).absolutePath()).removeRecursively();
        throw;
    }
    PrintOut(QStringLiteral("%1: the action \"%2\" of %3 frame entries added to %4%5")
                 .arg(args[0], name)
                 .arg(frames.size())
                 .arg(project, folder.isEmpty() ? QString() : QStringLiteral(", its frames in ") + folder));
    return 0;
}
