#pragma once

#include <QPointer>
#include <QTreeView>

#include <functional>

// The action list: a flat tree whose names are edited in place and whose actions are
// dragged within it. A drop hands the row under the pointer to the handler; the move itself
// is the project's business.
class TActionTree : public QTreeView {
public:
    explicit TActionTree(QWidget* parent = nullptr);

    void SetDropHandler(std::function<void(int targetRow)> handler) { dropHandler_ = std::move(handler); }
    // Ends an edit in place, discarding what was typed.
    void CancelEdit();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The row a drop at `position` would land before, -1 for none.
    int DropRow(const QDropEvent* event) const;
    void SetDropRow(int row);

    std::function<void(int)> dropHandler_;
    QPointer<QWidget> editor_;
    int dropRow_ = -1;
};
