#include "app/connection/engine_bridge.h"

#include "app/connection/engine_worker.h"

EngineBridge::EngineBridge(engine::EngineClientOptions options, QObject* parent) : QObject(parent) {
    worker_ = new EngineWorker(std::move(options));  // no parent: it lives on the thread
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &EngineWorker::started, this, &EngineBridge::started);
    connect(worker_, &EngineWorker::failed, this, &EngineBridge::failed);
    connect(worker_, &EngineWorker::stopped, this, &EngineBridge::stopped);
    connect(worker_, &EngineWorker::alreadyRunning, this, &EngineBridge::alreadyRunning);
    connect(worker_, &EngineWorker::blockedChanged, this, &EngineBridge::blockedChanged);
    connect(worker_, &EngineWorker::statusReported, this, &EngineBridge::statusReported);
    thread_.start(QThread::InheritPriority);
}

EngineBridge::~EngineBridge() {
    if (!thread_.isRunning()) {
        delete worker_;  // never ran: nothing will delete it later
        return;
    }
    // Closing the client always asks the service to go, even after an orderly quit did.
    QMetaObject::invokeMethod(worker_, "shutdownEngine", Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait(2000);
}

void EngineBridge::startEngine(const QString& nodeId, bool killSwitch, bool allowLan) {
    QMetaObject::invokeMethod(worker_, "startEngine", Qt::QueuedConnection, Q_ARG(QString, nodeId),
                              Q_ARG(bool, killSwitch), Q_ARG(bool, allowLan));
}

void EngineBridge::stopEngine() { QMetaObject::invokeMethod(worker_, "stopEngine", Qt::QueuedConnection); }

void EngineBridge::queryStatus() { QMetaObject::invokeMethod(worker_, "queryStatus", Qt::QueuedConnection); }

void EngineBridge::shutdownEngine() { QMetaObject::invokeMethod(worker_, "shutdownEngine", Qt::QueuedConnection); }
