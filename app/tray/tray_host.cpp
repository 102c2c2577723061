#include "app/tray/tray_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QWindow>

#include "app/connection/connection_controller.h"

TrayHost::TrayHost(ConnectionController* controller, QObject* parent)
    : TrayHost(controller, Options{}, parent) {}

TrayHost::TrayHost(ConnectionController* controller, Options options, QObject* parent)
    : QObject(parent), controller_(controller), options_(std::move(options)) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installNativeEventFilter(this);
    available_ = options_.available.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    // The quit completes on the service's answer whether or not an icon is shown: without
    // this a machine without a tray would always wait for the fallback.
    if (controller_) connect(controller_, &ConnectionController::readyToQuit, this, &TrayHost::completeQuit);
    if (available_ && controller_) createTrayIcon();
    pendingHide_.setSingleShot(true);
    pendingHide_.setInterval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    connect(&pendingHide_, &QTimer::timeout, this, [this] {
        if (windowShown()) window_->hide();
    });
}

TrayHost::~TrayHost() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

void TrayHost::createTrayIcon() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    trayIcon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/brand/orvik.ico")), this);
    connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        activated(reason);
    });
    for (auto signal : {&ConnectionController::stateChanged, &ConnectionController::statusChanged,
                        &ConnectionController::routeChanged, &ConnectionController::sessionAllowedChanged})
        connect(controller_, signal, this, &TrayHost::updateTray);
    // A connect without a session brings the window up for the sign-in.
    connect(controller_, &ConnectionController::loginRequired, this, &TrayHost::showWindow);
    createMenu();
    updateTray();
    trayIcon_->show();
}

void TrayHost::updateTray() {
    if (!trayIcon_) return;
    status_ = tray::statusFor(controller_->visualState().toStdString(), controller_->city().toStdString(),
                              controller_->sessionAllowed(), quitting_);
    trayIcon_->setToolTip(QString::fromStdString(status_.toolTip));
    updateMenu();
}

void TrayHost::activated(int reason) {
    switch (reason) {
    case QSystemTrayIcon::Context:
        openMenu();
        break;
    case QSystemTrayIcon::Trigger:
        if (windowShown())
            pendingHide_.start();
        else
            showWindow();
        break;
    case QSystemTrayIcon::DoubleClick:
        // Its first click came as a Trigger: together they open the window, whatever it did.
        pendingHide_.stop();
        showWindow();
        break;
    default:
        break;
    }
}

bool TrayHost::windowShown() const {
    return window_ && window_->isVisible() && window_->visibility() != QWindow::Minimized;
}

void TrayHost::choose(unsigned menuId) {
    switch (menuId) {
    case tray::kShowWindow:
        showWindow();
        break;
    case tray::kPrimaryAction:
        if (controller_ && status_.actionEnabled) controller_->primaryAction();
        break;
    case tray::kQuit:
        requestQuit();
        break;
    default:
        break;
    }
}

void TrayHost::requestQuit() {
    if (quitting_) return;
    quitting_ = true;
    updateTray();
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
    if (trayIcon_) trayIcon_->hide();
    if (options_.quit)
        options_.quit();
    else
        QCoreApplication::quit();
}

void TrayHost::attachWindow(QWindow* window) {
    if (window_) window_->removeEventFilter(this);
    window_ = window;
    if (!window_) return;
    window_->installEventFilter(this);
    adoptWindowFrame();
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
