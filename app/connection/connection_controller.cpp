// The connection state machine. Everything here runs on the GUI thread; the device check
// runs on a short-lived thread and the engine requests on the bridge's worker.
#include "app/connection/connection_controller.h"

#include <QThread>
#include <memory>
#include <utility>

#include "app/account/account_controller.h"
#include "app/connection/engine_bridge.h"

namespace {

constexpr int secondTickMs = 1000;
constexpr int noticeMs = 3200;
constexpr int statusPollMs = 1000;  // the window learns of a change within a second
constexpr int simulatedFailureMs = 2250;
constexpr int establishingAfterMs = 680;
constexpr int confirmingAfterMs = 1450;

}  // namespace

ConnectionController::ConnectionController(QObject* parent)
    : ConnectionController(engine::EngineClientOptions{}, parent) {}

ConnectionController::ConnectionController(engine::EngineClientOptions options, QObject* parent)
    : QObject(parent) {
    secondTicker_.setInterval(secondTickMs);
    noticeTimer_.setInterval(noticeMs);
    noticeTimer_.setSingleShot(true);
    connect(&secondTicker_, &QTimer::timeout, this, &ConnectionController::tickSecond);
    connect(&noticeTimer_, &QTimer::timeout, this, [this] { setNotice({}); });

    bridge_ = new EngineBridge(std::move(options), this);
    connect(bridge_, &EngineBridge::started, this, &ConnectionController::onEngineStarted);
    connect(bridge_, &EngineBridge::failed, this, &ConnectionController::onEngineFailed);
    connect(bridge_, &EngineBridge::stopped, this, &ConnectionController::onEngineStopped);
    connect(bridge_, &EngineBridge::alreadyRunning, this, &ConnectionController::onAlreadyRunning);
    connect(bridge_, &EngineBridge::blockedChanged, this, &ConnectionController::onBlockedChanged);
    connect(bridge_, &EngineBridge::statusReported, this, &ConnectionController::onStatusReported);
    // A poll rather than a pushed event: a status costs the service about 0.1 ms, and no
    // connection stays open to take one of the few a user may hold.
    statusPoll_.setInterval(statusPollMs);
    connect(&statusPoll_, &QTimer::timeout, this, [this] { bridge_->queryStatus(); });

    // Adopts a tunnel that an earlier client left running, once the event loop runs.
    QTimer::singleShot(0, this, [this] { bridge_->queryStatus(); });
}

ConnectionController::~ConnectionController() {
    // The bridge's destructor waits for the worker; nothing it still reports may reach the
    // half-destroyed controller.
    bridge_->disconnect(this);
    delete bridge_;
    waitForDeviceCheck();
}

// A recovery shows as the igniting scene over the live tunnel.
QString ConnectionController::visualState() const {
    return recovering_ && state_ == ConnectionState::Lit ? QStringLiteral("igniting") : visualStateWord(state_);
}

QString ConnectionController::statusTitle() const {
    if (recovering_ && state_ == ConnectionState::Lit) return QStringLiteral("正在重新连接");
    return statusTitleText(state_, route_.city, switching_);
}

int ConnectionController::stageIndex() const { return stageIndexOf(state_); }

bool ConnectionController::busy() const {
    return isAttemptState(state_) || state_ == ConnectionState::Extinguishing;
}

bool ConnectionController::switchingRoute() const { return switching_ && isAttemptState(state_); }

QString ConnectionController::elapsedText() const { return elapsedClockText(elapsedSeconds_); }

void ConnectionController::setAccount(AccountController* account) {
    if (account == account_) return;
    waitForDeviceCheck();
    account_ = account;
}

void ConnectionController::waitForDeviceCheck() {
    // A finished check's thread is deleted later on this thread's event loop: the pointer
    // tells whether it is still there.
    for (const QPointer<QThread>& check : std::as_const(deviceChecks_)) {
        if (check) check->wait();
    }
    deviceChecks_.clear();
}

void ConnectionController::setSessionAllowed(bool allowed) {
    if (sessionAllowed_ == allowed) return;
    sessionAllowed_ = allowed;
    emit sessionAllowedChanged();
}

