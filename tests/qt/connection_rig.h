#pragma once
// A connection controller wired to a scripted stand-in service on a real socket / pipe,
// shared by the connection controller's Qt tests.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "app/connection/connection_controller.h"
#include "app/engine/service_launcher.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace connection_rig {

// What the stand-in answers to "connect" for one node; the nth request of a node uses the
// nth entry (the last one repeats).
struct ConnectStep {
    int delayMs = 0;
    std::string error;  // not empty: ok false with this text
    bool failEmpty = false;  // ok false without a text
    bool failsBeforeTunnel = false;  // a failure that leaves the running tunnel up
};

// Like the service, the stand-in keeps a tunnel state: a "connect" that succeeds brings one
// up, one that fails has stopped it unless it failed before touching it, a stop ends it.
struct Script {
    std::mutex mutex;
    std::map<std::string, std::vector<ConnectStep>> steps;
    std::map<std::string, size_t> used;
    bool running = false;

    ConnectStep next(const std::string& node) {
        std::lock_guard<std::mutex> lock(mutex);
        const size_t count = used[node]++;  // counted also while no steps are set
        const auto it = steps.find(node);
        if (it == steps.end() || it->second.empty()) return {};
        const size_t index = std::min(count, it->second.size() - 1);
        return it->second[index];
    }
    bool tunnelUp() {
        std::lock_guard<std::mutex> lock(mutex);
        return running;
    }
};

inline std::string replyText(bool ok, bool running, const std::string& error) {
    nlohmann::ordered_json reply;
    reply["ok"] = ok;
    reply["running"] = running;
    reply["error"] = error;
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

inline orvik_test::FakeService::Script serviceScript(std::shared_ptr<Script> script) {
    return [script](const std::string& request) {
        const auto parsed = nlohmann::ordered_json::parse(request, nullptr, false);
        const std::string op = parsed.value("op", std::string());
        const std::string node = parsed.value("node", std::string());
        if (op == "status") {
            std::lock_guard<std::mutex> lock(script->mutex);
            return orvik_test::FakeReply::payload(replyText(true, script->running, ""));
        }
        if (op == "connect") {
            const ConnectStep step = script->next(node);
            std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            const bool failed = step.failEmpty || !step.error.empty();
            std::lock_guard<std::mutex> lock(script->mutex);
            if (!failed || !step.failsBeforeTunnel) script->running = !failed;
            return orvik_test::FakeReply::payload(replyText(!failed, script->running, step.error));
        }
        std::lock_guard<std::mutex> lock(script->mutex);
        script->running = false;
        orvik_test::FakeReply reply = orvik_test::FakeReply::payload(replyText(true, false, ""));
        reply.stopAfter = op == "shutdown";  // like a daemon that ends
        return reply;
    };
}

// Stands in for the elevation prompt: the user always declines.
class DecliningLauncher : public engine::ServiceLauncher {
public:
    Outcome launch(const engine::LaunchCommand&, unsigned long& errorCode) override {
        errorCode = 1223;
        return Outcome::declined;
    }
    Outcome poll(unsigned long&) override { return Outcome::declined; }
};

// One test's world: a temporary directory, the stand-in service (optional) and a
// controller pointed at it. Members are destroyed in reverse: the controller first, whose
// bridge sends "shutdown" while the stand-in still listens.
struct Rig {
    // `tunnelAtStart`: the stand-in already has a tunnel up (left by an earlier client).
    explicit Rig(bool withService = true, bool tunnelAtStart = false) {
        script->running = tunnelAtStart;
        pipe = orvik_test::uniquePipeName(dir.path());
        dir.write("orvik_service", "");  // found by the launch, which the user then declines
        dir.write("orvik_service.exe", "");
        if (withService) {
            service = std::make_unique<orvik_test::FakeService>(pipe, serviceScript(script));
            QVERIFY(service->start());
        }
        controller = std::make_unique<ConnectionController>(options());
    }

    engine::EngineClientOptions options() const {
        engine::EngineClientOptions options;
        options.pipeName = pipe;
        options.launcher = std::make_shared<DecliningLauncher>();
        options.sleep = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
        options.applicationDirectory = dir.path();
        options.runtimeDirectory = dir.path();
        return options;
    }

    // The requests the stand-in has read, without the start-up "status".
    QStringList requests() const {
        QStringList list;
        if (!service) return list;
        for (const std::string& request : service->requests()) {
            if (request.find("\"status\"") == std::string::npos) list.append(QString::fromStdString(request));
        }
        return list;
    }

    ConnectionController& c() { return *controller; }

    // Signs in, selects a route and connects it; QVERIFY-style checks fail the caller.
    void connectTo(const QString& id, const QString& city, int latency = 30) {
        controller->setSessionAllowed(true);
        controller->selectRoute(id, QStringLiteral("日本"), city, latency);
        controller->primaryAction();
    }

    orvik_test::TempDir dir;
    std::string pipe;
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<orvik_test::FakeService> service;
    std::unique_ptr<ConnectionController> controller;
};

inline QString connectRequest(const QString& node) {
    return QStringLiteral("{\"op\":\"connect\",\"node\":\"%1\"}").arg(node);
}

// Records the visual state and stage at every stateChanged, and when each was seen.
struct StateLog {
    explicit StateLog(ConnectionController& observed) : controller(observed) {
        clock.start();
        QObject::connect(&observed, &ConnectionController::stateChanged, &context, [this] {
            const QString entry = this->controller.visualState() + QLatin1Char('/') +
                                  QString::number(this->controller.stageIndex());
            entries.append(entry);
            times.append(clock.elapsed());
        });
    }
    // Milliseconds from construction until `entry` was first seen; -1 when never.
    qint64 timeOf(const QString& entry) const {
        const qsizetype index = entries.indexOf(entry);
        return index < 0 ? -1 : times.at(index);
    }

    ConnectionController& controller;
    QObject context;  // ends the connection with the log
    QElapsedTimer clock;
    QStringList entries;
    QList<qint64> times;
};

}  // namespace connection_rig
