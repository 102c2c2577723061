// Linux: the tray menu is a QMenu on the icon (the desktop opens it itself); the window
// manager moves and resizes the frameless window on request, so its frame needs nothing.
#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/tray/tray_host.h"

void TrayHost::createMenu() {
    menu_ = std::make_unique<QMenu>();
    for (const tray::MenuItem& item : tray::menuItems(status_, quitting_)) {
        if (item.id == 0) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString::fromStdString(item.text));
        action->setData(item.id);
        connect(action, &QAction::triggered, this, [this, id = item.id] { choose(id); });
    }
    trayIcon_->setContextMenu(menu_.get());
}

void TrayHost::updateMenu() {
    if (!menu_) return;
    const auto items = tray::menuItems(status_, quitting_);
    for (QAction* action : menu_->actions()) {
        for (const tray::MenuItem& item : items) {
            if (item.id == 0 || action->data().toUInt() != item.id) continue;
            action->setText(QString::fromStdString(item.text));
            action->setEnabled(item.enabled);
        }
    }
}

void TrayHost::openMenu() {}

void TrayHost::adoptWindowFrame() {}

bool TrayHost::nativeEventFilter(const QByteArray&, void*, qintptr*) { return false; }
