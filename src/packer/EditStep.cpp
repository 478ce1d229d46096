#include "packer/EditStep.h"

#include <utility>

void TEditStep::undo()
{
    QList<TProjectAction> actions = editor_.committed_.Actions;
    delta_.Undo(actions);
    editor_.Restore(actions, before_);
}

void TEditStep::redo()
{
    // Pushed once the edit is made.
    if (std::exchange(made_, false))
        return;
    QList<TProjectAction> actions = editor_.committed_.Actions;
    delta_.Redo(actions);
    editor_.Restore(actions, after_);
}
