#include "ui/FileListView.h"

#include "common/FileListModel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QUrl>

namespace {

QStringList LocalFiles(const QMimeData* mime)
{
    QStringList files;
    if (mime == nullptr || !mime->hasUrls())
        return files;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

}  // namespace

TFileListView::TFileListView(const QString& objectName, QWidget* parent) : QTableView(parent)
{
    setObjectName(objectName);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    // Rows of one fixed height: long lists fill without measuring every row.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    // The path column takes the width left, its text elided: the list has nothing to
    // scroll sideways to, whichever cell the keys move to.
    horizontalHeader()->setStretchLastSection(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

int TFileListView::SelectedRow() const
{
    if (selectionModel() == nullptr)
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TFileListView::SelectRow(int row)
{
    if (model() == nullptr || row < 0 || row >= model()->rowCount()) {
        clearSelection();
        return;
    }
    selectRow(row);
    scrollTo(model()->index(row, 0));
}

void TFileListView::SetDropHandler(std::function<void(const QStringList&)> handler)
{
    dropHandler_ = std::move(handler);
    setAcceptDrops(static_cast<bool>(dropHandler_));
    setDropIndicatorShown(false);
}

void TFileListView::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void TFileListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (dropHandler_ && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFileListView::dropEvent(QDropEvent* event)
{
    const QStringList files = LocalFiles(event->mimeData());
    if (!dropHandler_ || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropHandler_(files);
}

void TFileListView::EditSelected(int (TFileListModel::*operation)(int))
{
    auto* files = qobject_cast<TFileListModel*>(model());
    const int row = SelectedRow();
    if (files != nullptr && row >= 0)
        SelectRow((files->*operation)(row));
}

void TFileListView::SetStartingColumnWidths()
{
    setColumnWidth(0, 180);
}
