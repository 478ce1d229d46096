#include "packer/ProjectDelta.h"

#include <algorithm>

namespace {

// The runs that differ between two lists: equal heads and tails left out.
template <typename List>
struct Run {
    qsizetype start;
    List removed;
    List inserted;
};

template <typename List>
Run<List> DifferingRun(const List& before, const List& after)
{
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype head = 0;
    while (head < shorter && before[head] == after[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    return {head, before.mid(head, before.size() - head - tail), after.mid(head, after.size() - head - tail)};
}

template <typename List>
void Replace(List& list, qsizetype start, const List& out, const List& in)
{
    if (out.size() == in.size()) {
        std::copy(in.begin(), in.end(), list.begin() + start);
        return;
    }
    list = list.mid(0, start) + in + list.mid(start + out.size());
}

}  // namespace

TProjectDelta TProjectDelta::Between(const QList<TProjectAction>& before, const QList<TProjectAction>& after)
{
    TProjectDelta delta;
    const Run<QList<TProjectAction>> actions = DifferingRun(before, after);
    // One action changed in one of its lists: only the paths that differ are kept.
    if (actions.removed.size() == 1 && actions.inserted.size() == 1) {
        const TProjectAction& was = actions.removed[0];
        const TProjectAction& is = actions.inserted[0];
        const bool same = was.Name == is.Name && was.Motion == is.Motion;
        const bool framesOnly = same && was.Audio == is.Audio;
        const bool audioOnly = same && was.Frames == is.Frames;
        if (framesOnly || audioOnly) {
            const Run<QStringList> paths =
                framesOnly ? DifferingRun(was.Frames, is.Frames) : DifferingRun(was.Audio, is.Audio);
            delta.part_ = framesOnly ? Part::Frames : Part::Audio;
            delta.action_ = static_cast<int>(actions.start);
            delta.start_ = static_cast<int>(paths.start);
            delta.removedPaths_ = paths.removed;
            delta.insertedPaths_ = paths.inserted;
            return delta;
        }
    }
    delta.start_ = static_cast<int>(actions.start);
    delta.removedActions_ = actions.removed;
    delta.insertedActions_ = actions.inserted;
    return delta;
}

void TProjectDelta::Apply(QList<TProjectAction>& project, bool forward) const
{
    if (part_ == Part::Actions) {
        Replace(project, start_, forward ? removedActions_ : insertedActions_,
                forward ? insertedActions_ : removedActions_);
        return;
    }
    QStringList& paths = part_ == Part::Frames ? project[action_].Frames : project[action_].Audio;
    Replace(paths, start_, forward ? removedPaths_ : insertedPaths_, forward ? insertedPaths_ : removedPaths_);
}
