#include "packer/FrameThumbnails.h"

#include "packer/PreviewDecoder.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

TFrameThumbnails::TFrameThumbnails(const TPreviewDecoder& frames, QAbstractItemView* view)
    : QStyledItemDelegate(view), frames_(frames)
{
    connect(&frames_, &TPreviewDecoder::Decoded, this, [this, view](const QString& path) {
        thumbnails_.remove(path);
        view->viewport()->update();
    });
}

QImage TFrameThumbnails::Thumbnail(const QString& path) const
{
    // Only what the decoder keeps: a project closed, or a frame forgotten, takes its picture.
    const TPreviewDecoder::Frame* frame = frames_.Find(path);
    if (frame == nullptr || frame->Image.isNull()) {
        thumbnails_.remove(path);
        return {};
    }
    if (const auto kept = thumbnails_.constFind(path); kept != thumbnails_.constEnd())
        return *kept;
    // Sampled, not smoothed: a few hundred pixels read whatever the frame's size, and pixel
    // art keeps its edges.
    QImage thumbnail = frame->Image.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::FastTransformation);
    thumbnails_.insert(path, thumbnail);
    return thumbnail;
}

QString TFrameThumbnails::Problem(const QString& path) const
{
    const TPreviewDecoder::Frame* frame = frames_.Find(path);
    return frame != nullptr ? frame->Error : QString();
}

void TFrameThumbnails::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem text = option;
    text.rect.setLeft(option.rect.left() + kSide + 4);
    QStyledItemDelegate::paint(painter, text, index);
    const QString path = index.siblingAtColumn(1).data().toString();
    const QRect box(option.rect.left() + 2, option.rect.top() + (option.rect.height() - kSide) / 2, kSide, kSide);
    if (!Problem(path).isEmpty()) {
        DrawUnshownFrame(*painter, box);
        return;
    }
    const QImage thumbnail = Thumbnail(path);
    if (thumbnail.isNull())
        return;
    // White behind, as the pet's sheet has it.
    painter->fillRect(box, Qt::white);
    painter->drawImage(QPoint(box.left() + (kSide - thumbnail.width()) / 2, box.top() + (kSide - thumbnail.height()) / 2),
                       thumbnail);
}

QSize TFrameThumbnails::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QSize text = QStyledItemDelegate::sizeHint(option, index);
    return {text.width() + kSide + 4, std::max(text.height(), kSide + 2)};
}

bool TFrameThumbnails::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const QString problem = Problem(index.siblingAtColumn(1).data().toString());
        if (!problem.isEmpty()) {
            QToolTip::showText(event->globalPos(), problem, view);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
