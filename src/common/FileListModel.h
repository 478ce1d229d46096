#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

struct TFileRow {
    QString Caption;  // the file name, for display
    QString Path;     // the full native path: what counts

    bool operator==(const TFileRow&) const = default;
};

// A list of files in the user's order, duplicates allowed, shown as two columns: the file
// name under `nameTitle` and "Path". Row operations return the row to select afterwards
// (-1: none).
class TFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TFileListModel(QString nameTitle, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<TFileRow>& Rows() const { return rows_; }
    QStringList Paths() const;

    void Append(const QList<TFileRow>& rows);
    // Rows for native paths, captioned with their file names.
    void AppendFiles(const QStringList& nativePaths);
    int Delete(int row);
    int MoveUp(int row);
    int MoveDown(int row);
    void Clear();

private:
    int Swap(int row, int other);

    const QString nameTitle_;
    QList<TFileRow> rows_;
};
