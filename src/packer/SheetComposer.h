#pragma once

#include "packer/ActionModel.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <vector>

// The sprite sheet of a build. Every frame's file and header is checked first, in project
// order up to the first problem, and each frame placed below the one before; nothing is
// decoded yet. Then the frames are decoded onto the sheet on every core.
class TSheetComposer {
public:
    // One frame: where it comes from and where it goes. `problem` marks the frame that stops
    // the build before anything is decoded.
    struct Frame {
        enum class Problem { None, Missing, Empty, Unsupported, Unreadable, TooLarge };

        QString path;
        QString format;
        int top = 0;
        int width = 0;
        int height = 0;
        Problem problem = Problem::None;
        QString error;  // the reason of Unreadable and TooLarge, or the decoder's
    };

    explicit TSheetComposer(const QList<TProjectAction>& project);

    const std::vector<Frame>& Frames() const { return frames_; }
    // Empty after a problem.
    QSize SheetSize() const { return sheetSize_; }

    // Decodes the planned frames onto `sheet`, an RGB888 image of SheetSize() filled white;
    // with none, only decodes, so that damage among the frames before a problem is found
    // first. A frame's decoding error is kept in its `error`.
    void Decode(QImage* sheet, const std::function<void(int done, int total)>& progress);

private:
    std::vector<Frame> frames_;
    QSize sheetSize_;
};
