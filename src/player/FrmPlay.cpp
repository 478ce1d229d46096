#include "player/FrmPlay.h"

#include "common/Settings.h"
#include "package/SpriteSheet.h"
#include "player/LayerSurface.h"
#include "player/PetMemory.h"
#include "player/PetMenu.h"
#include "player/PetOutput.h"
#include "player/X11Connection.h"
#include "player/FullscreenWatch.h"
#include "player/X11Shapes.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QWindow>

#include <algorithm>

namespace {

QRegion Mirrored(const QRegion& region, int width)
{
    QRegion mirrored;
    for (const QRect& rect : region)
        mirrored += QRect(width - rect.x() - rect.width(), rect.y(), rect.width(), rect.height());
    return mirrored;
}

}  // namespace

TFrmPlay::TFrmPlay(Prompts& prompts)
    : QWidget(nullptr), menu_(new TPetMenu(this)), controller_(prompts, *this, *menu_)
{
    setObjectName(QStringLiteral("FrmPlay"));
    // No owner and no Tool flag: the pet gets a task-bar entry of its own.
    // A pet never takes the keyboard: what the person types goes on to the window they chose,
    // when a pet appears and when it comes back after a fullscreen window.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // No caption until a package names it: an empty title would make Qt show the
    // application's name instead.
    setWindowTitle(QStringLiteral(" "));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // A window with an alpha channel on X11, whether a compositor shows it now or later: the
    // choice of painting follows the compositor, the window stays.
    if (PetOutput() == TPetOutput::LayerShell && PetWayland() != nullptr) {
        UseLayerSurface(*PetWayland());
    } else if (QGuiApplication::platformName() == u"xcb") {
        setAttribute(Qt::WA_TranslucentBackground);
        composited_ = CompositorWatch().Running();
        connect(&CompositorWatch(), &TCompositorWatch::Changed, this, &TFrmPlay::SetComposited);
        x11_ = true;
        // The X window manager of wlroots compositors (sway and its kin) tiles an X window,
        // or centres it when it floats, wherever it asks to be: there the pet places itself,
        // as menus do.
        if (X11WindowManagerName(X11Connection()) == "wlroots wm")
            setWindowFlag(Qt::X11BypassWindowManagerHint);
        connect(&FullscreenWatch(), &TFullscreenWatch::Changed, this, &TFrmPlay::FollowCover);
        connect(&SettingsSignals(), &TSettingsSignals::PetsAboveFullscreenChanged, this, &TFrmPlay::FollowCover);
    }
    move(kFirstPosition);
    resize(kFirstSize);
    BuildMenu();

    // A pet whose chosen action has no frames would never be seen, nor its menu reached.
    firstFrameTimer_.setSingleShot(true);
    firstFrameTimer_.setInterval(1000);
    connect(&firstFrameTimer_, &QTimer::timeout, this, &TFrmPlay::ShowFirstFrame);
}

void TFrmPlay::BuildMenu()
{
    menu_->SetTransparent(TransparentPet());
    connect(menu_, &TPetMenu::CloseChosen, this, &QWidget::close);
    connect(menu_, &TPetMenu::MinimizeChosen, this, &QWidget::showMinimized);
    connect(menu_, &TPetMenu::TransparentChosen, this, &SetTransparentPet);
    connect(&SettingsSignals(), &TSettingsSignals::TransparentPetChanged, this, [this](bool on) {
        menu_->SetTransparent(on);
        ApplyShape();
    });
}

TFrmPlay::~TFrmPlay()
{
    if (controller_.Started())
        Close();
}

