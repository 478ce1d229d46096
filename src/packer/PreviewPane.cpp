#include "packer/PreviewPane.h"

#include "common/FileListModel.h"
#include "package/PackageLayout.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QPainter>
#include <QSet>

#include <algorithm>

namespace {

constexpr int kChequer = 8;
constexpr QSize kPlaceholderSize{64, 64};
// Frames come from a few folders; a list gathered from everywhere is watched in its first
// ones, and the rest are looked at again when the action is shown.
constexpr int kMaxWatchedFolders = 64;

QBrush Chequer()
{
    QPixmap tile(2 * kChequer, 2 * kChequer);
    tile.fill(QColor(204, 204, 204));
    QPainter painter(&tile);
    painter.fillRect(0, 0, kChequer, kChequer, QColor(153, 153, 153));
    painter.fillRect(kChequer, kChequer, kChequer, kChequer, QColor(153, 153, 153));
    painter.end();
    return QBrush(tile);
}

}  // namespace

TPreviewPane::TPreviewPane(const TFileListModel& frames, QWidget* parent)
    : QWidget(parent), frameList_(frames), chequer_(Chequer())
{
    setObjectName(QStringLiteral("pbPreview"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, &TPreviewPane::Step);
    connect(&frames_, &TPreviewDecoder::Decoded, this, &TPreviewPane::FrameDecoded);
    // Every edit of the list shows at once.
    connect(&frameList_, &QAbstractItemModel::rowsInserted, this, &TPreviewPane::Refresh);
    connect(&frameList_, &QAbstractItemModel::rowsRemoved, this, &TPreviewPane::Refresh);
    connect(&frameList_, &QAbstractItemModel::rowsMoved, this, &TPreviewPane::Refresh);
    connect(&frameList_, &QAbstractItemModel::modelReset, this, &TPreviewPane::Refresh);
    connect(&frameList_, &QAbstractItemModel::layoutChanged, this, &TPreviewPane::Refresh);
    connect(&frameList_, &QAbstractItemModel::dataChanged, this, &TPreviewPane::Refresh);
    folderChanged_.setSingleShot(true);
    folderChanged_.setInterval(100);
    connect(&folders_, &QFileSystemWatcher::directoryChanged, &folderChanged_, qOverload<>(&QTimer::start));
    connect(&folderChanged_, &QTimer::timeout, this, &TPreviewPane::Refresh);
    Refresh();
}

void TPreviewPane::SetTransparent(bool on)
{
    transparent_ = on;
    update();
}

void TPreviewPane::Forget()
{
    frames_.Clear();
    shown_ = -1;
    Refresh();
}

void TPreviewPane::SetMotion(const TMotion& motion)
{
    motion_ = motion;
    slide_ = QPoint();
    heading_ = QPoint(1, 1);
    mirrored_ = false;
    timer_.setInterval(motion.FrameMs());
    update();
}

void TPreviewPane::SlideOn(QSize frame)
{
    const TMove move = motion_.MoveOrStill();
    if (move.Dx == 0 && move.Dy == 0)
        return;
    const int roomX = std::max(0, (width() - frame.width()) / 2);
    const int roomY = std::max(0, (height() - frame.height()) / 2);
    QPoint next = slide_ + QPoint(move.Dx * heading_.x(), move.Dy * heading_.y());
    // At a side the walk turns round, drawn the other way than its art faces.
    if (std::abs(next.x()) > roomX) {
        heading_.rx() = -heading_.x();
        mirrored_ = heading_.x() < 0;
        next.setX(std::clamp(next.x(), -roomX, roomX));
    }
    if (std::abs(next.y()) > roomY) {
        heading_.ry() = -heading_.y();
        next.setY(std::clamp(next.y(), -roomY, roomY));
    }
    slide_ = next;
}

void TPreviewPane::Refresh()
{
    paths_ = frameList_.Paths();
    if (shown_ >= paths_.size())
        shown_ = -1;
    frames_.Request(paths_);
    WatchFolders();
    if (shown_ < 0 && !paths_.isEmpty() && frames_.Find(paths_.first()) != nullptr)
        shown_ = 0;
    UpdateTimer();
    update();
}

void TPreviewPane::WatchFolders()
{
    QStringList wanted;
    for (const QString& path : paths_) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!wanted.contains(folder) && QFileInfo(folder).isDir()) {
            wanted.append(folder);
            if (wanted.size() == kMaxWatchedFolders)
                break;
        }
    }
    QStringList gone;
    for (const QString& folder : folders_.directories()) {
        if (!wanted.removeOne(folder))
            gone.append(folder);
    }
    if (!gone.isEmpty())
        folders_.removePaths(gone);
    if (!wanted.isEmpty())
        folders_.addPaths(wanted);
}

