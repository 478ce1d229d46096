#include "player/PetMenu.h"

#include "player/PetMemory.h"
#include "player/PetSound.h"
#include "player/PlaybackEngine.h"

#include <QActionGroup>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWidget>

#include <algorithm>

TPetMenu::TPetMenu(QWidget* owner) : QObject(owner), menu_(new QMenu(owner))
{
    menu_->setObjectName(QStringLiteral("petMenu"));
    menu_->addAction(QStringLiteral("Close"), this, &TPetMenu::CloseChosen)->setObjectName(QStringLiteral("play1"));
    menu_->addAction(QStringLiteral("Minimize"), this, &TPetMenu::MinimizeChosen)->setObjectName(QStringLiteral("minimizeItem"));

    QMenu* playMode = menu_->addMenu(QStringLiteral("Play Mode"));
    playMode->menuAction()->setObjectName(QStringLiteral("PlayMode1"));
    auto* modes = new QActionGroup(this);
    const struct {
        const char* caption;
        const char* name;
        std::int32_t mode;
    } modeItems[] = {{"Repeat", "Repeat1", kPlayRepeat},
                     {"Single Repeat", "SingleRepeat1", kPlaySingleRepeat},
                     {"Random", "Random1", kPlayRandom},
                     {"Roam", "Roam", kPlayRoam}};
    for (const auto& [caption, name, mode] : modeItems) {
        QAction* item = playMode->addAction(QLatin1String(caption), this, [this, mode = mode] { emit ModeChosen(mode); });
        item->setObjectName(QLatin1String(name));
        item->setCheckable(true);
        modes->addAction(item);
        modeItems_.append(item);
    }
    modeItems_[0]->setChecked(true);
    roamItem_ = modeItems_.back();
    roamItem_->setVisible(false);
    playMode->addSeparator();
    chase_ = playMode->addAction(QStringLiteral("Chase the Pointer"));
    chase_->setObjectName(QStringLiteral("Chase"));
    chase_->setCheckable(true);
    chase_->setVisible(false);
    connect(chase_, &QAction::triggered, this, &TPetMenu::ChaseChosen);

    QMenu* size = menu_->addMenu(QStringLiteral("Size"));
    size->menuAction()->setObjectName(QStringLiteral("Size"));
    auto* sizes = new QActionGroup(this);
    for (int scale = kMinPetScale; scale <= kMaxPetScale; ++scale) {
        QAction* item = size->addAction(QStringLiteral("%1\u00d7").arg(scale), this, [this, scale] { emit SizeChosen(scale); });
        item->setCheckable(true);
        item->setChecked(scale == kMinPetScale);
        sizes->addAction(item);
        sizeItems_.append(item);
    }

    sound_ = menu_->addAction(QStringLiteral("Sound"));
    sound_->setObjectName(QStringLiteral("Sound"));
    sound_->setCheckable(true);
    connect(sound_, &QAction::triggered, this, &TPetMenu::SoundChosen);
    // Looking for GStreamer takes a moment the first time: done when the menu first opens.
    connect(menu_, &QMenu::aboutToShow, sound_, [this] { sound_->setVisible(TPetSound::Available()); });
    transparent_ = menu_->addAction(QStringLiteral("Transparent"));
    transparent_->setObjectName(QStringLiteral("Transparent"));
    transparent_->setCheckable(true);
    connect(transparent_, &QAction::triggered, this, &TPetMenu::TransparentChosen);
    actionGroup_ = new QActionGroup(this);
    actionGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    actionsSeparator_ = menu_->addSeparator();
    actionsSeparator_->setObjectName(QStringLiteral("actionsSeparator"));
}

void TPetMenu::PopUpBeside(const QRect& pet, QPoint pointer)
{
    const QScreen* screen = QGuiApplication::screenAt(pointer);
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    const int width = menu_->sizeHint().width();
    int x = pet.right() + 1;
    if (available.isValid() && x + width > available.right() + 1 && pet.left() - width >= available.left())
        x = pet.left() - width;
    menu_->popup(QPoint(x, pointer.y()));
}

