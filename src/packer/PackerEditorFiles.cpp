// The editor's file commands: a project opened, saved, closed, and built into a package.
#include "packer/PackerEditor.h"

#include "common/Error.h"
#include "common/Prompts.h"
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
    projectFileName_ = path;
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

QString TPackerEditor::ChoosePackageFile() { return prompts_.SaveFile(kPackageFilter, SuggestedFile(QStringLiteral(".zvk"))); }

bool TPackerEditor::BuildPackage(const QString& chosenName, const TBuildHooks& hooks)
{
    // The archive writer lets the window take input meanwhile: a second build must wait.
    if (building_ || chosenName.isEmpty())
        return false;
    building_ = true;
    const auto done = qScopeGuard([this] { building_ = false; });
    StoreLists(actions_.Node(SelectedAction()));
    try {
        return TPackageBuilder(prompts_, hooks).Build(actions_.Read(), chosenName, projectFileName_);
    } catch (const TError& error) {
        prompts_.Error(error.Text());
    } catch (const std::bad_alloc&) {
        prompts_.Error(QStringLiteral("There is not enough memory to build %1.").arg(WithPackageExtension(chosenName)));
    }
    return false;
}
