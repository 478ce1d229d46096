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
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWindow>

#ifdef ZUVORA_HAVE_MULTIMEDIA
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#endif

#include <algorithm>
#include <charconv>
#include <climits>

#include <malloc.h>

namespace {

// Position of the first action item in the pop-up menu.
constexpr int kFirstActionItem = 6;
// Up to this many actions have their items in the pop-up menu itself.
constexpr int kActionsPerMenu = 1000;
// Wider or taller than any screen: a frame this large shows nothing more, and a window of
// the size a damaged manifest may ask for would take gigabytes of backing store.
constexpr int kMaxWindowSide = 4096;

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
      handOff_([this](int width, int height, std::string_view text) { ServeFrame(width, height, text); })
{
    setObjectName(QStringLiteral("FrmPlay"));
    // No owner and no Tool flag: the pet gets a task-bar entry of its own.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // No caption: an empty title would make Qt show the application's name instead.
    setWindowTitle(QStringLiteral(" "));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    move(kFirstPosition);
    resize(kFirstSize);

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
    Sound_ = pm1_->addAction(QStringLiteral("Sound"), this, &TFrmPlay::SoundClick);
    Sound_->setObjectName(QStringLiteral("Sound"));
    Sound_->setCheckable(true);
    Sound_->setChecked(true);
    Sound_->setVisible(false);
    Transparent_ = pm1_->addAction(QStringLiteral("Transparent"), this, &TFrmPlay::TransparentClick);
    Transparent_->setObjectName(QStringLiteral("Transparent"));
    Transparent_->setCheckable(true);
    Transparent_->setChecked(TransparentPet());
    connect(&SettingsSignals(), &TSettingsSignals::TransparentPetChanged, this, [this](bool on) {
        Transparent_->setChecked(on);
        ApplyShape();
    });
    pm1_->addSeparator()->setObjectName(QStringLiteral("N1"));

    tmr1_.setSingleShot(true);
    tmr1_.setInterval(1);
    connect(&tmr1_, &QTimer::timeout, this, &TFrmPlay::tmr1Timer);

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
    close();
}

void TFrmPlay::ShowPlayer()
{
    show();
    raise();
}

void TFrmPlay::showEvent(QShowEvent* event)
{
    // Restoring from the task bar shows the window again without a new load.
    if (!loaded_) {
        loaded_ = true;
        FormShow();
    }
    QWidget::showEvent(event);
}

void TFrmPlay::FormShow()
{
    state_.PlayMode = kPlayRepeat;
    Repeat1_->setChecked(true);
    Sound_->setChecked(true);
    // Another Zuvora may have changed it since.
    Transparent_->setChecked(TransparentPet());

    // The windows repaint during a long extraction, but no click can start a second show.
    package_ = PackageShelf().Take(packagePath_, prompts_, [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    cacheFolder_ = package_->CacheFolder;
    BuildActionMenu();

    frame_ = QRect();
    if (!package_->Nothing.isEmpty()) {
        // An empty box on top of every window helps nobody: the pet goes, saying why unless
        // the extraction's error has said it already.
        if (package_->Extracted)
            prompts_.ErrorWithDetail(QStringLiteral("There is nothing to play."), packagePath_ + u'\n' + package_->Nothing);
        package_.reset();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    state_.Running = true;
    SetHidden(state_, isMinimized());
    tmr1_.start();
    // Extraction, manifest and decoding leave freed buffers in the heap; hand them back, so
    // a playing pet costs little more than its sheet.
    malloc_trim(0);
}

void TFrmPlay::BuildActionMenu()
{
    // Every item goes, whatever menu it is in; a menu's removal cost grows with its size,
    // so the items of a large package sit in submenus that go whole.
    checkedItem_ = nullptr;
    checkedAction_ = -1;
    const QList<QAction*> items = pm1_->actions();
    for (qsizetype i = items.size() - 1; i >= kFirstActionItem; --i) {
        pm1_->removeAction(items[i]);
        if (QMenu* chunk = items[i]->menu())
            delete chunk;
        else
            delete items[i];
    }
    const auto count = static_cast<int>(package_->Model.Actions.size());
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
    StopMedia();
    tmr1_.stop();
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

void TFrmPlay::ServeFrame(int width, int height, std::string_view text)
{
    // One resize, and none for a frame of the size shown: each costs the window system a
    // round of configure events.
    const QSize wanted(width >= 0 ? std::min(width, kMaxWindowSide) : this->width(),
                       height >= 0 ? std::min(height, kMaxWindowSide) : this->height());
    if (wanted != size())
        resize(wanted);
    FrameRequestHandler(text);
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
    if (HasSheet() && !package_->Sheet->isNull() && !frame_.isEmpty())
        source = frame_ & package_->Sheet->rect();
    const QRect target = source.translated(-frame_.topLeft()) & rect();
    // Qt hands fills and copies taller than about a hundred rows to worker threads, which
    // for a pet's frame costs more in waking them than it saves: bands of fewer rows.
    const auto inBands = [](const QRect& area, const auto& draw) {
        constexpr int kBand = 32;
        for (int y = area.top(); y <= area.bottom(); y += kBand)
            draw(QRect(area.left(), y, area.width(), std::min(kBand, area.bottom() + 1 - y)));
    };
    for (const QRect& background : QRegion(rect()) - target)
        inBands(background, [&](const QRect& band) { painter.fillRect(band, palette().button()); });
    if (target.isEmpty())
        return;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    inBands(target, [&](const QRect& band) {
        painter.drawImage(band.topLeft(), *package_->Sheet, band.translated(frame_.topLeft()));
    });
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

void TFrmPlay::SoundClick() { StopMedia(); }

void TFrmPlay::TransparentClick() { SetTransparentPet(Transparent_->isChecked()); }

void TFrmPlay::ApplyShape()
{
    const QRegion shape = Transparent_->isChecked() && package_ ? package_->Shapes.Shape(frame_, size()) : QRegion();
    if (shape.isEmpty()) {
        if (!mask().isEmpty())
            clearMask();
    } else if (shape != mask()) {
        setMask(shape);
    }
}

void TFrmPlay::StopMedia()
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    if (mediaPlayer_ != nullptr && mediaPlayer_->playbackState() == QMediaPlayer::PlayingState)
        mediaPlayer_->stop();
#endif
}

std::optional<qint64> TFrmPlay::AudioRequest(const QString& path)
{
#ifdef ZUVORA_HAVE_MULTIMEDIA
    if (mediaPlayer_ == nullptr) {
        mediaPlayer_ = new QMediaPlayer(this);
        mediaPlayer_->setAudioOutput(new QAudioOutput(mediaPlayer_));
    }
    StopMedia();
    mediaPlayer_->setSource(QUrl::fromLocalFile(path));
    if (mediaPlayer_->error() != QMediaPlayer::NoError)
        return std::nullopt;
    mediaPlayer_->play();
    if (mediaPlayer_->error() != QMediaPlayer::NoError)
        return std::nullopt;
    return mediaPlayer_->duration();
#else
    Q_UNUSED(path);
    return std::nullopt;
#endif
}
