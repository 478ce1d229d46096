#include "app/LibraryModel.h"

#include "common/Paths.h"

#include <QFileInfo>

int TLibraryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TLibraryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TLibraryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const TLibraryRow& row = rows_[index.row()];
    return index.column() == 0 ? row.Caption : row.Path;
}

QVariant TLibraryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? QStringLiteral("Zuvo") : QStringLiteral("Path");
}

void TLibraryModel::Append(const QList<TLibraryRow>& rows)
{
    if (rows.isEmpty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    rows_.append(rows);
    endInsertRows();
}

void TLibraryModel::AppendFiles(const QStringList& nativePaths)
{
    QList<TLibraryRow> rows;
    for (const QString& path : nativePaths)
        rows.append({QFileInfo(path).fileName(), path});
    Append(rows);
}

int TLibraryModel::Delete(int row)
{
    if (row < 0 || row >= rows_.size())
        return -1;
    beginRemoveRows({}, row, row);
    rows_.removeAt(row);
    endRemoveRows();
    return row - 1;
}

int TLibraryModel::MoveUp(int row)
{
    if (row <= 0 || row >= rows_.size())
        return row;
    return Swap(row, row - 1);
}

int TLibraryModel::MoveDown(int row)
{
    if (row < 0 || row + 1 >= rows_.size())
        return row;
    return Swap(row, row + 1);
}

int TLibraryModel::Swap(int row, int other)
{
    rows_.swapItemsAt(row, other);
    const int top = std::min(row, other);
    emit dataChanged(index(top, 0), index(top + 1, 1));
    return other;
}

void TLibraryModel::Clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}