QList<QAction*> TPetMenu::ActionItems() const
{
    const QList<QAction*> items = menu_->actions();
    return items.mid(items.indexOf(actionsSeparator_) + 1);
}

void TPetMenu::MarkMode(std::int32_t mode)
{
    modeItems_[IsPlayMode(mode) ? mode - kPlayRepeat : 0]->setChecked(true);
    chase_->setEnabled(mode == kPlayRoam);
}

void TPetMenu::SetCanRoam(bool can)
{
    roamItem_->setVisible(can);
    chase_->setVisible(can);
}

void TPetMenu::SetChase(bool on) { chase_->setChecked(on); }

void TPetMenu::MarkSize(int scale) { sizeItems_[std::clamp(scale, kMinPetScale, kMaxPetScale) - kMinPetScale]->setChecked(true); }

void TPetMenu::SetSound(bool on) { sound_->setChecked(on); }

bool TPetMenu::Sound() const { return sound_->isChecked(); }

void TPetMenu::SetTransparent(bool on) { transparent_->setChecked(on); }

bool TPetMenu::Transparent() const { return transparent_->isChecked(); }

void TPetMenu::SetActions(const QStringList& names)
{
    // Every item goes, whatever menu it is in; a menu's removal cost grows with its size,
    // so the items of a large package sit in submenus that go whole.
    names_ = names;
    markedAction_ = -1;
    playingAction_ = -1;
    playingItem_ = nullptr;
    const QList<QAction*> items = ActionItems();
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        menu_->removeAction(*item);
        if (QMenu* chunk = (*item)->menu())
            delete chunk;
        else
            delete *item;
    }
    const auto count = static_cast<int>(names_.size());
    if (count <= kActionsPerMenu) {
        AddActionItems(menu_, 0, count);
        return;
    }
    // Adding to a menu checks the items it holds, so one menu of many thousand items takes
    // minutes to fill: a large package's actions come in groups, each filled when opened.
    for (int first = 0; first < count; first += kActionsPerMenu) {
        const int end = std::min(count, first + kActionsPerMenu);
        auto* chunk = new QMenu(QStringLiteral("%1 - %2").arg(first + 1).arg(end), menu_);
        menu_->addMenu(chunk);
        connect(chunk, &QMenu::aboutToShow, this, [this, chunk, first, end] {
            if (chunk->isEmpty())
                AddActionItems(chunk, first, end);
        });
    }
}

void TPetMenu::AddActionItems(QMenu* menu, int first, int end)
{
    for (int i = first; i < end && i < names_.size(); ++i) {
        QAction* item = menu->addAction(names_[i]);
        item->setCheckable(true);
        item->setData(i);
        actionGroup_->addAction(item);
        if (i == playingAction_) {
            item->setChecked(true);
            playingItem_ = item;
        }
        connect(item, &QAction::triggered, this, [this, item] { ActionItemChosen(item); });
    }
}

void TPetMenu::MarkAction(int action) { markedAction_ = action; }

void TPetMenu::ShowPlaying(int action)
{
    if (action == playingAction_ && (playingItem_ != nullptr || action < 0))
        return;
    if (playingItem_ != nullptr)
        playingItem_->setChecked(false);
    playingAction_ = action;
    playingItem_ = nullptr;
    if (action < 0 || action >= names_.size())
        return;
    // A large package's items sit in groups, made when a group first opens.
    const QList<QAction*> items = ActionItems();
    const bool grouped = names_.size() > kActionsPerMenu;
    QAction* holder = items.value(grouped ? action / kActionsPerMenu : action);
    if (holder != nullptr && grouped)
        holder = holder->menu() != nullptr ? holder->menu()->actions().value(action % kActionsPerMenu) : nullptr;
    if (holder != nullptr) {
        holder->setChecked(true);
        playingItem_ = holder;
    }
}

void TPetMenu::ActionItemChosen(QAction* item)
{
    // Choosing the marked action again unmarks it; either way the chosen one plays next.
    const int action = item->data().toInt();
    markedAction_ = markedAction_ == action ? -1 : action;
    emit ActionChosen(action);
    playingAction_ = -1;
    ShowPlaying(action);
}
