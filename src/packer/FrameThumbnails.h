#pragma once

#include <QHash>
#include <QImage>
#include <QStyledItemDelegate>

class QAbstractItemView;
class TPreviewDecoder;

// The frame list's names, each with a small picture of its frame. The pictures come from
// the preview's decoder, which decodes on its own thread; until a frame is decoded its row
// shows the name alone.
class TFrameThumbnails : public QStyledItemDelegate {
public:
    static constexpr int kSide = 28;

    TFrameThumbnails(const TPreviewDecoder& frames, QAbstractItemView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The picture for the frame at `path`, made once it is decoded; null until then.
    QImage Thumbnail(const QString& path) const;

private:
    const TPreviewDecoder& frames_;
    mutable QHash<QString, QImage> thumbnails_;  // made on first paint, dropped when decoded anew
};
