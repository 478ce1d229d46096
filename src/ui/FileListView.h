#pragma once

#include <QStringList>
#include <QTableView>

#include <functional>

class TFileListModel;

// A file list shown as a read-only report: grid lines, whole-row single selection, the file
// name and full path in two columns. Given a drop handler, it takes files dropped from the
// desktop's file manager.
class TFileListView : public QTableView {
public:
    explicit TFileListView(const QString& objectName, QWidget* parent = nullptr);

    // The selected row, -1 for none; selecting -1 or a row outside the list clears it.
    int SelectedRow() const;
    void SelectRow(int row);

    // The list commands Delete, Up and Down: one of the model's row operations on the
    // selected row, the row it names selected afterwards.
    void EditSelected(int (TFileListModel::*operation)(int));
    // The file name column at the width every list starts with; the path column takes the rest.
    void SetStartingColumnWidths();

    // Local files dropped on the list, native paths in the order the drop lists them.
    void SetDropHandler(std::function<void(const QStringList&)> handler);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::function<void(const QStringList&)> dropHandler_;
};
