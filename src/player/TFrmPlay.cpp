#include "player/TFrmPlay.h"

#include "common/Error.h"
#include "common/Prompts.h"
#include "common/Settings.h"
#include "package/PackageLayout.h"
#include "package/Manifest.h"
#include "player/PackageCache.h"
#include "package/SpriteSheet.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWindow>


#include <algorithm>
#include <charconv>
#include <climits>

#include <malloc.h>

namespace {

// Position of the first action item in the pop-up menu.
constexpr int kFirstActionItem = 7;
// Up to this many actions have their items in the pop-up menu itself.
constexpr int kActionsPerMenu = 1000;

// One ten-digit field of a frame request; anything but digits in the int range reads as 0.
int Field(std::string_view text, std::size_t index)
{
    int value = 0;
    const char* begin = text.data() + index * 10;
    std::from_chars(begin, begin + 10, value);
    return std::max(value, 0);
}

}  // namespace

TFrmPlay::TFrmPlay(Prompts& prompts)
    : QWidget(nullptr), prompts_(prompts),
      handOff_([this](int width, int height, std::string_view text, int started) {
          ServeFrame(width, height, text, started);
      })
{
    setObjectName(QStringLiteral("FrmPlay"));
    // No owner and no Tool flag: the pet gets a task-bar entry of its own.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // No caption until a package names it: an empty title would make Qt show the
    // application's name instead.
    setWindowTitle(QStringLiteral(" "));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    move(kFirstPosition);
    resize(kFirstSize);
    BuildMenu();

    tmr1_.setSingleShot(true);
    tmr1_.setInterval(1);
    connect(&tmr1_, &QTimer::timeout, this, &TFrmPlay::tmr1Timer);
    // A pet whose chosen action has no frames would never be seen, nor its menu reached.
    firstFrameTimer_.setSingleShot(true);
    firstFrameTimer_.setInterval(1000);
    connect(&firstFrameTimer_, &QTimer::timeout, this, &TFrmPlay::ShowFirstFrame);
    // A drag moves the window many times; its place is kept once it rests.
    placeTimer_.setSingleShot(true);
    placeTimer_.setInterval(1000);
    connect(&placeTimer_, &QTimer::timeout, this, [this] {
        if (loaded_ && !packagePath_.isEmpty())
            SetPetPlace(packagePath_, geometry());
    });
}

void TFrmPlay::BuildMenu()
{
    pm1_ = new QMenu(this);
    pm1_->setObjectName(QStringLiteral("pm1"));
    pm1_->addAction(QStringLiteral("Close"), this, &TFrmPlay::play1Click)->setObjectName(QStringLiteral("play1"));
    pm1_->addAction(QStringLiteral("Minimize"), this, &TFrmPlay::N11Click)->setObjectName(QStringLiteral("N11"));
    QMenu* playMode = pm1_->addMenu(QStringLiteral("Play Mode"));
    playMode->menuAction()->setObjectName(QStringLiteral("PlayMode1"));
    auto* modes = new QActionGroup(this);
    const auto modeItem = [&](const QString& caption, const char* name, void (TFrmPlay::*handler)()) {
        QAction* item = playMode->addAction(caption, this, handler);
        item->setObjectName(QLatin1String(name));
        item->setCheckable(true);
        modes->addAction(item);
        return item;
    };
    Repeat1_ = modeItem(QStringLiteral("Repeat"), "Repeat1", &TFrmPlay::Repeat1Click);
    SingleRepeat1_ = modeItem(QStringLiteral("Single Repeat"), "SingleRepeat1", &TFrmPlay::SingleRepeat1Click);
    Random1_ = modeItem(QStringLiteral("Random"), "Random1", &TFrmPlay::Random1Click);
    Repeat1_->setChecked(true);

    QMenu* size = pm1_->addMenu(QStringLiteral("Size"));
    size->menuAction()->setObjectName(QStringLiteral("Size"));
    auto* sizes = new QActionGroup(this);
    for (int scale = kMinPetScale; scale <= kMaxPetScale; ++scale) {
        QAction* item = size->addAction(QStringLiteral("%1\u00d7").arg(scale), this, [this, scale] { SizeClick(scale); });
        item->setCheckable(true);
        item->setChecked(scale == scale_);
        sizes->addAction(item);
        sizeItems_.append(item);
    }

    Sound_ = pm1_->addAction(QStringLiteral("Sound"), this, &TFrmPlay::SoundClick);
    Sound_->setObjectName(QStringLiteral("Sound"));
    Sound_->setCheckable(true);
    Sound_->setChecked(PetSound());
    // Looking for GStreamer takes a moment the first time: done when the menu first opens.
    connect(pm1_, &QMenu::aboutToShow, Sound_, [this] { Sound_->setVisible(TPetSound::Available()); });
    connect(&SettingsSignals(), &TSettingsSignals::PetSoundChanged, Sound_, &QAction::setChecked);
    Transparent_ = pm1_->addAction(QStringLiteral("Transparent"), this, &TFrmPlay::TransparentClick);
    Transparent_->setObjectName(QStringLiteral("Transparent"));
    Transparent_->setCheckable(true);
    Transparent_->setChecked(TransparentPet());
    connect(&SettingsSignals(), &TSettingsSignals::TransparentPetChanged, this, [this](bool on) {
        Transparent_->setChecked(on);
        ApplyShape();
    });
    pm1_->addSeparator()->setObjectName(QStringLiteral("N1"));
}

