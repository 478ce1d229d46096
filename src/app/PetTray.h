#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class TFrmMain;
class TPetHerd;

// Zuvora in the desktop's tray, where there is one: the library, every pet, hiding them all,
// starting with the desktop and quitting, a click away.
class TPetTray : public QObject {
    Q_OBJECT
public:
    TPetTray(TFrmMain& library, TPetHerd& pets);

    // Shows the icon when the desktop has a tray; false, and nothing shown, when not.
    bool Show();
    // The menu as it is when opened: filled afresh each time.
    QMenu& Menu() { return menu_; }
    void Fill();

private:
    TFrmMain& library_;
    TPetHerd& pets_;
    QMenu menu_;
    QSystemTrayIcon icon_;
};
