#pragma once
// Keeps the client alive in the notification area and owns the orderly quit. The window asks
// it whether a close should hide the window instead (`available`, `quitting`) and quits
// through `requestQuit()`.

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class ConnectionController;
class QWindow;

class TrayHost : public QObject {
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

    bool available() const { return available_; }
    bool quitting() const { return quitting_; }

    // Asks the service to shut down, then quits once it has, or when the fallback expires.
    // Only the first call counts.
    Q_INVOKABLE void requestQuit();

    // The main window: a close while the tray shows hides it instead.
    void attachWindow(QWindow* window);
    void showWindow();

signals:
    void quittingChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void completeQuit();

    ConnectionController* controller_;
    Options options_;
    QPointer<QWindow> window_;
    bool available_ = false;
    bool quitting_ = false;
    bool quitDone_ = false;
};