TFrmPlay::~TFrmPlay()
{
    if (loaded_)
        FormCloseQuery();
}

void TFrmPlay::RestoreAndClose()
{
    if (isMinimized())
        showNormal();
    // A window hidden after it was seen (its package loading again, or all pets hidden) has
    // lost its platform window, and Qt then closes it without a close event.
    if (isHidden() && loaded_) {
        FormCloseQuery();
        if (testAttribute(Qt::WA_DeleteOnClose))
            deleteLater();
        return;
    }
    close();
}

void TFrmPlay::ShowPlayer()
{
    show();
    raise();
}

void TFrmPlay::setVisible(bool visible)
{
    // Showing a closed pet loads its package; a pet restored from the task bar plays on.
    if (visible && !loaded_) {
        loaded_ = true;
        FormShow();
    }
    if (visible && !firstFrame_) {
        wantVisible_ = true;
        // Its thread goes on to the first frame, with which the window shows.
        if (package_)
            SetHidden(state_, false);
        return;
    }
    if (!visible) {
        wantVisible_ = false;
        // Also before its first frame, when no hide event comes: its thread rests from the start.
        SetHidden(state_, true);
    }
    QWidget::setVisible(visible);
}

void TFrmPlay::showEvent(QShowEvent* event)
{
    SetHidden(state_, isMinimized());
    QWidget::showEvent(event);
}

void TFrmPlay::hideEvent(QHideEvent* event)
{
    // A hidden pet, like a minimized one, is seen by nobody.
    SetHidden(state_, true);
    QWidget::hideEvent(event);
}

void TFrmPlay::FormShow()
{
    state_.PlayMode = kPlayRepeat;
    Repeat1_->setChecked(true);
    // Another Zuvora may have changed them since.
    Sound_->setChecked(PetSound());
    Transparent_->setChecked(TransparentPet());
    // Task bars and window lists name the pet after its package.
    setWindowTitle(QFileInfo(packagePath_).completeBaseName());
    scale_ = PetScale(packagePath_);
    sizeItems_[scale_ - 1]->setChecked(true);

    // Nothing of the last package stays: no action items, none marked, no frame.
    checkedAction_ = -1;
    BuildActionMenu();
    frame_ = QRect();
    firstFrame_ = false;
    ++session_;
    // Extraction and decoding may take seconds: they run on the shelf's thread, and the pet
    // comes when its package is ready.
    ticket_ = PackageShelf().Take(packagePath_, [this](const auto& package) { PackageReady(package); });
}

