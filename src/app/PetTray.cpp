#include "app/PetTray.h"

#include "app/Autostart.h"
#include "app/FrmMain.h"
#include "player/PetHerd.h"
#include "player/PetMemory.h"

#include <QApplication>

TPetTray::TPetTray(TFrmMain& library, TPetHerd& pets) : library_(library), pets_(pets)
{
    icon_.setIcon(QApplication::windowIcon());
    icon_.setToolTip(QApplication::applicationName());
    icon_.setContextMenu(&menu_);
    connect(&menu_, &QMenu::aboutToShow, this, &TPetTray::Fill);
    // A click on the icon itself brings the library forward, as most trays do.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_.actions().constFirst()->trigger();
    });
    Fill();
}

bool TPetTray::Show()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    icon_.show();
    return true;
}

void TPetTray::Fill()
{
    // The pets' submenus go with their items.
    qDeleteAll(menu_.findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
    menu_.clear();
    menu_.addAction(QStringLiteral("Show Library"), &library_, [this] {
        library_.showNormal();
        library_.raise();
        library_.activateWindow();
    });
    menu_.addSeparator();
    for (TFrmPlay* pet : pets_.Pets()) {
        QMenu* item = menu_.addMenu(pet->windowTitle());
        item->addAction(QStringLiteral("Show"), pet, [this, pet] {
            pets_.SetPetsHidden(false);
            pet->showNormal();
            pet->raise();
        });
        item->addAction(QStringLiteral("Close"), pet, &TFrmPlay::RestoreAndClose);
    }
    if (!pets_.Pets().isEmpty())
        menu_.addSeparator();
    const bool hidden = pets_.PetsHidden();
    menu_.addAction(hidden ? QStringLiteral("Show All Pets") : QStringLiteral("Hide All Pets"), &pets_,
                    [this, hidden] { pets_.SetPetsHidden(!hidden); })
        ->setEnabled(!pets_.Pets().isEmpty());
    QAction* still = menu_.addAction(QStringLiteral("Hold Pets Still"), &pets_, [](bool on) { SetPetsHeldStill(on); });
    still->setCheckable(true);
    still->setChecked(PetsHeldStill());
    QAction* above = menu_.addAction(QStringLiteral("Stay Above Fullscreen Windows"), &pets_,
                                     [](bool on) { SetPetsAboveFullscreen(on); });
    above->setCheckable(true);
    above->setChecked(PetsAboveFullscreen());
    QAction* start = menu_.addAction(QStringLiteral("Start with the Desktop"), &library_,
                                     [this](bool on) { library_.SetStartWithDesktop(on); });
    start->setCheckable(true);
    start->setChecked(StartsWithDesktop());
    menu_.addSeparator();
    menu_.addAction(QStringLiteral("Quit"), &library_, &QWidget::close);
}
