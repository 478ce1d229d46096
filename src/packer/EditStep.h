#pragma once

#include "packer/PackerEditor.h"
#include "packer/ProjectDelta.h"

#include <QUndoCommand>

#include <utility>

// One step of the project's history: the change kept small, and the selection on either
// side of it.
class TEditStep : public QUndoCommand {
public:
    TEditStep(TPackerEditor& editor, const QString& name, TProjectDelta delta, int selectedBefore, int selectedAfter)
        : QUndoCommand(name), editor_(editor), delta_(std::move(delta)), before_(selectedBefore), after_(selectedAfter)
    {
    }
    void undo() override;
    void redo() override;

private:
    TPackerEditor& editor_;
    TProjectDelta delta_;
    int before_;
    int after_;
    bool made_ = true;
};