void ConnectionController::enterState(ConnectionState next) {
    if (state_ == next) return;
    state_ = next;
    recovering_ = false;
    if (next == ConnectionState::Lit) statusPoll_.start();
    else statusPoll_.stop();
    emit stateChanged();
    emit statusChanged();
}

// ---- Attempts ----

void ConnectionController::beginAttempt(AttemptKind kind) {
    ++attemptToken_;
    attemptTokenAtStart_ = attemptToken_;
    attemptKind_ = kind;
    engineAsked_ = false;
}

void ConnectionController::startConnection(bool simulated) {
    if (!sessionAllowed_) {
        emit loginRequired();
        return;
    }
    if (!route_.isSet()) return;
    beginAttempt(AttemptKind::Connect);
    switching_ = liveRoute_.isSet();
    errorMessage_.clear();
    setNotice({});
    enterState(ConnectionState::Seeking);
    ++connectionAttemptSerial_;
    emit connectionAttemptSerialChanged();

    const quint64 token = attemptToken_;
    if (simulated) {
        QTimer::singleShot(simulatedFailureMs, this, [this, token] {
            if (token != attemptToken_ || !isAttemptState(state_)) return;
            errorMessage_ = noAnswerText();
            enterState(ConnectionState::Fault);
        });
        return;
    }
    if (!account_) {
        startEngine(token, route_);
        return;
    }
    runDeviceCheck(token);
}

