#pragma once

#include "packer/PreviewDecoder.h"

#include <QBrush>
#include <QTimer>
#include <QWidget>

class TFileListModel;

// The packer's preview pane: plays the frames of a fragment list, in its order as it stands,
// at the pet's 80 ms a frame, drawn as the pet will show them. A frame still being decoded
// is waited for; one that cannot be decoded shows as a marked placeholder, and the pane's
// tooltip gives the reasons. Plays only while shown.
class TPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewPane(const TFileListModel& fragments, QWidget* parent = nullptr);

    // With see-through on, the pixels the pet leaves out show the pane's chequered ground;
    // off, they are white, as in a pet without it.
    void SetTransparent(bool on);
    bool Transparent() const { return transparent_; }
    // Drops every decoded frame: the project they came from is gone.
    void Forget();

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
    void FrameDecoded(const QString& path);
    void Step();
    void UpdateTimer();

    const TFileListModel& fragments_;
    const QBrush chequer_;
    TPreviewDecoder frames_;
    QStringList paths_;
    int shown_ = -1;
    bool transparent_ = true;
    bool hidden_ = true;  // between a hide event and the next show event
    QTimer timer_;
};
