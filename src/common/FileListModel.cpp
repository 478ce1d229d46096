#include "common/FileListModel.h"

#include "common/VisibleText.h"

#include <QDir>

TFileListModel::TFileListModel(QString nameTitle, QObject* parent)
    : QAbstractTableModel(parent), nameTitle_(std::move(nameTitle))
{
}

int TFileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TFileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const TFileRow& row = rows_[index.row()];
    return VisibleText(index.column() == 0 ? row.Caption : row.Path);
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? nameTitle_ : QStringLiteral("Path");
}

void TFileListModel::Append(const QList<TFileRow>& rows)
{
    if (rows.isEmpty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    rows_.append(rows);
    endInsertRows();
}

void TFileListModel::AppendFiles(const QStringList& nativePaths)
{
    QList<TFileRow> rows;
    rows.reserve(nativePaths.size());
    for (const QString& path : nativePaths)
        rows.append({path.mid(path.lastIndexOf(QDir::separator()) + 1), path});
    Append(rows);
}

QStringList TFileListModel::Paths() const
{
    QStringList paths;
    paths.reserve(rows_.size());
    for (const TFileRow& row : rows_)
        paths.append(row.Path);
    return paths;
}

int TFileListModel::Delete(int row)
{
    if (row < 0 || row >= rows_.size())
        return -1;
    beginRemoveRows({}, row, row);
    rows_.removeAt(row);
    endRemoveRows();
    return row - 1;
}

int TFileListModel::MoveUp(int row)
{
    if (row <= 0 || row >= rows_.size())
        return row;
    return Swap(row, row - 1);
}

int TFileListModel::MoveDown(int row)
{
    if (row < 0 || row + 1 >= rows_.size())
        return row;
    return Swap(row, row + 1);
}

int TFileListModel::Swap(int row, int other)
{
    rows_.swapItemsAt(row, other);
    const int top = std::min(row, other);
    emit dataChanged(index(top, 0), index(top + 1, 1));
    return other;
}

void TFileListModel::Clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}