void TFrmPlay::RestoreAndClose()
{
    if (isMinimized())
        showNormal();
    // A window hidden after it was seen (its package loading again, or all pets hidden) has
    // lost its platform window, and Qt then closes it without a close event.
    if (isHidden() && controller_.Started()) {
        Close();
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
    if (visible && !controller_.Started()) {
        // Another Zuvora may have changed it since.
        menu_->SetTransparent(TransparentPet());
        // Task bars and window lists name the pet after its package.
        setWindowTitle(QFileInfo(controller_.PackagePath()).completeBaseName());
        firstFrame_ = false;
        controller_.Start();
    }
    if (visible && !firstFrame_) {
        wantVisible_ = true;
        // Its playback goes on to the first frame, with which the window shows.
        controller_.SetResting(false);
        return;
    }
    if (!visible) {
        wantVisible_ = false;
        coveredHidden_ = false;
        // Also before its first frame, when no hide event comes: it rests from the start.
        controller_.SetResting(true);
    } else if (Covered()) {
        coveredHidden_ = true;
        return;
    }
    QWidget::setVisible(visible);
}

bool TFrmPlay::Covered() const { return x11_ && FullscreenWatch().Active() && !PetsAboveFullscreen(); }

void TFrmPlay::FollowCover()
{
    // It comes back as it was when the fullscreen window goes; hidden meanwhile, it rests.
    const bool covered = Covered();
    if (covered && isVisible()) {
        coveredHidden_ = true;
        QWidget::setVisible(false);
    } else if (!covered && coveredHidden_) {
        coveredHidden_ = false;
        QWidget::setVisible(true);
        raise();
    }
}

void TFrmPlay::showEvent(QShowEvent* event)
{
    controller_.SetResting(isMinimized());
    // A shape given before the window was made reaches it now.
    if (composited_ && !layer_)
        SetX11InputShape(windowHandle(), inputShape_);
    QWidget::showEvent(event);
    PushToLayer();
}

void TFrmPlay::hideEvent(QHideEvent* event)
{
    LetGo();
    // A hidden pet, like a minimized one, is seen by nobody.
    controller_.SetResting(true);
    QWidget::hideEvent(event);
    PushToLayer();
}

void TFrmPlay::PackageCame() { firstFrameTimer_.start(); }

void TFrmPlay::closeEvent(QCloseEvent* event)
{
    if (controller_.Started())
        Close();
    event->accept();
}

void TFrmPlay::Close()
{
    firstFrame_ = false;
    wantVisible_ = false;
    firstFrameTimer_.stop();
    controller_.Stop(geometry());
}

void TFrmPlay::ShowFrame(const QRect& geometry)
{
    // A frame of the size shown costs no resize: each costs the window system a round of
    // configure events.
    if (geometry != this->geometry())
        setGeometry(geometry);
    ApplyShape();
    update();
    PushToLayer();
    if (!firstFrame_)
        ShowFirstFrame();
}

void TFrmPlay::ShowFirstFrame()
{
    firstFrameTimer_.stop();
    if (!controller_.Started() || firstFrame_)
        return;
    firstFrame_ = true;
    if (wantVisible_) {
        show();
        raise();
    }
}

void TFrmPlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // A pet walking the other way than its art faces is drawn mirrored, shape and all.
    if (controller_.Mirrored())
        painter.setTransform(QTransform(-1, 0, 0, 1, width(), 0));
    // Also when the system asks for a repaint: the last frame comes back at once. Only the
    // part of the rectangle that lies on the sheet is copied; the rest is background, or
    // clear where a compositor shows the window's alpha.
    const QRect frame = controller_.CurrentFrame();
    const int scale = controller_.Scale();
    const QImage* sheet = controller_.HasSheet() ? &controller_.Package()->Sheet->Image : nullptr;
    QRect source;
    if (sheet != nullptr && !sheet->isNull() && !frame.isEmpty())
        source = frame & sheet->rect();
    const QRect target(source.translated(-frame.topLeft()).topLeft() * scale, source.size() * scale);
    // Qt hands fills and copies taller than about a hundred rows to worker threads, which
    // for a pet's frame costs more in waking them than it saves: bands of fewer rows.
    constexpr int kBand = 32;
    const QBrush background = composited_ ? QBrush(Qt::transparent) : palette().button();
    for (const QRect& area : composited_ ? QRegion(rect()) : QRegion(rect()) - target) {
        for (int y = area.top(); y <= area.bottom(); y += kBand)
            painter.fillRect(QRect(area.left(), y, area.width(), std::min(kBand, area.bottom() + 1 - y)), background);
    }
    if (source.isEmpty())
        return;
    // With a compositor the see-through pixels stay clear: only the creature is drawn.
    if (composited_ && !shape_.isEmpty())
        painter.setClipRegion(shape_);
    // Scaled by whole factors without smoothing, so pixel art stays crisp.
    const int rows = std::max(1, kBand / scale);
    for (int y = 0; y < source.height(); y += rows) {
        const QRect band(source.left(), source.top() + y, source.width(), std::min(rows, source.height() - y));
        const QRect onScreen((band.topLeft() - frame.topLeft()) * scale, band.size() * scale);
        painter.drawImage(onScreen, *sheet, band);
    }
}

void TFrmPlay::moveEvent(QMoveEvent* event)
{
    controller_.Moved();
    QWidget::moveEvent(event);
}

void TFrmPlay::PushToLayer()
{
    if (!layer_)
        return;
    if (!isVisible() || isMinimized() || controller_.CurrentFrame().isNull()) {
        layer_->Hide();
        return;
    }
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    render(&image);
    layer_->Show(image, pos(), controller_.Mirrored() ? Mirrored(shape_, width()) : shape_);
}

void TFrmPlay::changeEvent(QEvent* event)
{
    // A minimized pet is seen by nobody: it rests until it is restored.
    if (event->type() == QEvent::WindowStateChange) {
        controller_.SetResting(isMinimized());
        PushToLayer();
    }
    QWidget::changeEvent(event);
}


void TFrmPlay::ApplyShape()
{
    shape_ = menu_->Transparent() && controller_.HasSheet()
                 ? controller_.Package()->Sheet->Shapes.Shape(controller_.CurrentFrame(), size(), controller_.Scale())
                 : QRegion();
    // Without a compositor the window's own shape leaves the see-through pixels out; with
    // one they are painted clear, and only the part that takes the mouse follows the
    // creature, so that clicks beside it reach the window below.
    const QRegion shape = controller_.Mirrored() ? Mirrored(shape_, width()) : shape_;
    const QRegion bounding = composited_ ? QRegion() : shape;
    if (bounding.isEmpty()) {
        if (!mask().isEmpty())
            clearMask();
    } else if (bounding != mask()) {
        setMask(bounding);
    }
    const QRegion input = composited_ ? shape : QRegion();
    // A layer surface takes its input region with each picture.
    if (input != inputShape_ && windowHandle() != nullptr && !layer_) {
        inputShape_ = input;
        SetX11InputShape(windowHandle(), input);
    }
}

void TFrmPlay::SetComposited(bool composited)
{
    if (composited == composited_)
        return;
    composited_ = composited;
    ApplyShape();
    update();
}

QMenu* TFrmPlay::PopupMenu() const { return menu_->Menu(); }

QAction* TFrmPlay::TransparentItem() const { return menu_->TransparentItem(); }
