// What QML and main call on the connection controller: the main button, route choice,
// disconnect, quit, and the latency measurements of the route model.
#include "app/connection/connection_controller.h"

#include "app/connection/engine_bridge.h"

void ConnectionController::selectRoute(const QString& routeId, const QString& country, const QString& city,
                                       int baseLatency) {
    if (routeId.isEmpty()) return;
    const bool same = routeId == route_.id;
    route_ = RouteValue{routeId, country, city, baseLatency};
    latency_ = baseLatency;
    errorMessage_.clear();
    if (liveRoute_.id == routeId) liveRoute_ = route_;
    const bool active = isAttemptState(state_) || state_ == ConnectionState::Lit;
    if (state_ == ConnectionState::Fault || (!same && active)) startConnection(false);
    emit routeChanged();
    emit latencyChanged();
    emit statusChanged();
}

void ConnectionController::primaryAction() {
    switch (state_) {
    case ConnectionState::Off:
    case ConnectionState::Fault:
        if (sessionAllowed_) {
            startConnection(false);
        } else {
            emit loginRequired();
        }
        return;
    case ConnectionState::Seeking:
    case ConnectionState::Establishing:
    case ConnectionState::Confirming:
        cancelAttempt();
        return;
    case ConnectionState::Lit:
        ++attemptToken_;
        secondTicker_.stop();
        enterState(ConnectionState::Extinguishing);
        sendStop(false);
        return;
    case ConnectionState::Extinguishing:
        return;
    }
}

void ConnectionController::retry() {
    if (state_ == ConnectionState::Fault) startConnection(false);
}

void ConnectionController::simulateFailure() {
    ++attemptToken_;
    secondTicker_.stop();
    liveRoute_ = {};
    switching_ = false;
    startConnection(true);
}

void ConnectionController::shutdownForQuit() {
    quitting_ = true;
    const bool idle = state_ == ConnectionState::Off || state_ == ConnectionState::Fault;
    if (state_ != ConnectionState::Extinguishing && (!idle || mayHaveTunnel())) {
        ++attemptToken_;
        secondTicker_.stop();
        enterState(ConnectionState::Extinguishing);
    }
    sendStop(true);  // its stopped() ends in readyToQuit()
}

void ConnectionController::disconnectIfActive() {
    // Off or Fault may still leave a tunnel up (a failure before the service touched it, a
    // tunnel an earlier client left): log out must not leave it to the next account.
    const bool idle = state_ == ConnectionState::Off || state_ == ConnectionState::Fault;
    if (idle && !mayHaveTunnel()) return;
    ++attemptToken_;
    attemptKind_ = AttemptKind::Connect;
    dropLiveTunnel();
    enterState(ConnectionState::Extinguishing);
    sendStop(false);
}

void ConnectionController::clearRoute() {
    route_ = {};
    if (state_ == ConnectionState::Off || state_ == ConnectionState::Fault) {
        liveRoute_ = {};
        latency_ = 0;
        emit latencyChanged();
    }
    emit routeChanged();
    emit statusChanged();
}

void ConnectionController::routeLatencyMeasured(const QString& routeId, int milliseconds) {
    if (routeId.isEmpty() || milliseconds < 0) return;
    if (route_.id == routeId) route_.baseLatency = milliseconds;
    if (liveRoute_.id == routeId) liveRoute_.baseLatency = milliseconds;
    // The figure shown belongs to the selected route (the live one while none is selected),
    // so a measurement of the route being left never shows beside the one being reached.
    const QString& shown = route_.isSet() ? route_.id : liveRoute_.id;
    if (routeId != shown || latency_ == milliseconds) return;
    latency_ = milliseconds;
    emit latencyChanged();
}
