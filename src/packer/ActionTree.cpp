#include "packer/ActionTree.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

const QString kActionMime = QStringLiteral("application/x-zuvora-action");

// Remembers the editor it made, so that an edit can be cancelled from outside the view.
class TrackingDelegate : public QStyledItemDelegate {
public:
    TrackingDelegate(QObject* parent, QPointer<QWidget>& editor) : QStyledItemDelegate(parent), editor_(editor) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        editor_ = editor;
        return editor;
    }

private:
    QPointer<QWidget>& editor_;
};

}  // namespace

TActionTree::TActionTree(QWidget* parent) : QTreeView(parent)
{
    setObjectName(QStringLiteral("actionTree"));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setItemDelegate(new TrackingDelegate(this, editor_));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TActionTree::CancelEdit()
{
    if (editor_ != nullptr && state() == EditingState)
        closeEditor(editor_, QAbstractItemDelegate::RevertModelCache);
}

void TActionTree::mousePressEvent(QMouseEvent* event)
{
    // The right button opens the pop-up menu on the selected action; it selects nothing.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void TActionTree::startDrag(Qt::DropActions /*supportedActions*/)
{
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton))
        return;
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(kActionMime, {});
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
    SetDropRow(-1);
}

int TActionTree::DropRow(const QDropEvent* event) const
{
    if (event->source() != this || !event->mimeData()->hasFormat(kActionMime))
        return -1;
    const QModelIndex target = indexAt(event->position().toPoint());
    return target.isValid() ? target.row() : -1;
}

void TActionTree::SetDropRow(int row)
{
    if (row == dropRow_)
        return;
    dropRow_ = row;
    viewport()->update();
}

void TActionTree::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == this && event->mimeData()->hasFormat(kActionMime))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TActionTree::dragMoveEvent(QDragMoveEvent* event)
{
    QTreeView::dragMoveEvent(event);  // scrolls near the edges
    const int row = DropRow(event);
    SetDropRow(row);
    if (row >= 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TActionTree::dragLeaveEvent(QDragLeaveEvent* event)
{
    SetDropRow(-1);
    QTreeView::dragLeaveEvent(event);
}

void TActionTree::dropEvent(QDropEvent* event)
{
    const int row = DropRow(event);
    SetDropRow(-1);
    stopAutoScroll();
    setState(NoState);
    if (row < 0) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (dropHandler_)
        dropHandler_(row);
}

void TActionTree::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    if (dropRow_ < 0 || model() == nullptr)
        return;
    // A line along the top of the target: the dragged action lands right before it.
    const QRect target = visualRect(model()->index(dropRow_, 0));
    QPainter painter(viewport());
    painter.fillRect(QRect(0, target.top(), viewport()->width(), 2), palette().highlight());
}
