#include "Commands.h"
#include "ConsolePrompts.h"

#include "packer/PackageBuild.h"
#include "packer/ProjectFile.h"

#include <QFileInfo>

namespace {

// The packer's plain boxes (the success line, an empty frame's "0") add nothing here: the
// log on standard output says the same.
class BuildPrompts : public ConsolePrompts {
public:
    void Message(const QString&, const QString&) override {}
};

}  // namespace

// Builds a project file into a package, as the packer's "Build Zuvo Package" does.
int BuildCommand(const TArguments& arguments)
{
    const QStringList& args = arguments.Expect(2);
    const QString project = QFileInfo(args[0]).absoluteFilePath();
    if (!QFileInfo(project).isFile()) {
        PrintErr(args[0] + QStringLiteral(" does not exist!"));
        return 1;
    }
    TActionModel actions;
    // A project read in part would build a package that silently lacks actions.
    if (const std::optional<QString> failure = LoadProject(project, actions)) {
        PrintErr(QStringLiteral("%1 could not be read whole: %2").arg(args[0], *failure));
        return 1;
    }
    BuildPrompts prompts;
    TBuildHooks hooks;
    hooks.Memo = PrintOut;
    return TPackageBuilder(prompts, hooks).Build(actions.Read(), args[1], project) ? 0 : 1;
}
