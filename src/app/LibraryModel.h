#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

struct TLibraryRow {
    QString Caption;  // the package's file name
    QString Path;     // its full native path; may be empty in a damaged library file

    bool operator==(const TLibraryRow&) const = default;
};

// The library list: packages in the user's order, duplicates allowed, shown as the two
// columns "Zuvo" and "Path". Row operations return the row to select afterwards (-1: none).
class TLibraryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<TLibraryRow>& Rows() const { return rows_; }

    void Append(const QList<TLibraryRow>& rows);
    void AppendFiles(const QStringList& nativePaths);
    int Delete(int row);
    int MoveUp(int row);
    int MoveDown(int row);
    void Clear();

private:
    int Swap(int row, int other);

    QList<TLibraryRow> rows_;
};
