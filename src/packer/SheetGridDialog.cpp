#include "packer/SheetGridDialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// The picture is shown at a whole factor that fits this box, or scaled down to it.
constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 400;

QSpinBox* SpinBox(const QString& name, int maximum, int value)
{
    auto* box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(1, std::max(1, maximum));
    box->setValue(std::clamp(value, 1, std::max(1, maximum)));
    return box;
}

QPixmap Chequer()
{
    QPixmap tile(16, 16);
    tile.fill(QColor(0xCC, 0xCC, 0xCC));
    QPainter painter(&tile);
    painter.fillRect(0, 0, 8, 8, QColor(0x99, 0x99, 0x99));
    painter.fillRect(8, 8, 8, 8, QColor(0x99, 0x99, 0x99));
    return tile;
}

}  // namespace

TSheetGridDialog::TSheetGridDialog(TSheetImage sheet, const QString& path, QWidget* parent)
    : QDialog(parent), sheet_(std::move(sheet))
{
    setObjectName(QStringLiteral("SheetGridDialog"));
    setWindowTitle(QStringLiteral("Import Sprite Sheet - ") + QFileInfo(path).fileName());
    const QSize size = sheet_.Image.size();
    // A strip of square cells is the usual sheet: guess it.
    const int guess = size.height() > 0 && size.width() % size.height() == 0 ? size.width() / size.height() : 1;

    byCount_ = new QRadioButton(QStringLiteral("Columns x rows:"));
    byCount_->setObjectName(QStringLiteral("rbByCount"));
    bySize_ = new QRadioButton(QStringLiteral("Cell size:"));
    bySize_->setObjectName(QStringLiteral("rbBySize"));
    byCount_->setChecked(true);
    columns_ = SpinBox(QStringLiteral("seColumns"), size.width(), guess);
    rows_ = SpinBox(QStringLiteral("seRows"), size.height(), 1);
    cellWidth_ = SpinBox(QStringLiteral("seCellWidth"), size.width(), size.width() / guess);
    cellHeight_ = SpinBox(QStringLiteral("seCellHeight"), size.height(), size.height());
    picture_ = new QLabel;
    picture_->setObjectName(QStringLiteral("lblPicture"));
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMinimumSize(kPictureWidth, kPictureHeight);
    summary_ = new QLabel;
    summary_->setObjectName(QStringLiteral("lblSummary"));
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Import"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(byCount_, 0, 0);
    grid->addWidget(columns_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("x")), 0, 2);
    grid->addWidget(rows_, 0, 3);
    grid->addWidget(bySize_, 1, 0);
    grid->addWidget(cellWidth_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("x")), 1, 2);
    grid->addWidget(cellHeight_, 1, 3);
    grid->setColumnStretch(4, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_, 1);
    layout->addLayout(grid);
    layout->addWidget(summary_);
    layout->addWidget(buttons_);

    for (QSpinBox* box : {columns_, rows_, cellWidth_, cellHeight_})
        connect(box, &QSpinBox::valueChanged, this, &TSheetGridDialog::Update);
    connect(byCount_, &QRadioButton::toggled, this, &TSheetGridDialog::Update);
    Update();
}

TSheetGrid TSheetGridDialog::Grid() const
{
    TSheetGrid grid;
    grid.By = byCount_->isChecked() ? TSheetGrid::Kind::Count : TSheetGrid::Kind::CellSize;
    grid.Columns = columns_->value();
    grid.Rows = rows_->value();
    grid.CellSize = QSize(cellWidth_->value(), cellHeight_->value());
    return grid;
}

void TSheetGridDialog::Update()
{
    const bool byCount = byCount_->isChecked();
    columns_->setEnabled(byCount);
    rows_->setEnabled(byCount);
    cellWidth_->setEnabled(!byCount);
    cellHeight_->setEnabled(!byCount);

    const QList<QRect> cells = GridCells(sheet_.Image.size(), Grid());
    frames_.clear();
    std::vector<bool> clear;
    clear.reserve(cells.size());
    for (const QRect& cell : cells) {
        clear.push_back(IsClearCell(sheet_, cell));
        if (!clear.back())
            frames_.append(cell);
    }

    // Pixel art stays crisp: enlarged by a whole factor, never smoothed.
    const QSize size = sheet_.Image.size();
    const double fit = std::min(static_cast<double>(kPictureWidth) / std::max(1, size.width()),
                                static_cast<double>(kPictureHeight) / std::max(1, size.height()));
    const double scale = fit >= 1 ? std::floor(fit) : fit;
    const QSize shown(std::max(1, static_cast<int>(size.width() * scale)), std::max(1, static_cast<int>(size.height() * scale)));
    QPixmap picture(shown);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QBrush(Chequer()));
    painter.drawImage(picture.rect(), sheet_.Image);
    const auto shownRect = [scale](const QRect& cell) {
        return QRectF(cell.x() * scale, cell.y() * scale, cell.width() * scale, cell.height() * scale);
    };
    painter.setPen(QPen(QColor(0xFF, 0x00, 0xFF), 1));
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const QRectF area = shownRect(cells[i]);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        if (clear[static_cast<std::size_t>(i)]) {
            painter.drawLine(area.topLeft(), area.bottomRight());
            painter.drawLine(area.topRight(), area.bottomLeft());
        }
    }
    painter.end();
    picture_->setPixmap(picture);

    const QString leftover = GridLeftover(size, Grid());
    if (!leftover.isEmpty()) {
        // Said before Import, as the import would say it.
        summary_->setText(leftover.left(1).toUpper() + leftover.mid(1) + u'.');
        frames_.clear();
    } else if (cells.isEmpty()) {
        summary_->setText(QStringLiteral("The grid does not fit the picture of %1 x %2 pixels.")
                              .arg(size.width()).arg(size.height()));
    } else {
        const QSize cell = cells.first().size();
        const auto left = cells.size() - frames_.size();
        summary_->setText(QStringLiteral("%1 frames of %2 x %3 pixels%4")
                              .arg(frames_.size()).arg(cell.width()).arg(cell.height())
                              .arg(left == 0   ? QString()
                                   : left == 1 ? QStringLiteral("; 1 see-through cell left out")
                                               : QStringLiteral("; %1 see-through cells left out").arg(left)));
    }
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!frames_.isEmpty());
}

void TSheetGridDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The grid is what the person came to set: the dialog opens on Columns.
    columns_->setFocus();
}
