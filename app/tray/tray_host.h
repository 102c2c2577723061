#pragma once
// Keeps the client alive in the notification area and owns the orderly quit. The tray icon's
// tooltip and menu follow the connection; the window asks whether a close should hide it
// instead (`available`, `quitting`) and quits through `requestQuit()`. On Windows it also
// keeps the frameless window snapping, minimising and maximising like a native one.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "app/native/tray_menu.h"

class ConnectionController;
class QMenu;
class QSystemTrayIcon;
class QWindow;

class TrayHost : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "TrayHost is provided by the application")
    Q_PROPERTY(bool available READ available CONSTANT)
    Q_PROPERTY(bool quitting READ quitting NOTIFY quittingChanged)

public:
    struct Options {
        std::optional<bool> available;  // empty: whether the desktop shows tray icons
        int busyQuitFallbackMs = 8000;  // a connected or connecting service gets this long
        int idleQuitFallbackMs = 1200;
        std::function<void()> quit;     // empty: QCoreApplication::quit
    };

    explicit TrayHost(ConnectionController* controller, QObject* parent = nullptr);
    TrayHost(ConnectionController* controller, Options options, QObject* parent = nullptr);
    ~TrayHost() override;

    bool available() const { return available_; }
    bool quitting() const { return quitting_; }

    // Asks the service to shut down, then quits once it has, or when the fallback expires.
    // Only the first call counts.
    Q_INVOKABLE void requestQuit();

    // The main window: a close while the tray shows hides it instead.
    void attachWindow(QWindow* window);
    void showWindow();

    // The icon, null without a tray or a controller; its menu on Linux.
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }

signals:
    void quittingChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void createTrayIcon();
    void updateTray();
    void activated(int reason);
    bool windowShown() const;
    void choose(unsigned menuId);
    void completeQuit();

    // Per platform: the menu (a QMenu on Linux, a native menu built at each opening on
    // Windows) and the frame of the frameless window.
    void createMenu();
    void updateMenu();
    void openMenu();
    void adoptWindowFrame();

    ConnectionController* controller_;
    Options options_;
    QPointer<QWindow> window_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    // A click hides the window only once it is not the first of a double-click, which opens.
    QTimer pendingHide_;
    tray::Status status_;
    bool available_ = false;
    bool quitting_ = false;
    bool quitDone_ = false;
};