void TFrmPlay::PackageReady(const std::shared_ptr<const TLoadedPackage>& package)
{
    ticket_.reset();
    if (!package->Sheet) {
        // The close may delete the pet; its boxes need only the prompts.
        Prompts& prompts = prompts_;
        RestoreAndClose();
        ShowLoadMessages(*package, prompts);
        return;
    }
    // A box runs an event loop of its own, in which the pet may be closed.
    const QPointer<TFrmPlay> alive(this);
    const int session = session_;
    ShowLoadMessages(*package, prompts_);
    if (alive.isNull() || session != session_ || !loaded_)
        return;
    package_ = package;
    cacheFolder_ = package_->CacheFolder;
    BuildActionMenu();
    // An action picked before the package came (a pet brought back) is picked now.
    if (checkedAction_ >= static_cast<int>(package_->Model.Actions.size()))
        checkedAction_ = -1;
    if (checkedAction_ >= 0)
        PickAction(state_, checkedAction_);
    state_.Running = true;
    SetHidden(state_, !wantVisible_);
    tmr1_.start();
    firstFrameTimer_.start();
    // Extraction, manifest and decoding leave freed buffers in the heap; hand them back, so
    // a playing pet costs little more than its sheet.
    malloc_trim(0);
}

void TFrmPlay::BuildActionMenu()
{
    // Every item goes, whatever menu it is in; a menu's removal cost grows with its size,
    // so the items of a large package sit in submenus that go whole.
    checkedItem_ = nullptr;
    const QList<QAction*> items = pm1_->actions();
    for (qsizetype i = items.size() - 1; i >= kFirstActionItem; --i) {
        pm1_->removeAction(items[i]);
        if (QMenu* chunk = items[i]->menu())
            delete chunk;
        else
            delete items[i];
    }
    const int count = package_ ? static_cast<int>(package_->Model.Actions.size()) : 0;
    if (count <= kActionsPerMenu) {
        AddActionItems(pm1_, 0, count);
        return;
    }
    // Adding to a menu checks the items it holds, so one menu of many thousand items takes
    // minutes to fill: a large package's actions come in groups, each filled when opened.
    for (int first = 0; first < count; first += kActionsPerMenu) {
        const int end = std::min(count, first + kActionsPerMenu);
        auto* chunk = new QMenu(QStringLiteral("%1 - %2").arg(first + 1).arg(end), pm1_);
        pm1_->addMenu(chunk);
        connect(chunk, &QMenu::aboutToShow, this, [this, chunk, first, end] {
            if (chunk->isEmpty())
                AddActionItems(chunk, first, end);
        });
    }
}

void TFrmPlay::AddActionItems(QMenu* menu, int first, int end)
{
    if (!package_)
        return;  // a submenu opened after the close
    const std::vector<TAction>& actions = package_->Model.Actions;
    for (int i = first; i < end; ++i) {
        QAction* item = menu->addAction(actions[static_cast<std::size_t>(i)].Name);
        item->setCheckable(true);
        item->setData(i);
        item->setChecked(i == checkedAction_);
        if (i == checkedAction_)
            checkedItem_ = item;
        connect(item, &QAction::triggered, this, [this, item] { ActionItemClick(item); });
    }
}

void TFrmPlay::tmr1Timer()
{
    if (engine_ || !loaded_ || !package_)
        return;
    engine_ = std::make_unique<TPlaybackEngine>(state_, &package_->Model, handOff_);
    engine_->StartPlayback();
}

void TFrmPlay::closeEvent(QCloseEvent* event)
{
    if (loaded_)
        FormCloseQuery();
    event->accept();
}

void TFrmPlay::FormCloseQuery()
{
    // A package still loading is no longer wanted.
    ticket_.reset();
    firstFrame_ = false;
    wantVisible_ = false;
    if (package_) {
        placeTimer_.stop();
        SetPetPlace(packagePath_, geometry());
    }
    sound_.Stop();
    tmr1_.stop();
    firstFrameTimer_.stop();
    StopPlayback(state_);
    if (engine_) {
        // The thread may be waiting for a frame to be drawn here: keep serving its requests
        // until it has seen the stop, then free what it reads.
        while (!engine_->Finished()) {
            handOff_.ServePending();
            QThread::msleep(1);
        }
        engine_.reset();
    }
    package_.reset();
    loaded_ = false;
}

