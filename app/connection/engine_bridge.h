#pragma once
// The GUI thread's handle on the engine worker: every pipe request and the service launch
// run on one worker thread, one after another; results come back as queued signals.

#include <QObject>
#include <QString>
#include <QThread>

#include "app/engine/engine_client.h"

class EngineWorker;

class EngineBridge : public QObject {
    Q_OBJECT

public:
    // `options` configure the engine client of the worker (tests point it at their own
    // pipe and launcher); the defaults talk to the real service.
    explicit EngineBridge(engine::EngineClientOptions options = {}, QObject* parent = nullptr);
    // Asks the service to shut down and waits for that (at most about 2 s after the request
    // in flight), then ends the worker thread.
    ~EngineBridge() override;

    // All return at once; the work is queued to the worker thread in call order.
    void startEngine(const QString& nodeId, bool killSwitch, bool allowLan);
    void stopEngine();
    void queryStatus();
    void shutdownEngine();

signals:
    void started();                  // the service accepted "connect": the tunnel is up
    // A start failed, with a text for the user; `tunnelRunning`: the service's reply said
    // a tunnel is still up (the attempt failed before it touched the running one).
    void failed(const QString& message, bool tunnelRunning);
    void stopped();                  // a "disconnect" or "shutdown" exchange has finished
    void alreadyRunning();           // a status query found the tunnel running
    void blockedChanged(bool blocked);  // the service's latest word on its kill switch's block
    void statusReported(bool running, const QString& phase, const QString& reason);

private:
    QThread thread_;
    EngineWorker* worker_ = nullptr;
};
