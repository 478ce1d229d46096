#include "Commands.h"

#include "common/Error.h"
#include "image/ImageFormat.h"
#include "package/PackageLayout.h"
#include "packer/FrameImport.h"
#include "packer/ProjectFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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

// The frames of `file` as the packer's Add or Import Sprite Sheet would list them.
QStringList Frames(const QString& file, const QString& project, const std::optional<TSheetGrid>& grid)
{
    if (grid)
        return ImportSpriteSheet(file, project, *grid);
    if (IsImportedImage(file))
        return ImportAnimation(file, project);
    const QString format = DetectImageFormat(file);
    if (!IsDecodableFormat(format))
        throw TError(file + QStringLiteral(": not an image the packer takes (PNG, JPEG, BMP, GIF, APNG or WebP)"));
    return {file};
}

}  // namespace

// Appends one action with the frames of an image, an animation or a sprite sheet to a
// project, making the project when it does not exist.
int ImportCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    const std::optional<TSheetGrid> grid = GridOption(arguments);
    const QString file = QFileInfo(args[0]).absoluteFilePath();
    const QString project = WithProjectExtension(QFileInfo(args[1]).absoluteFilePath());
    if (!QFileInfo(file).isFile()) {
        PrintErr(args[0] + QStringLiteral(" does not exist!"));
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
    const QString name =
        arguments.Options.value(QStringLiteral("--action"), QFileInfo(file).completeBaseName()).left(kMaxActionName);
    const QStringList frames = Frames(file, project, grid);
    QList<TProjectAction> projectActions = actions.Read();
    projectActions.append({name, frames, {}});
    try {
        SaveProject(project, projectActions);
    } catch (const TError&) {
        // Frames nobody lists are of no use: the folder made for them goes too.
        if (frames.first() != file)
            QDir(QFileInfo(frames.first()).absolutePath()).removeRecursively();
        throw;
    }
    const QString folder = frames.first() == file ? QString() : QFileInfo(frames.first()).absolutePath();
    PrintOut(QStringLiteral("%1: the action \"%2\" of %3 frame entries added to %4%5")
                 .arg(args[0], name)
                 .arg(frames.size())
                 .arg(project, folder.isEmpty() ? QString() : QStringLiteral(", its frames in ") + folder));
    return 0;
}
