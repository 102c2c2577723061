#pragma once
// Measures how long a TCP handshake with each route's node takes, from this unprivileged
// process: a few connections at a time, each bounded by a time-out, repeated periodically.
// Nothing is sent over a connection; it is closed as soon as it is established.

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "app/routes/route_endpoint.h"

struct LatencyProbeOptions {
    int timeoutMs = 3000;    // a node that has not answered by then counts as unavailable
    int parallel = 4;        // connections in flight at once
    int intervalMs = 30000;  // pause between two rounds over every endpoint
};

class LatencyProbe : public QObject {
    Q_OBJECT

public:
    explicit LatencyProbe(QObject* parent = nullptr);
    explicit LatencyProbe(const LatencyProbeOptions& options, QObject* parent = nullptr);
    ~LatencyProbe() override;

    // Replaces the endpoints. New and changed ones are measured at once; attempts for
    // endpoints that are gone or changed are abandoned without a result. An empty list
    // stops the periodic rounds.
    void setEndpoints(const RouteEndpoints& endpoints);
    // Queues every endpoint that is not already queued or being measured.
    void measureAll();

    bool idle() const;

signals:
    // The handshake time in milliseconds, or -1 when the node did not answer in time,
    // refused, or its name did not resolve.
    void measured(const QString& routeId, int milliseconds);

private:
    struct Attempt;

    void enqueue(const QString& routeId);
    void startQueued();
    void startAttempt(const RouteEndpoint& endpoint);
    void connectAttempt(Attempt* attempt, const QHostAddress& address, quint16 port);
    Attempt* currentAttempt(const QString& routeId, quint64 serial) const;
    void finishAttempt(const QString& routeId, quint64 serial, int milliseconds);
    void abandon(const QString& routeId);

    LatencyProbeOptions options_;
    QHash<QString, RouteEndpoint> endpoints_;
    QStringList order_;  // endpoint ids in the order given
    QStringList queue_;
    QHash<QString, Attempt*> active_;
    quint64 lastSerial_ = 0;
    QTimer roundTimer_;
};