void TPreviewPane::FrameDecoded(const QString& path)
{
    if (!frames_.IsWanted(path))
        return;
    // Decoded again after its file changed: shown as it is now.
    if (shown_ >= 0 && paths_[shown_] == path)
        update();
    // The first frame shows as soon as it is there; the rest follow at the pace.
    if (shown_ < 0 && paths_.first() == path) {
        shown_ = 0;
        update();
    }
}

void TPreviewPane::Step()
{
    if (paths_.isEmpty())
        return;
    const int next = static_cast<int>((shown_ + 1) % paths_.size());
    // A frame still decoding holds the one before it on screen.
    if (frames_.Find(paths_[next]) == nullptr)
        return;
    shown_ = next;
    const TPreviewDecoder::Frame* frame = frames_.Find(paths_[next]);
    SlideOn(frame->Image.isNull() ? kPlaceholderSize : frame->Image.size());
    update();
}

void TPreviewPane::UpdateTimer()
{
    // Hide events come when the window is minimized too, while isVisible() stays true.
    if (!paths_.isEmpty() && !hidden_)
        timer_.start();
    else
        timer_.stop();
}

QString TPreviewPane::Reasons() const
{
    // The first reasons, in the list's order; a tooltip of hundreds of lines helps nobody.
    constexpr int kShownErrors = 10;
    QStringList errors;
    int more = 0;
    QSet<QString> named;
    for (const QString& path : paths_) {
        const TPreviewDecoder::Frame* frame = frames_.Find(path);
        if (frame == nullptr || frame->Error.isEmpty() || named.contains(path))
            continue;
        named.insert(path);
        if (errors.size() < kShownErrors)
            errors.append(frame->Error);
        else
            ++more;
    }
    if (more > 0)
        errors.append(QStringLiteral("and %1 more").arg(more));
    return errors.join(u'\n');
}

bool TPreviewPane::event(QEvent* event)
{
    // Made when asked for: frames keep arriving, and most are fine.
    if (event->type() == QEvent::ToolTip)
        setToolTip(Reasons());
    return QWidget::event(event);
}

void TPreviewPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    hidden_ = false;
    UpdateTimer();
}

void TPreviewPane::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    hidden_ = true;
    UpdateTimer();
}

void TPreviewPane::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (transparent_)
        painter.fillRect(rect(), chequer_);
    else
        painter.fillRect(rect(), palette().window());
    const TPreviewDecoder::Frame* frame = shown_ >= 0 ? frames_.Find(paths_[shown_]) : nullptr;
    if (frame == nullptr)
        return;
    // At the pet's own size, made smaller only when the pane is.
    const QSize size = frame->Image.isNull() ? kPlaceholderSize : frame->Image.size();
    const QSize shown = size.boundedTo(this->size()) == size ? size : size.scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2) + slide_, shown);
    if (frame->Image.isNull()) {
        DrawUnshownFrame(painter, target);
        return;
    }
    if (!transparent_)
        painter.fillRect(target, Qt::white);
    if (mirrored_)
        painter.setTransform(QTransform(-1, 0, 0, 1, 2 * target.left() + target.width(), 0));
    painter.drawImage(target, frame->Image);
}
