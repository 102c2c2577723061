#include "app/tray/tray_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include "app/connection/connection_controller.h"

TrayHost::TrayHost(ConnectionController* controller, QObject* parent)
    : TrayHost(controller, Options{}, parent) {}

TrayHost::TrayHost(ConnectionController* controller, Options options, QObject* parent)
    : QObject(parent), controller_(controller), options_(std::move(options)) {
    available_ = options_.available.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    // The quit completes on the service's answer whether or not an icon is shown: without
    // this a machine without a tray would always wait for the fallback.
    if (controller_) connect(controller_, &ConnectionController::readyToQuit, this, &TrayHost::completeQuit);
}

void TrayHost::requestQuit() {
    if (quitting_) return;
    quitting_ = true;
    emit quittingChanged();
    const bool busy = controller_ && (controller_->connected() || controller_->busy());
    QTimer::singleShot(busy ? options_.busyQuitFallbackMs : options_.idleQuitFallbackMs, this,
                       &TrayHost::completeQuit);
    if (controller_)
        controller_->shutdownForQuit();
    else
        completeQuit();
}

void TrayHost::completeQuit() {
    if (quitDone_) return;
    quitDone_ = true;
    if (options_.quit)
        options_.quit();
    else
        QCoreApplication::quit();
}

void TrayHost::attachWindow(QWindow* window) {
    if (window_) window_->removeEventFilter(this);
    window_ = window;
    if (window_) window_->installEventFilter(this);
}

void TrayHost::showWindow() {
    if (!window_) return;
    if (window_->visibility() == QWindow::Minimized)
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->requestActivate();
}

bool TrayHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && available_ && !quitting_) {
        event->ignore();
        window_->hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
