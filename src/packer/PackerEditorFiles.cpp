// The editor's file commands: a project opened, saved, closed, and built into a package.
#include "packer/PackerEditor.h"

#include "common/Error.h"
#include "common/Prompts.h"
#include "common/Settings.h"
#include "package/PackageCache.h"
#include "packer/ProjectFile.h"
#include "packer/RecentProjects.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <new>

void TPackerEditor::SetFileCommandsEnabled(bool enabled)
{
    if (enabled == fileCommandsEnabled_)
        return;
    fileCommandsEnabled_ = enabled;
    emit FileCommandsEnabledChanged(enabled);
}

void TPackerEditor::ClearProject()
{
    shown_ = nullptr;
    suppressSelection_ = true;
    actions_.Clear();
    projectFileName_.clear();
    builtTo_.clear();
    suppressSelection_ = false;
    ClearLists();
    saved_.clear();
    ResetHistory();
    emit ProjectCleared();
}

bool TPackerEditor::ConfirmDiscard()
{
    if (!IsModified())
        return true;
    const QString project = projectFileName_.isEmpty() ? QStringLiteral("The new project")
                                                       : QStringLiteral("The project ") + projectFileName_;
    switch (prompts_.AskSaveChanges(project + QStringLiteral(" has changes that are not saved. Save them?"))) {
    case Prompts::SaveChoice::Save:
        return FileSave();
    case Prompts::SaveChoice::Discard:
        return true;
    case Prompts::SaveChoice::Cancel:
        break;
    }
    return false;
}

void TPackerEditor::FileNew()
{
    if (!ConfirmDiscard())
        return;
    ClearProject();
    SetFileCommandsEnabled(true);
}

void TPackerEditor::FileOpen()
{
    if (!ConfirmDiscard())
        return;
    const QString path = prompts_.OpenFile(kProjectFilter);
    if (!path.isEmpty())
        LoadFrom(path);
}

void TPackerEditor::OpenProject(const QString& path)
{
    if (ConfirmDiscard())
        LoadFrom(path);
}

void TPackerEditor::OpenRecent(const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        RemoveRecentProject(path);
        prompts_.Error(path + QStringLiteral(" does not exist!"));
        return;
    }
    OpenProject(path);
}

void TPackerEditor::LoadFrom(const QString& chosen)
{
    // Opened through a link, the project is the file it leads to: saved there, not over it.
    const QString path = ResolvedProjectPath(chosen);
    ClearProject();
    const std::optional<QString> failure = LoadProject(path, actions_);
    SetFileCommandsEnabled(true);
    ResetHistory();
    if (failure) {
        // What was read stays open, but without a file name: the next save asks where to
        // write instead of replacing the damaged file with part of it.
        prompts_.Warning(QStringLiteral("%1 could not be read whole: %2\nThe actions read before the damage are "
                                        "open; saving them asks for a new file name.")
                             .arg(path, *failure));
        return;
    }
    projectFileName_ = path;
    RecallBuild();
    saved_ = actions_.Read();
    AddRecentProject(path);
    history_.setClean();
    emit ProjectChanged();
}

bool TPackerEditor::FileSave()
{
    if (!projectFileName_.isEmpty())
        return SaveTo(projectFileName_);
    return FileSaveAs();
}

bool TPackerEditor::FileSaveAs()
{
    const QString chosen = prompts_.SaveFile(kProjectFilter, SuggestedFile(QStringLiteral(".zvp")));
    return !chosen.isEmpty() && SaveTo(WithProjectExtension(chosen));
}

QString TPackerEditor::SuggestedFile(const QString& extension) const
{
    if (projectFileName_.isEmpty())
        return QStringLiteral("Untitled") + extension;
    const QFileInfo project(projectFileName_);
    return project.dir().filePath(project.completeBaseName() + extension);
}

bool TPackerEditor::SaveTo(const QString& path)
{
    StoreLists(actions_.Node(SelectedAction()));
    const QList<TProjectAction> project = actions_.Read();
    try {
        SaveProject(path, project);
    } catch (const TError& error) {
        prompts_.Error(QStringLiteral("The project could not be saved to %1: %2").arg(path, error.Text()));
        return false;
    }
    // A new project file keeps where its project was built, as the first save of it.
    const bool firstSave = projectFileName_ != path;
    projectFileName_ = path;
    if (firstSave && !builtTo_.isEmpty())
        RememberBuild(builtTo_);
    saved_ = project;
    AddRecentProject(path);
    history_.setClean();
    emit ProjectChanged();
    // Said without a box that would stop the person's work.
    emit Saved(path + QStringLiteral(" has been saved"));
    return true;
}

bool TPackerEditor::FileClose()
{
    if (!ConfirmDiscard())
        return false;
    ClearProject();
    SetFileCommandsEnabled(false);
    return true;
}

bool TPackerEditor::CloseQuery() { return !fileCommandsEnabled_ || FileClose(); }

namespace {

// The setting under which a project file keeps where it was last built.
QString BuiltToKey(const QString& projectFile)
{
    return QStringLiteral("Packer/BuiltTo/") + PathDigest(projectFile);
}

}  // namespace

QString TPackerEditor::ChoosePackageFile(bool ask)
{
    if (!ask && !builtTo_.isEmpty() && QFileInfo(QFileInfo(builtTo_).absolutePath()).isDir())
        return builtTo_;
    return prompts_.SaveFile(kPackageFilter, builtTo_.isEmpty() ? SuggestedFile(QStringLiteral(".zvk")) : builtTo_);
}

void TPackerEditor::RememberBuild(const QString& package)
{
    builtTo_ = package;
    if (!projectFileName_.isEmpty())
        WriteSetting(BuiltToKey(projectFileName_), package);
}

void TPackerEditor::RecallBuild()
{
    builtTo_ = projectFileName_.isEmpty() ? QString() : ReadSetting(BuiltToKey(projectFileName_)).toString();
}

bool TPackerEditor::BuildPackage(const QString& chosenName, const TBuildHooks& hooks)
{
    // The archive writer lets the window take input meanwhile: a second build must wait.
    if (building_ || chosenName.isEmpty())
        return false;
    building_ = true;
    const auto done = qScopeGuard([this] { building_ = false; });
    StoreLists(actions_.Node(SelectedAction()));
    try {
        const bool built = TPackageBuilder(prompts_, hooks).Build(actions_.Read(), chosenName, projectFileName_);
        if (built)
            RememberBuild(WithPackageExtension(chosenName));
        return built;
    } catch (const TError& error) {
        prompts_.Error(error.Text());
    } catch (const std::bad_alloc&) {
        prompts_.Error(QStringLiteral("There is not enough memory to build %1.").arg(WithPackageExtension(chosenName)));
    }
    return false;
}
