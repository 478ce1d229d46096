#include "packer/MotionPane.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

constexpr TRole kRoles[] = {TRole::Idle, TRole::Walk, TRole::Sit, TRole::Fall, TRole::Land, TRole::Drag, TRole::Climb};

QSpinBox* SpinBox(const QString& name, int low, int high, const QString& unset = {})
{
    auto* box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(low, high);
    // The value below the range says "not set".
    box->setSpecialValueText(unset);
    return box;
}

}  // namespace

TMotionPane::TMotionPane(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("motion"));
    role_ = new QComboBox;
    role_->setObjectName(QStringLiteral("cbRole"));
    role_->addItem(QStringLiteral("(none)"));
    for (const TRole role : kRoles)
        role_->addItem(RoleName(role));
    dx_ = SpinBox(QStringLiteral("seMoveX"), -kMaxMoveStep, kMaxMoveStep);
    dy_ = SpinBox(QStringLiteral("seMoveY"), -kMaxMoveStep, kMaxMoveStep);
    auto* move = new QHBoxLayout;
    move->setContentsMargins(0, 0, 0, 0);
    move->addWidget(dx_);
    move->addWidget(dy_);
    facing_ = new QComboBox;
    facing_->setObjectName(QStringLiteral("cbFacing"));
    facing_->addItems({QStringLiteral("(from Move)"), QStringLiteral("left"), QStringLiteral("right")});
    weight_ = SpinBox(QStringLiteral("seWeight"), -1, kMaxWeight, QStringLiteral("1 (default)"));
    interval_ = SpinBox(QStringLiteral("seFrameTime"), kMinInterval - 1, kMaxInterval, QStringLiteral("80 ms (default)"));
    interval_->setSuffix(QStringLiteral(" ms"));

    auto* form = new QFormLayout(this);
    form->setContentsMargins(4, 4, 4, 4);
    form->addRow(QStringLiteral("Role"), role_);
    form->addRow(QStringLiteral("Move"), move);
    form->addRow(QStringLiteral("Facing"), facing_);
    form->addRow(QStringLiteral("Weight"), weight_);
    form->addRow(QStringLiteral("Frame time"), interval_);

    const auto edited = [this] { emit MotionEdited(Motion()); };
    for (QComboBox* box : {role_, facing_})
        connect(box, &QComboBox::activated, this, edited);
    for (QSpinBox* box : {dx_, dy_, weight_, interval_})
        connect(box, &QSpinBox::editingFinished, this, edited);
}

void TMotionPane::SetMotion(const TMotion& motion)
{
    const QSignalBlocker blockers[] = {QSignalBlocker(role_), QSignalBlocker(dx_), QSignalBlocker(dy_),
                                       QSignalBlocker(facing_), QSignalBlocker(weight_), QSignalBlocker(interval_)};
    role_->setCurrentIndex(motion.Role ? static_cast<int>(*motion.Role) + 1 : 0);
    dx_->setValue(motion.MoveOrStill().Dx);
    dy_->setValue(motion.MoveOrStill().Dy);
    facing_->setCurrentIndex(!motion.Facing ? 0 : *motion.Facing == TFacing::Left ? 1 : 2);
    weight_->setValue(motion.Weight.value_or(weight_->minimum()));
    interval_->setValue(motion.Interval.value_or(interval_->minimum()));
}

TMotion TMotionPane::Motion() const
{
    TMotion motion;
    if (role_->currentIndex() > 0)
        motion.Role = kRoles[role_->currentIndex() - 1];
    // A move of nothing is the default: not written.
    if (dx_->value() != 0 || dy_->value() != 0)
        motion.Move = TMove{dx_->value(), dy_->value()};
    if (facing_->currentIndex() > 0)
        motion.Facing = facing_->currentIndex() == 1 ? TFacing::Left : TFacing::Right;
    if (weight_->value() >= 0)
        motion.Weight = weight_->value();
    if (interval_->value() >= kMinInterval)
        motion.Interval = interval_->value();
    return motion;
}
