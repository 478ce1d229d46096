#pragma once

#include "package/Motion.h"
#include "packer/PreviewDecoder.h"

#include <QBrush>
#include <QFileSystemWatcher>
#include <QTimer>
#include <QWidget>

class TFileListModel;

// The packer's preview pane: plays the frames of a frame list, in its order as it stands,
// at the action's frame time (80 ms unless it sets another), drawn as the pet will show them;
// an action that moves slides by its move each frame, turning round at the pane's sides. A frame still being decoded
// is waited for; one that cannot be decoded shows as a marked placeholder, and the pane's
// tooltip gives the reasons. Plays only while shown. The frames' folders are watched, so a
// file deleted, replaced or added shows as soon as it happens.
class TPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewPane(const TFileListModel& frames, QWidget* parent = nullptr);

    // With see-through on, the pixels the pet leaves out show the pane's chequered ground;
    // off, they are white, as in a pet without it.
    void SetTransparent(bool on);
    bool Transparent() const { return transparent_; }
    // Drops every decoded frame: the project they came from is gone.
    void Forget();
    // How the shown action moves: its frame time, and the slide of a walk.
    void SetMotion(const TMotion& motion);
    // Where the frame is drawn from the pane's middle, and whether it is turned round.
    QPoint Slide() const { return slide_; }
    bool Mirrored() const { return mirrored_; }

    const QStringList& Frames() const { return paths_; }
    // The frame on show: its number in Frames(), -1 for none.
    int ShownFrame() const { return shown_; }
    bool IsPlaying() const { return timer_.isActive(); }
    const TPreviewDecoder& Decoded() const { return frames_; }
    // Why frames of the list show as placeholders, one line each: the pane's tooltip.
    QString Reasons() const;

    QSize sizeHint() const override { return {240, 240}; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Refresh();
    // Watches the folders of the listed frames, and only those.
    void WatchFolders();
    void FrameDecoded(const QString& path);
    void Step();
    void UpdateTimer();
    // Moves the frame by the action's move, turning round where it would leave the pane.
    void SlideOn(QSize frame);

    const TFileListModel& frameList_;
    const QBrush chequer_;
    TPreviewDecoder frames_;
    QStringList paths_;
    int shown_ = -1;
    bool transparent_ = true;
    bool hidden_ = true;  // between a hide event and the next show event
    QTimer timer_;
    QFileSystemWatcher folders_;
    QTimer folderChanged_;  // one look after a burst of changes
    TMotion motion_;
    QPoint slide_;
    QPoint heading_{1, 1};  // the way each axis of the move goes now
    bool mirrored_ = false;
};