void TFrmPlay::ServeFrame(int width, int height, std::string_view text, int startedAction)
{
    if (startedAction >= 0)
        PlayActionSound(startedAction);
    // One resize, and none for a frame of the size shown: each costs the window system a
    // round of configure events.
    const auto side = [this](int frameSide, int now) {
        return frameSide >= 0 ? static_cast<int>(std::min<qint64>(qint64{frameSide} * scale_, kMaxPetSide)) : now;
    };
    const QSize wanted(side(width, this->width()), side(height, this->height()));
    if (wanted != size())
        resize(wanted);
    FrameRequestHandler(text);
    if (!firstFrame_)
        ShowFirstFrame();
}

void TFrmPlay::ShowFirstFrame()
{
    firstFrameTimer_.stop();
    if (!loaded_ || firstFrame_)
        return;
    firstFrame_ = true;
    if (wantVisible_) {
        show();
        raise();
    }
}

void TFrmPlay::FrameRequestHandler(std::string_view text)
{
    if (text.size() < 40 || surfaceLocked_)
        return;
    surfaceLocked_ = true;
    const bool haveSheet = HasSheet();
    if (haveSheet) {
        // Fields are 0 to 2147483647; keep right and bottom edges within int as well.
        const int left = Field(text, 0);
        const int top = Field(text, 1);
        frame_ = QRect(left, top, std::min(Field(text, 2), INT_MAX - left), std::min(Field(text, 3), INT_MAX - top));
    } else {
        frame_ = QRect();
    }
    ApplyShape();
    repaint();
    surfaceLocked_ = false;
    if (haveSheet)
        QThread::msleep(1);
}

void TFrmPlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Also when the system asks for a repaint: the last frame comes back at once. Only the
    // part of the rectangle that lies on the sheet is copied; the rest is background.
    QRect source;
    if (HasSheet() && !package_->Sheet->Image.isNull() && !frame_.isEmpty())
        source = frame_ & package_->Sheet->Image.rect();
    const QRect target(source.translated(-frame_.topLeft()).topLeft() * scale_, source.size() * scale_);
    // Qt hands fills and copies taller than about a hundred rows to worker threads, which
    // for a pet's frame costs more in waking them than it saves: bands of fewer rows.
    constexpr int kBand = 32;
    for (const QRect& background : QRegion(rect()) - target) {
        for (int y = background.top(); y <= background.bottom(); y += kBand)
            painter.fillRect(QRect(background.left(), y, background.width(), std::min(kBand, background.bottom() + 1 - y)),
                             palette().button());
    }
    if (source.isEmpty())
        return;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // Scaled by whole factors without smoothing, so pixel art stays crisp.
    const int rows = std::max(1, kBand / scale_);
    for (int y = 0; y < source.height(); y += rows) {
        const QRect band(source.left(), source.top() + y, source.width(), std::min(rows, source.height() - y));
        const QRect onScreen((band.topLeft() - frame_.topLeft()) * scale_, band.size() * scale_);
        painter.drawImage(onScreen, package_->Sheet->Image, band);
    }
}

void TFrmPlay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The window manager moves the window while the button is held; where it will not
    // (some platforms refuse), the window follows the mouse itself.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove())
        return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
}

void TFrmPlay::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - dragOffset_);
}

void TFrmPlay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        dragging_ = false;
}

void TFrmPlay::contextMenuEvent(QContextMenuEvent* event) { pm1_->popup(event->globalPos()); }

void TFrmPlay::moveEvent(QMoveEvent* event)
{
    if (loaded_)
        placeTimer_.start();
    QWidget::moveEvent(event);
}

void TFrmPlay::changeEvent(QEvent* event)
{
    // A minimized pet is seen by nobody: its thread waits until it is restored.
    if (event->type() == QEvent::WindowStateChange)
        SetHidden(state_, isMinimized());
    QWidget::changeEvent(event);
}

