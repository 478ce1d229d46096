#pragma once

#include "packer/ActionModel.h"

#include <QList>
#include <QStringList>

// What one edit changed in a project, kept small: a project of ten thousand frames keeps a
// thousand steps of history without a copy of its lists in each. A change inside one
// action's frame or audio list is kept as the run of paths replaced there; any other as
// the run of actions replaced.
class TProjectDelta {
public:
    static TProjectDelta Between(const QList<TProjectAction>& before, const QList<TProjectAction>& after);

    // The project with the edit made again, or undone.
    void Redo(QList<TProjectAction>& project) const { Apply(project, true); }
    void Undo(QList<TProjectAction>& project) const { Apply(project, false); }

private:
    enum class Part { Actions, Frames, Audio };

    void Apply(QList<TProjectAction>& project, bool forward) const;

    Part part_ = Part::Actions;
    int action_ = -1;  // the action whose list changed
    int start_ = 0;    // where the run starts, in actions or in paths
    QList<TProjectAction> removedActions_, insertedActions_;
    QStringList removedPaths_, insertedPaths_;
};
