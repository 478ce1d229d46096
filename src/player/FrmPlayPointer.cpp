#include "player/FrmPlay.h"

#include "common/Settings.h"
#include "player/LayerSurface.h"
#include "player/PetMenu.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWindow>

// The person's pointer on the pet, as Qt tells it or the layer surface forwards it: a pet
// held, dragged and thrown, and its menu opened.
void TFrmPlay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // A roaming pet is held by the person: it follows the mouse itself, so that it knows
    // where it is held and how fast it is thrown. Else the window manager moves the window
    // while the button is held; where it will not (some platforms refuse), the window
    // follows the mouse itself too.
    const bool roaming = controller_.Roaming();
    if (!roaming && windowHandle() != nullptr && windowHandle()->startSystemMove())
        return;
    BeginDrag(event->globalPosition().toPoint());
}

void TFrmPlay::BeginDrag(QPoint pointer)
{
    drag_.Begin(pointer, pos());
    FollowMouse(pointer);
}

void TFrmPlay::mouseMoveEvent(QMouseEvent* event)
{
    if (!drag_.Active())
        return;
    // The button went up where this window did not hear it.
    if (!(event->buttons() & Qt::LeftButton))
        LetGo();
    else
        FollowMouse(event->globalPosition().toPoint());
}

void TFrmPlay::FollowMouse(QPoint pointer)
{
    move(drag_.Follow(pointer));
    // A frame's own moves reach the layer surface with the frame; a drag's go now.
    PushToLayer();
    if (controller_.Roaming())
        controller_.Hold(QPoint(x() + width() / 2, y() + height()));
}

void TFrmPlay::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        EndDrag(event->globalPosition().toPoint());
}

void TFrmPlay::EndDrag(QPoint pointer)
{
    if (drag_.Active())
        controller_.Release(drag_.End(pointer));
}

void TFrmPlay::LetGo()
{
    // The release goes to another window (the menu, or whoever took the pointer): the pet
    // is dropped where it is, not thrown.
    if (!drag_.Active())
        return;
    drag_.End(pos());
    controller_.Release(QPoint());
}

void TFrmPlay::contextMenuEvent(QContextMenuEvent* event)
{
    LetGo();
    menu_->Menu()->popup(event->globalPos());
}

void TFrmPlay::UseLayerSurface(TWaylandConnection& connection)
{
    // The widget keeps its life (shown, hidden, placed, painted on request) off screen; what
    // it paints goes to the compositor as a layer surface.
    setAttribute(Qt::WA_DontShowOnScreen);
    composited_ = true;
    // The overlay layer covers fullscreen windows too; the top one stays below them.
    const auto layer = [](bool above) { return above ? TLayerSurface::Layer::Overlay : TLayerSurface::Layer::Top; };
    layer_ = std::make_unique<TLayerSurface>(connection, layer(PetsAboveFullscreen()));
    connect(&SettingsSignals(), &TSettingsSignals::PetsAboveFullscreenChanged, this,
            [this, layer](bool above) { layer_->SetLayer(layer(above)); });
    connect(layer_.get(), &TLayerSurface::PointerMoved, this, [this](QPoint global) {
        if (drag_.Active())
            FollowMouse(global);
    });
    connect(layer_.get(), &TLayerSurface::PointerButton, this, [this](Qt::MouseButton button, bool pressed, QPoint global) {
        if (button == Qt::RightButton && pressed) {
            LetGo();
            menu_->PopUpBeside(geometry(), global);
        }
        else if (button == Qt::LeftButton && pressed)
            BeginDrag(global);
        else if (button == Qt::LeftButton)
            EndDrag(global);
    });
}