void TFrmPlay::play1Click() { close(); }

void TFrmPlay::N11Click() { showMinimized(); }

void TFrmPlay::PlayModeClick(QAction* item, std::int32_t mode)
{
    item->setChecked(true);
    SetPlayMode(state_, mode);
}

void TFrmPlay::Repeat1Click() { PlayModeClick(Repeat1_, kPlayRepeat); }

void TFrmPlay::SingleRepeat1Click() { PlayModeClick(SingleRepeat1_, kPlaySingleRepeat); }

void TFrmPlay::Random1Click() { PlayModeClick(Random1_, kPlayRandom); }

void TFrmPlay::ActionItemClick(QAction* item)
{
    // At most one item is marked; choosing the marked one again unmarks it (Qt has already
    // toggled the item itself).
    const int index = item->data().toInt();
    if (checkedItem_ != nullptr && checkedItem_ != item)
        checkedItem_->setChecked(false);
    checkedItem_ = item->isChecked() ? item : nullptr;
    checkedAction_ = item->isChecked() ? index : -1;
    PickAction(state_, index);
}

void TFrmPlay::SoundClick()
{
    if (!Sound_->isChecked())
        sound_.Stop();
    SetPetSound(Sound_->isChecked());
    emit SettingsSignals().PetSoundChanged(Sound_->isChecked());
}

void TFrmPlay::SizeClick(int scale)
{
    scale_ = scale;
    sizeItems_[scale - 1]->setChecked(true);
    SetPetScale(packagePath_, scale);
    if (!frame_.isEmpty()) {
        resize(QSize(std::min(frame_.width() * scale, kMaxPetSide), std::min(frame_.height() * scale, kMaxPetSide)));
        ApplyShape();
        update();
    }
}

void TFrmPlay::PlayActionSound(int action)
{
    if (!Sound_->isChecked() || !package_ ||
        action >= static_cast<int>(package_->Model.Actions.size()))
        return;
    const QStringList& audio = package_->Model.Actions[static_cast<std::size_t>(action)].AudioFiles;
    // A member name, never a path: a damaged manifest must not name files elsewhere.
    if (audio.isEmpty() || audio[0].isEmpty() || audio[0].contains(u'/') || audio[0].contains(u'\\') ||
        audio[0] == u"." || audio[0] == u"..")
        return;
    sound_.Play(QDir(cacheFolder_).filePath(audio[0]));
}

TPetRecord TFrmPlay::Record() const { return {packagePath_, pos(), checkedAction_, state_.PlayMode.load()}; }

void TFrmPlay::Resume(const TPetRecord& record)
{
    switch (record.Mode) {
    case kPlaySingleRepeat:
        SingleRepeat1Click();
        break;
    case kPlayRandom:
        Random1Click();
        break;
    default:
        Repeat1Click();
        break;
    }
    if (record.Action < 0)
        return;
    // A pet whose package is still loading marks and picks it when the package comes.
    if (!package_) {
        checkedAction_ = record.Action;
        return;
    }
    if (record.Action >= static_cast<int>(package_->Model.Actions.size()))
        return;
    // Marked as a click marks it; an item not made yet (a large package's group) is marked
    // when its group opens.
    checkedAction_ = record.Action;
    for (QAction* item : pm1_->actions().mid(kFirstActionItem)) {
        if (!item->menu() && item->data().toInt() == record.Action) {
            item->setChecked(true);
            checkedItem_ = item;
        }
    }
    PickAction(state_, record.Action);
}

void TFrmPlay::TransparentClick() { SetTransparentPet(Transparent_->isChecked()); }

void TFrmPlay::ApplyShape()
{
    const QRegion shape =
        Transparent_->isChecked() && HasSheet() ? package_->Sheet->Shapes.Shape(frame_, size(), scale_) : QRegion();
    if (shape.isEmpty()) {
        if (!mask().isEmpty())
            clearMask();
    } else if (shape != mask()) {
        setMask(shape);
    }
}
