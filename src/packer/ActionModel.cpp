#include "packer/ActionModel.h"

#include "common/PathList.h"
#include "package/PackageLayout.h"

#include <algorithm>

TActionData& TActionNode::EnsureRecord()
{
    if (!Record)
        Record = std::make_unique<TActionData>();
    return *Record;
}

QString ActionNameProblem(const QString& name)
{
    for (const QChar c : name) {
        if (c.unicode() < 32 || c.unicode() == 127)
            return QStringLiteral("holds a control character (code %1), which a project file cannot store").arg(c.unicode());
    }
    if (!name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() == 32; }))
        return QStringLiteral("is only blanks, which a project file reads back as an empty name");
    return {};
}

TActionModel::~TActionModel() = default;

int TActionModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant TActionModel::data(const QModelIndex& index, int role) const
{
    const TActionNode* node = Node(index.row());
    if (node == nullptr || index.column() != 0 || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return node->Name;
}

bool TActionModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TActionNode* node = Node(index.row());
    if (node == nullptr || index.column() != 0 || role != Qt::EditRole)
        return false;
    // Whatever the user typed becomes the name, the empty text included, up to the length
    // a project keeps.
    node->Name = value.toString().left(kMaxActionName);
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags TActionModel::flags(const QModelIndex& index) const
{
    if (Node(index.row()) == nullptr)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled
           | Qt::ItemNeverHasChildren;
}

TActionNode* TActionModel::Node(int row) const
{
    if (row < 0 || row >= Count())
        return nullptr;
    return nodes_[static_cast<std::size_t>(row)].get();
}

int TActionModel::RowOf(const TActionNode* node) const
{
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (nodes_[i].get() == node)
            return static_cast<int>(i);
    }
    return -1;
}

void TActionModel::Append(QString name)
{
    auto node = std::make_unique<TActionNode>();
    node->Name = std::move(name);
    std::vector<std::unique_ptr<TActionNode>> nodes;
    nodes.push_back(std::move(node));
    Append(std::move(nodes));
}

void TActionModel::Append(std::vector<std::unique_ptr<TActionNode>> nodes)
{
    if (nodes.empty())
        return;
    beginInsertRows({}, Count(), Count() + static_cast<int>(nodes.size()) - 1);
    for (auto& node : nodes)
        nodes_.push_back(std::move(node));
    endInsertRows();
}

void TActionModel::Remove(int row)
{
    if (Node(row) == nullptr)
        return;
    beginRemoveRows({}, row, row);
    nodes_.erase(nodes_.begin() + row);
    endRemoveRows();
}

void TActionModel::Clear()
{
    beginResetModel();
    nodes_.clear();
    endResetModel();
}

bool TActionModel::MoveBefore(int row, int target)
{
    if (Node(row) == nullptr || Node(target) == nullptr)
        return false;
    // The model's own rule for no-op moves is ours: onto itself or onto the next row.
    if (!beginMoveRows({}, row, row, {}, target))
        return false;
    auto node = std::move(nodes_[static_cast<std::size_t>(row)]);
    nodes_.erase(nodes_.begin() + row);
    nodes_.insert(nodes_.begin() + (target > row ? target - 1 : target), std::move(node));
    endMoveRows();
    return true;
}

void TActionModel::NameChanged(int row)
{
    if (Node(row) != nullptr)
        emit dataChanged(index(row), index(row));
}

QList<TProjectAction> TActionModel::Read() const
{
    QList<TProjectAction> actions;
    actions.reserve(Count());
    for (const auto& node : nodes_) {
        TProjectAction action{node->Name, {}, {}};
        if (node->Record) {
            action.Frames = Split(node->Record->FramePaths, u';');
            action.Audio = Split(node->Record->AudioPaths, u';');
            action.Motion = node->Record->Motion;
        }
        actions.append(std::move(action));
    }
    return actions;
}
