#pragma once

#include "package/Motion.h"

#include <QWidget>

class QComboBox;
class QSpinBox;

// How the shown action moves a roaming pet: its role, its move a frame, the way its art
// faces, how often roaming picks it and its frame time. Each field left at its first choice
// is not set, and the package says nothing of it.
class TMotionPane : public QWidget {
    Q_OBJECT
public:
    explicit TMotionPane(QWidget* parent = nullptr);

    // Shows the action's motion, without telling of an edit.
    void SetMotion(const TMotion& motion);
    TMotion Motion() const;

signals:
    // The person changed a field.
    void MotionEdited(const TMotion& motion);

private:
    QComboBox* role_;
    QSpinBox* dx_;
    QSpinBox* dy_;
    QComboBox* facing_;
    QSpinBox* weight_;
    QSpinBox* interval_;
};
