#pragma once
// The object behind the main button: the selected route, the connect / disconnect state
// machine, the paced stages of an attempt, the connected-time counter, the displayed
// latency and short notices. It reaches the service only through its EngineBridge and the
// account controller only for the device check before each attempt.

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QtGlobal>
#include <deque>

#include "app/connection/connection_state.h"
#include "app/engine/engine_client.h"

class AccountController;
class EngineBridge;

class ConnectionController : public QObject {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "ConnectionController is provided by the application")

    Q_PROPERTY(QString visualState READ visualState NOTIFY stateChanged)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY statusChanged)
    Q_PROPERTY(QString routeId READ routeId NOTIFY routeChanged)
    Q_PROPERTY(QString country READ country NOTIFY routeChanged)
    Q_PROPERTY(QString city READ city NOTIFY routeChanged)
    Q_PROPERTY(int latency READ latency NOTIFY latencyChanged)
    Q_PROPERTY(int stageIndex READ stageIndex NOTIFY stateChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(bool switchingRoute READ switchingRoute NOTIFY stateChanged)
    Q_PROPERTY(int connectionAttemptSerial READ connectionAttemptSerial NOTIFY connectionAttemptSerialChanged)
    Q_PROPERTY(int connectionSweepDuration READ connectionSweepDuration CONSTANT)
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY elapsedChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY stateChanged)
    Q_PROPERTY(QString transientNotice READ transientNotice NOTIFY transientNoticeChanged)
    Q_PROPERTY(bool demoControlsEnabled READ demoControlsEnabled CONSTANT)
    Q_PROPERTY(bool sessionAllowed READ sessionAllowed NOTIFY sessionAllowedChanged)
    Q_PROPERTY(bool networkBlocked READ networkBlocked NOTIFY stateChanged)

public:
    // Talks to the real service.
    explicit ConnectionController(QObject* parent = nullptr);
    // `options` go to the bridge's engine client (tests use their own pipe and launcher).
    explicit ConnectionController(engine::EngineClientOptions options, QObject* parent = nullptr);
    ~ConnectionController() override;

    QString visualState() const;
    QString statusTitle() const;
    QString routeId() const { return route_.id; }
    QString country() const { return route_.country; }
    QString city() const { return route_.city; }
    int latency() const { return latency_; }
    int stageIndex() const;
    bool connected() const { return state_ == ConnectionState::Lit; }
    bool busy() const;
    bool switchingRoute() const;
    int connectionAttemptSerial() const { return connectionAttemptSerial_; }
    int connectionSweepDuration() const { return 2250; }
    QString elapsedText() const;
    QString errorMessage() const { return errorMessage_; }
    QString transientNotice() const { return transientNotice_; }
    bool demoControlsEnabled() const { return false; }
    bool sessionAllowed() const { return sessionAllowed_; }
    // The service's kill switch keeps the network blocked after the tunnel was lost; a
    // disconnect or a reconnect ends it.
    bool networkBlocked() const { return networkBlocked_; }

    // Set by main; not owned. Without one no device check runs. A device check in progress
    // uses the account from another thread: setting another account (main sets none before
    // it destroys the account) waits for that check to end first.
    void setAccount(AccountController* account);
    void setSessionAllowed(bool allowed);
    // The leak protection choices sent with the next "connect".
    void setConnectPreferences(bool killSwitch, bool allowLan);

    Q_INVOKABLE void selectRoute(const QString& routeId, const QString& country, const QString& city,
                                 int baseLatency);
    Q_INVOKABLE void primaryAction();
    Q_INVOKABLE void retry();
    Q_INVOKABLE void simulateFailure();
    Q_INVOKABLE void shutdownForQuit();
    Q_INVOKABLE void disconnectIfActive();
    Q_INVOKABLE void clearRoute();

public slots:
    // A latency measurement of a route's node; below 0 when the node did not answer (the
    // last good value stays).
    void routeLatencyMeasured(const QString& routeId, int milliseconds);

signals:
    void readyToQuit();
    void loginRequired();
    void sessionAllowedChanged();
    void stateChanged();
    void statusChanged();
    void routeChanged();
    void latencyChanged();
    void connectionAttemptSerialChanged();
    void elapsedChanged();
    void transientNoticeChanged();

private:
    // Why the current attempt runs; decides what its engine result means.
    enum class AttemptKind { Connect, Restore, RestoreAfterCancel };

    // One request queued to the worker: the bridge answers them in order, one result
    // each, so a result is matched with the attempt that sent it.
    struct PendingStart {
        quint64 token = 0;
        RouteValue route;  // the route asked for
    };
    struct PendingStop {
        quint64 token = 0;
        bool shutdown = false;
    };

    // The service's tunnel as its latest reply told it: up or not, and the route it carries
    // when this client knows it (empty for a tunnel that another client or an earlier run
    // brought up).
    struct ServiceTunnel {
        bool up = false;
        RouteValue route;
    };

    void enterState(ConnectionState next);
    void startConnection(bool simulated);
    void runDeviceCheck(quint64 token);
    void waitForDeviceCheck();
    void applyDeviceCheck(quint64 token, bool ok, int used, int limit, const QString& error);
    void startEngine(quint64 token, const RouteValue& route);
    void scheduleStage(quint64 token, int delay, ConnectionState stage);
    void sendStop(bool shutdown);

    void onEngineStarted();
    void onEngineFailed(const QString& message, bool tunnelRunning);
    void onEngineStopped();
    void onAlreadyRunning();
    void onBlockedChanged(bool blocked);
    void onStatusReported(bool running, const QString& phase, const QString& reason);
    bool takeStartResult(bool succeeded, bool tunnelRunning);
    bool mayHaveTunnel() const;

    void handleStartSucceeded();
    void handleStartFailed();
    void restoreLiveRoute(AttemptKind kind);
    void keepServiceTunnel();
    void cancelAttempt();
    void showLiveRouteAgain();
    void dropLiveTunnel();
    void markConnectedNow();
    void beginAttempt(AttemptKind kind);

    void setNotice(const QString& text);
    void tickSecond();

    ConnectionState state_ = ConnectionState::Off;
    RouteValue route_;
    RouteValue liveRoute_;
    quint64 attemptToken_ = 0;
    quint64 attemptTokenAtStart_ = 0;
    AttemptKind attemptKind_ = AttemptKind::Connect;
    int connectionAttemptSerial_ = 0;
    bool switching_ = false;
    QString errorMessage_;
    QString transientNotice_;
    int latency_ = 0;
    int elapsedSeconds_ = 0;
    QElapsedTimer connectedClock_;
    QTimer secondTicker_;
    QTimer noticeTimer_;
    AccountController* account_ = nullptr;
    QList<QPointer<QThread>> deviceChecks_;  // device checks started and not yet deleted
    EngineBridge* bridge_ = nullptr;
    std::deque<PendingStart> pendingStarts_;
    std::deque<PendingStop> pendingStops_;
    ServiceTunnel serviceTunnel_;
    bool engineAsked_ = false;  // the current attempt has sent its "connect"
    bool quitting_ = false;
    bool sessionAllowed_ = false;
    bool networkBlocked_ = false;
    bool recovering_ = false;  // the service is starting the live tunnel again
    QTimer statusPoll_;        // asks the service every second while a tunnel is up
    bool killSwitch_ = false;
    bool allowLan_ = true;
};
