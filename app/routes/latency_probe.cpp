#include "app/routes/latency_probe.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpSocket>

#include <algorithm>

// One measurement in flight. Everything it connects to hangs off `context`, so deleting
// the context silences the socket, the time-out and a pending name look-up at once.
struct LatencyProbe::Attempt {
    QString routeId;
    quint64 serial = 0;  // callbacks of an abandoned attempt must not touch its successor
    QObject* context = nullptr;
    QTcpSocket* socket = nullptr;
    int lookupId = -1;
    QElapsedTimer clock;
};

namespace {

// The node's address for the handshake: the tunnel carries IPv4, so an IPv4 address is
// preferred; otherwise the first one the resolver gave.
QHostAddress pickAddress(const QList<QHostAddress>& addresses) {
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) return address;
    }
    return addresses.isEmpty() ? QHostAddress() : addresses.first();
}

// Milliseconds, rounded up: a handshake that happened took at least 1 ms to report.
int roundedMilliseconds(qint64 nanoseconds) {
    const qint64 ms = (nanoseconds + 999999) / 1000000;
    return static_cast<int>(std::clamp<qint64>(ms, 1, 1000000));
}

}  // namespace

LatencyProbe::LatencyProbe(QObject* parent) : LatencyProbe(LatencyProbeOptions{}, parent) {}

LatencyProbe::LatencyProbe(const LatencyProbeOptions& options, QObject* parent)
    : QObject(parent), options_(options) {
    options_.parallel = std::max(1, options_.parallel);
    options_.timeoutMs = std::max(1, options_.timeoutMs);
    roundTimer_.setInterval(std::max(1, options_.intervalMs));
    connect(&roundTimer_, &QTimer::timeout, this, &LatencyProbe::measureAll);
}

LatencyProbe::~LatencyProbe() {
    const QStringList running = active_.keys();
    for (const QString& routeId : running) abandon(routeId);
}

void LatencyProbe::setEndpoints(const RouteEndpoints& endpoints) {
    QHash<QString, RouteEndpoint> next;
    QStringList order;
    for (const RouteEndpoint& endpoint : endpoints) {
        if (endpoint.routeId.isEmpty() || next.contains(endpoint.routeId)) continue;
        next.insert(endpoint.routeId, endpoint);
        order.append(endpoint.routeId);
    }
    QStringList changed;
    for (auto it = endpoints_.cbegin(); it != endpoints_.cend(); ++it) {
        const auto found = next.constFind(it.key());
        if (found == next.cend() || found->host != it->host || found->port != it->port) {
            changed.append(it.key());
        }
    }
    for (const QString& routeId : changed) {
        abandon(routeId);
        queue_.removeAll(routeId);
    }
    const QHash<QString, RouteEndpoint> previous = endpoints_;
    endpoints_ = next;
    order_ = order;
    for (const QString& routeId : order_) {
        if (!previous.contains(routeId) || changed.contains(routeId)) enqueue(routeId);
    }
    if (endpoints_.isEmpty()) {
        roundTimer_.stop();
    } else if (!roundTimer_.isActive()) {
        roundTimer_.start();
    }
    startQueued();
}

void LatencyProbe::measureAll() {
    for (const QString& routeId : order_) enqueue(routeId);
    startQueued();
}

bool LatencyProbe::idle() const {
    return active_.isEmpty() && queue_.isEmpty();
}

void LatencyProbe::enqueue(const QString& routeId) {
    if (active_.contains(routeId) || queue_.contains(routeId)) return;
    queue_.append(routeId);
}

void LatencyProbe::startQueued() {
    while (active_.size() < options_.parallel && !queue_.isEmpty()) {
        const QString routeId = queue_.takeFirst();
        const auto found = endpoints_.constFind(routeId);
        if (found != endpoints_.cend()) startAttempt(*found);
    }
}

void LatencyProbe::startAttempt(const RouteEndpoint& endpoint) {
    const QString routeId = endpoint.routeId;
    auto* attempt = new Attempt;
    attempt->routeId = routeId;
    attempt->serial = ++lastSerial_;
    attempt->context = new QObject(this);
    active_.insert(routeId, attempt);
    const quint64 serial = attempt->serial;
    // The time-out covers the name look-up and the handshake together.
    QTimer::singleShot(options_.timeoutMs, attempt->context, [this, routeId, serial] { finishAttempt(routeId, serial, -1); });

    const QString host = endpoint.host.trimmed();
    const quint16 port = endpoint.port;
    if (host.isEmpty() || port == 0) {
        QTimer::singleShot(0, attempt->context, [this, routeId, serial] { finishAttempt(routeId, serial, -1); });
        return;
    }
    QHostAddress literal;
    if (literal.setAddress(host)) {
        connectAttempt(attempt, literal, port);
        return;
    }
    attempt->lookupId =
        QHostInfo::lookupHost(host, attempt->context, [this, routeId, serial, port](const QHostInfo& info) {
            Attempt* current = currentAttempt(routeId, serial);
            if (!current) return;
            current->lookupId = -1;
            const QHostAddress address = pickAddress(info.addresses());
            if (info.error() != QHostInfo::NoError || address.isNull()) {
                finishAttempt(routeId, serial, -1);
                return;
            }
            connectAttempt(current, address, port);
        });
}

void LatencyProbe::connectAttempt(Attempt* attempt, const QHostAddress& address, quint16 port) {
    const QString routeId = attempt->routeId;
    const quint64 serial = attempt->serial;
    attempt->socket = new QTcpSocket(attempt->context);
    // Queued: a connect that fails or succeeds at once (Windows reports an unreachable network
    // from the call itself) must still answer from the event loop, not inside setEndpoints().
    connect(attempt->socket, &QTcpSocket::connected, attempt->context, [this, routeId, serial] {
        Attempt* current = currentAttempt(routeId, serial);
        if (current) finishAttempt(routeId, serial, roundedMilliseconds(current->clock.nsecsElapsed()));
    }, Qt::QueuedConnection);
    connect(attempt->socket, &QTcpSocket::errorOccurred, attempt->context,
            [this, routeId, serial] { finishAttempt(routeId, serial, -1); }, Qt::QueuedConnection);
    attempt->clock.start();
    attempt->socket->connectToHost(address, port);
}

LatencyProbe::Attempt* LatencyProbe::currentAttempt(const QString& routeId, quint64 serial) const {
    Attempt* attempt = active_.value(routeId);
    return attempt && attempt->serial == serial ? attempt : nullptr;
}

void LatencyProbe::finishAttempt(const QString& routeId, quint64 serial, int milliseconds) {
    if (!currentAttempt(routeId, serial)) return;
    abandon(routeId);
    emit measured(routeId, milliseconds);
    startQueued();
}

void LatencyProbe::abandon(const QString& routeId) {
    Attempt* attempt = active_.take(routeId);
    if (!attempt) return;
    if (attempt->lookupId >= 0) QHostInfo::abortHostLookup(attempt->lookupId);
    if (attempt->socket) {
        attempt->socket->disconnect();
        attempt->socket->abort();
    }
    // Later: this may run inside one of the socket's own signals.
    attempt->context->deleteLater();
    delete attempt;
}
