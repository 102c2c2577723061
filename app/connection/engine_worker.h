#pragma once
// The engine worker: lives on the bridge's thread and performs the blocking pipe requests
// and the service launch. It holds no state beyond its engine client.

#include <QObject>
#include <QString>

#include "app/engine/engine_client.h"

class EngineWorker : public QObject {
    Q_OBJECT

public:
    explicit EngineWorker(engine::EngineClientOptions options);

public slots:
    void startEngine(const QString& nodeId, bool killSwitch, bool allowLan);
    void stopEngine();
    void shutdownEngine();
    void queryStatus();

signals:
    void started();
    void failed(const QString& message, bool tunnelRunning);
    void stopped();
    void alreadyRunning();
    // Every reply of the service says whether a kill switch holds the network blocked.
    void blockedChanged(bool blocked);
    // A status reply: the tunnel's processes run, and what it is doing beyond that.
    void statusReported(bool running, const QString& phase, const QString& reason);

private:
    engine::EngineClient client_;
};
