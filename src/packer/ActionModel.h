#pragma once

#include "package/Motion.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// An action's two path lists, each in the form JoinPaths gives (every path followed by ";").
struct TActionData {
    QString FramePaths;  // the frame images, in frame order
    QString AudioPaths;     // the audio files
    TMotion Motion;
};

// One action of a project: its name (any text, empty too) and its record. An action without
// a record behaves as one whose two lists are empty.
struct TActionNode {
    QString Name;
    std::unique_ptr<TActionData> Record;

    // The record, created empty when there is none yet.
    TActionData& EnsureRecord();
};

// An action as the project file and the package build take it: name and full paths.
struct TProjectAction {
    // Without a motion unless one is given: most actions have none.
    TProjectAction(QString name = {}, QStringList frames = {}, QStringList audio = {}, TMotion motion = {})
        : Name(std::move(name)), Frames(std::move(frames)), Audio(std::move(audio)), Motion(std::move(motion))
    {
    }

    QString Name;
    QStringList Frames;
    QStringList Audio;
    TMotion Motion;

    bool operator==(const TProjectAction&) const = default;
};

// Why `name` cannot name an action as it is, or empty when it can: a project file carries
// no control characters, and reads a name of blanks alone back as an empty one.
QString ActionNameProblem(const QString& name);

// The project's actions in order: a flat list, never nested. Nodes keep their identity when
// rows move, so the editor can hold on to the one it shows. Names are editable in place.
class TActionModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    ~TActionModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int Count() const { return static_cast<int>(nodes_.size()); }
    // The node at `row`; null outside the list.
    TActionNode* Node(int row) const;
    int RowOf(const TActionNode* node) const;

    void Append(QString name);
    void Append(std::vector<std::unique_ptr<TActionNode>> nodes);
    void Remove(int row);
    void Clear();
    // Moves the node at `row` to stand directly before the node at `target` (both indexes
    // as before the move). Onto itself or onto the node right below changes nothing.
    bool MoveBefore(int row, int target);
    // Tells the views that the node at `row` has a new name.
    void NameChanged(int row);

    // The actions in order with their paths split out of their records.
    QList<TProjectAction> Read() const;

private:
    std::vector<std::unique_ptr<TActionNode>> nodes_;
};
