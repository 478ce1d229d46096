#pragma once

#include "packer/FrameImport.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QRadioButton;
class QSpinBox;

// "Import Sprite Sheet": the picture with the grid drawn over it, cut either into columns x
// rows or into cells of a size; cells that would be wholly see-through are struck through
// and left out.
class TSheetGridDialog : public QDialog {
    Q_OBJECT
public:
    TSheetGridDialog(TSheetImage sheet, const QString& path, QWidget* parent = nullptr);

    TSheetGrid Grid() const;
    // The cells that become frames, in reading order.
    const QList<QRect>& Frames() const { return frames_; }

    QRadioButton* ByCount() const { return byCount_; }
    QRadioButton* BySize() const { return bySize_; }
    QSpinBox* Columns() const { return columns_; }
    QSpinBox* Rows() const { return rows_; }
    QSpinBox* CellWidth() const { return cellWidth_; }
    QSpinBox* CellHeight() const { return cellHeight_; }
    QLabel* Summary() const { return summary_; }
    QLabel* Picture() const { return picture_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Update();

    TSheetImage sheet_;
    QList<QRect> frames_;
    QRadioButton* byCount_ = nullptr;
    QRadioButton* bySize_ = nullptr;
    QSpinBox* columns_ = nullptr;
    QSpinBox* rows_ = nullptr;
    QSpinBox* cellWidth_ = nullptr;
    QSpinBox* cellHeight_ = nullptr;
    QLabel* picture_ = nullptr;
    QLabel* summary_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};
