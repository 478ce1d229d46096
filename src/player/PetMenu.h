#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class QAction;
class QActionGroup;
class QPoint;
class QRect;
class QMenu;
class QWidget;

// The pet's pop-up menu: Close, Minimize, Play Mode (with Roam and Chase the Pointer for a
// package that can roam), Size, Sound, Transparent, then one item per action of its package,
// the playing one checked, as in a radio group. Choosing an action's item marks that action
// (choosing the marked one again unmarks it). The menu shows the pet's choices and says what
// the person chose; the pet decides what that does.
class TPetMenu : public QObject {
    Q_OBJECT
public:
    // Up to this many actions have their items in the menu itself; more come in groups of
    // this many, each filled when first opened.
    static constexpr int kActionsPerMenu = 1000;

    explicit TPetMenu(QWidget* owner);

    QMenu* Menu() const { return menu_; }
    // Opens the menu at the pointer's height beside `pet` (its window's place and size):
    // on its right, or on its left where the screen ends. Compositors draw Qt's windows
    // under layer surfaces, so at the pointer the creature would cover the menu.
    void PopUpBeside(const QRect& pet, QPoint pointer);
    QAction* TransparentItem() const { return transparent_; }

    // The items of the actions named `names`, in order, none marked.
    void SetActions(const QStringList& names);
    // Marks the action as a click would (the one Single Repeat plays); -1: none.
    void MarkAction(int action);
    int MarkedAction() const { return markedAction_; }
    // Checks the item of the action that plays now, as in a radio group; -1: none. An item
    // not made yet (a large package's group) is checked when its group opens.
    void ShowPlaying(int action);
    void MarkMode(std::int32_t mode);
    // Roam and Chase the Pointer are offered only for a package that can roam.
    void SetCanRoam(bool can);
    void SetChase(bool on);
    void MarkSize(int scale);
    void SetSound(bool on);
    bool Sound() const;
    void SetTransparent(bool on);
    bool Transparent() const;

signals:
    void CloseChosen();
    void MinimizeChosen();
    void ModeChosen(std::int32_t mode);
    void SizeChosen(int scale);
    void SoundChosen(bool on);
    void TransparentChosen(bool on);
    void ChaseChosen(bool on);
    // An action's item was chosen: it is now the marked one, or, chosen while marked, none is.
    void ActionChosen(int action);

private:
    void AddActionItems(QMenu* menu, int first, int end);
    void ActionItemChosen(QAction* item);

    QMenu* menu_;
    QAction* actionsSeparator_ = nullptr;  // the actions' items come after it
    // The menu's items from the first action's on.
    QList<QAction*> ActionItems() const;
    QList<QAction*> modeItems_;  // Repeat, Single Repeat, Random, Roam
    QAction* roamItem_ = nullptr;
    QAction* chase_ = nullptr;
    QList<QAction*> sizeItems_;  // 1x to 4x
    QAction* sound_ = nullptr;
    QAction* transparent_ = nullptr;
    QStringList names_;
    QActionGroup* actionGroup_ = nullptr;  // one item checked: the action playing
    QPointer<QAction> playingItem_;
    int playingAction_ = -1;
    int markedAction_ = -1;
};
