#pragma once

#include <QHash>
#include <QImage>
#include <QStyledItemDelegate>

class QAbstractItemView;
class TPreviewDecoder;

// The frame list's names, each with a small picture of its frame. The pictures come from
// the preview's decoder, which decodes on its own thread; until a frame is decoded its row
// shows the name alone. A frame that cannot be decoded (its file gone, unreadable or no
// picture) shows a crossed-out box, its reason as the row's tooltip.
class TFrameThumbnails : public QStyledItemDelegate {
public:
    static constexpr int kSide = 28;

    TFrameThumbnails(const TPreviewDecoder& frames, QAbstractItemView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The picture for the frame at `path`, made once it is decoded; null until then.
    QImage Thumbnail(const QString& path) const;

private:
    // Why the frame at `path` cannot be shown; empty while it can, or is not decoded yet.
    QString Problem(const QString& path) const;

    const TPreviewDecoder& frames_;
    mutable QHash<QString, QImage> thumbnails_;  // made on first paint, dropped when decoded anew
};