void ConnectionController::runDeviceCheck(quint64 token) {
    struct Outcome {
        bool ok = false;
        int used = 0;
        int limit = 0;
        QString error;
    };
    auto outcome = std::make_shared<Outcome>();
    AccountController* account = account_;
    QThread* thread = QThread::create([account, outcome] {
        outcome->ok = account->checkDevice(outcome->used, outcome->limit, outcome->error);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // Queued onto this thread; dropped when the controller is gone by then.
    connect(thread, &QThread::finished, this, [this, token, outcome] {
        applyDeviceCheck(token, outcome->ok, outcome->used, outcome->limit, outcome->error);
    });
    deviceChecks_.removeAll(nullptr);
    deviceChecks_.append(thread);
    thread->start(QThread::InheritPriority);
}

void ConnectionController::applyDeviceCheck(quint64 token, bool ok, int used, int limit,
                                             const QString& error) {
    if (token != attemptToken_ || !account_) return;
    if (ok) {
        account_->applyDeviceStatus(true, used, limit, QString());
        startEngine(token, route_);
        return;
    }
    account_->applyDeviceStatus(false, 0, 0, error);
    QString text = account_->errorMessage();
    if (text.isEmpty()) text = deviceRefusedText();
    if (switching_ && liveRoute_.isSet()) {
        // Nothing was asked of the service yet: the live tunnel is still up.
        ++attemptToken_;
        showLiveRouteAgain();
        enterState(ConnectionState::Lit);
        setNotice(text);
        return;
    }
    errorMessage_ = text;
    enterState(ConnectionState::Fault);
}

void ConnectionController::startEngine(quint64 token, const RouteValue& route) {
    if (token != attemptToken_) return;
    engineAsked_ = true;
    pendingStarts_.push_back({token, route});
    bridge_->startEngine(route.id, killSwitch_, allowLan_);
    scheduleStage(token, establishingAfterMs, ConnectionState::Establishing);
    scheduleStage(token, confirmingAfterMs, ConnectionState::Confirming);
}

void ConnectionController::scheduleStage(quint64 token, int delay, ConnectionState stage) {
    QTimer::singleShot(delay, this, [this, token, stage] {
        if (token != attemptToken_ || !isAttemptState(state_)) return;
        if (stageIndexOf(state_) < stageIndexOf(stage)) enterState(stage);
    });
}

void ConnectionController::sendStop(bool shutdown) {
    pendingStops_.push_back({attemptToken_, shutdown});
    if (shutdown) {
        bridge_->shutdownEngine();
    } else {
        bridge_->stopEngine();
    }
}

// ---- Engine results ----

// The worker answers every "connect" with exactly one result, in request order. Every
// result tells what the service's tunnel is now; it counts for the display only when its
// request belongs to the attempt that runs now.
bool ConnectionController::takeStartResult(bool succeeded, bool tunnelRunning) {
    if (pendingStarts_.empty()) return false;
    const PendingStart start = pendingStarts_.front();
    pendingStarts_.pop_front();
    if (succeeded) {
        serviceTunnel_ = {true, start.route};
    } else if (!tunnelRunning) {
        serviceTunnel_ = {};
    } else if (!serviceTunnel_.up) {
        serviceTunnel_ = {true, {}};  // a tunnel this client did not see come up
    }  // otherwise the attempt failed before the service touched the tunnel it had
    return start.token == attemptToken_ && start.token == attemptTokenAtStart_ && isAttemptState(state_);
}

// True while the service may hold a tunnel: its latest reply said so, or a "connect" is
// still on its way.
// A kill switch's block is the service's too: only a disconnect lifts it.
bool ConnectionController::mayHaveTunnel() const {
    return serviceTunnel_.up || networkBlocked_ || !pendingStarts_.empty();
}

void ConnectionController::setConnectPreferences(bool killSwitch, bool allowLan) {
    killSwitch_ = killSwitch;
    allowLan_ = allowLan;
}

// While lit: a recovery in the service shows with its reason and ends on its own; a tunnel
// the service gave up (or lost) is the fault it reports.
void ConnectionController::onStatusReported(bool running, const QString& phase, const QString& reason) {
    if (state_ != ConnectionState::Lit) return;
    if (phase == QLatin1String("recovering") || phase == QLatin1String("waiting")) {
        setNotice(reason);
        if (!recovering_) {
            recovering_ = true;
            emit stateChanged();
            emit statusChanged();
        }
        return;
    }
    if (running) {
        if (recovering_) {
            recovering_ = false;
            setNotice(recoveredNoticeText());
            emit stateChanged();
            emit statusChanged();
        }
        return;
    }
    ++attemptToken_;
    secondTicker_.stop();
    serviceTunnel_ = {};
    liveRoute_ = {};
    errorMessage_ = reason.isEmpty() ? lostTunnelText() : reason;
    setNotice({});
    enterState(ConnectionState::Fault);
}

// A block found at start (an earlier run's kill switch) shows as the fault it is.
void ConnectionController::onBlockedChanged(bool blocked) {
    if (blocked == networkBlocked_) return;
    networkBlocked_ = blocked;
    if (blocked && state_ == ConnectionState::Off) enterState(ConnectionState::Fault);
    emit stateChanged();
}

void ConnectionController::onEngineStarted() {
    if (takeStartResult(true, true)) handleStartSucceeded();
}

void ConnectionController::onEngineFailed(const QString& message, bool tunnelRunning) {
    if (!takeStartResult(false, tunnelRunning)) return;
    errorMessage_ = message;
    handleStartFailed();
}

void ConnectionController::handleStartSucceeded() {
    if (attemptKind_ != AttemptKind::Connect) {
        // The previous route is up again; its counter carries on from the earlier connection.
        const bool afterFailure = attemptKind_ == AttemptKind::Restore;
        attemptKind_ = AttemptKind::Connect;
        enterState(ConnectionState::Lit);
        if (afterFailure) setNotice(restoredNoticeText(liveRoute_.city));
        return;
    }
    liveRoute_ = route_;
    latency_ = route_.baseLatency;
    emit latencyChanged();
    markConnectedNow();
    enterState(ConnectionState::Lit);
}

void ConnectionController::handleStartFailed() {
    if (serviceTunnel_.up && serviceTunnel_.route.isSet()) {
        keepServiceTunnel();
        return;
    }
    if (attemptKind_ == AttemptKind::Connect && switching_ && liveRoute_.isSet()) {
        // The service stopped the previous tunnel before it tried the new route.
        restoreLiveRoute(AttemptKind::Restore);
        return;
    }
    if (errorMessage_.isEmpty()) errorMessage_ = noAnswerText();
    if (attemptKind_ != AttemptKind::Connect) dropLiveTunnel();
    attemptKind_ = AttemptKind::Connect;
    enterState(ConnectionState::Fault);
}

// Connects the live route again; Lit follows only when the service brings it up.
void ConnectionController::restoreLiveRoute(AttemptKind kind) {
    beginAttempt(kind);
    showLiveRouteAgain();
    switching_ = true;
    const bool alreadySeeking = state_ == ConnectionState::Seeking;
    enterState(ConnectionState::Seeking);
    if (alreadySeeking) emit statusChanged();  // the title names the restored city
    startEngine(attemptToken_, liveRoute_);
}

// The attempt failed before the service touched its tunnel, which is still up: that tunnel
// is what the window shows, with the failure as a notice.
void ConnectionController::keepServiceTunnel() {
    const QString notice = errorMessage_.isEmpty() ? restoredNoticeText(serviceTunnel_.route.city) : errorMessage_;
    errorMessage_.clear();
    attemptKind_ = AttemptKind::Connect;
    if (liveRoute_.id != serviceTunnel_.route.id) {
        // Another route than the one shown is up (a superseded attempt's "connect" got through).
        liveRoute_ = serviceTunnel_.route;
        markConnectedNow();
    }
    showLiveRouteAgain();
    enterState(ConnectionState::Lit);
    setNotice(notice);
}

void ConnectionController::onEngineStopped() {
    if (pendingStops_.empty()) return;
    const PendingStop stop = pendingStops_.front();
    pendingStops_.pop_front();
    serviceTunnel_ = {};  // asked to stop; a "connect" sent later reports again
    if (state_ == ConnectionState::Extinguishing && stop.token == attemptToken_) {
        dropLiveTunnel();
        enterState(ConnectionState::Off);
    }
    if (quitting_ && stop.shutdown) emit readyToQuit();
}

void ConnectionController::onAlreadyRunning() {
    if (!serviceTunnel_.up) serviceTunnel_ = {true, {}};  // kept for log out even when not shown
    if (state_ != ConnectionState::Off && state_ != ConnectionState::Fault) return;
    if (!route_.isSet()) return;
    errorMessage_.clear();
    liveRoute_ = route_;
    serviceTunnel_.route = route_;
    switching_ = true;
    latency_ = route_.baseLatency;
    emit latencyChanged();
    markConnectedNow();
    enterState(ConnectionState::Lit);
    setNotice(adoptedNoticeText());
}

// ---- Helpers ----

void ConnectionController::cancelAttempt() {
    if (attemptKind_ == AttemptKind::Connect && switching_ && liveRoute_.isSet()) {
        if (engineAsked_) {
            restoreLiveRoute(AttemptKind::RestoreAfterCancel);
            return;
        }
        // Still at the device check: the live tunnel was never touched.
        ++attemptToken_;
        showLiveRouteAgain();
        enterState(ConnectionState::Lit);
        return;
    }
    ++attemptToken_;
    sendStop(false);
    if (attemptKind_ != AttemptKind::Connect) dropLiveTunnel();
    attemptKind_ = AttemptKind::Connect;
    enterState(ConnectionState::Off);
}

void ConnectionController::showLiveRouteAgain() {
    route_ = liveRoute_;
    latency_ = liveRoute_.baseLatency;
    emit routeChanged();
    emit latencyChanged();
}

void ConnectionController::dropLiveTunnel() {
    secondTicker_.stop();
    liveRoute_ = {};
    switching_ = false;
    elapsedSeconds_ = 0;
    emit elapsedChanged();
}

void ConnectionController::markConnectedNow() {
    elapsedSeconds_ = 0;
    connectedClock_.restart();
    secondTicker_.start();
    emit elapsedChanged();
}

void ConnectionController::setNotice(const QString& text) {
    if (transientNotice_ != text) {
        transientNotice_ = text;
        emit transientNoticeChanged();
    }
    if (text.isEmpty()) {
        noticeTimer_.stop();
    } else {
        noticeTimer_.start();
    }
}

void ConnectionController::tickSecond() {
    if (state_ != ConnectionState::Lit || !connectedClock_.isValid()) return;
    const int seconds = static_cast<int>(connectedClock_.elapsed() / 1000);
    if (seconds == elapsedSeconds_) return;
    elapsedSeconds_ = seconds;
    emit elapsedChanged();
}
