#include "app/connection/engine_worker.h"

#include <QThread>

namespace {

constexpr int kConnectAttempts = 20;
constexpr int kConnectAttemptsAfterLaunch = 40;
constexpr int kDisconnectAttempts = 20;
constexpr int kShutdownAttempts = 5;
constexpr int kShutdownPolls = 40;   // the service's pipe is given 40 × 50 ms to go
constexpr int kShutdownPollMs = 50;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

EngineWorker::EngineWorker(engine::EngineClientOptions options) : client_(std::move(options)) {}

void EngineWorker::startEngine(const QString& nodeId, bool killSwitch, bool allowLan) {
    const std::string node = nodeId.toStdString();
    const engine::ConnectPreferences preferences{killSwitch, allowLan};
    engine::RequestResult result = client_.sendRequest("connect", kConnectAttempts, node, preferences);
    if (!result.ok && result.serviceUnavailable) {
        // The only place the service is launched: status, stop and shutdown never start it.
        std::string error;
        if (!client_.ensureServiceRunning(error)) {
            emit failed(text(error), false);
            return;
        }
        result = client_.sendRequest("connect", kConnectAttemptsAfterLaunch, node, preferences);
    }
    emit blockedChanged(result.blocked);
    if (result.ok)
        emit started();
    else
        emit failed(text(result.error), result.running && result.mine);
}

void EngineWorker::stopEngine() {
    const engine::RequestResult result = client_.sendRequest("disconnect", kDisconnectAttempts);
    emit blockedChanged(result.blocked);
    emit stopped();
}

void EngineWorker::shutdownEngine() {
    client_.sendRequest("shutdown", kShutdownAttempts);
    for (int i = 0; i < kShutdownPolls && client_.pipeExists(); ++i) client_.options().sleep(kShutdownPollMs);
    emit stopped();
}

void EngineWorker::queryStatus() {
    const engine::RequestResult result = client_.sendRequest("status", 1);
    emit blockedChanged(result.blocked);
    // Another user's tunnel is not this window's to show or to adopt.
    const bool ours = result.running && result.mine;
    if (result.ok) emit statusReported(ours, text(result.phase), text(result.reason));
    if (result.ok && ours) emit alreadyRunning();
}
