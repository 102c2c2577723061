// The engine bridge and its worker thread against a stand-in service on a real pipe: which
// signals come, in which order, and what the destructor waits for.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <memory>

#include "app/connection/engine_bridge.h"
#include "tests/engine/engine_test_doubles.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

using orvik_test::FakeService;
using Outcome = engine::ServiceLauncher::Outcome;

namespace {

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";
const std::string kRunning = "{\"ok\":true,\"running\":true,\"error\":\"\"}";

// Every signal of the bridge by name, in arrival order.
QStringList* recordSignals(EngineBridge& bridge) {
    auto* names = new QStringList;
    QObject::connect(&bridge, &QObject::destroyed, [names] { delete names; });
    QObject::connect(&bridge, &EngineBridge::started, [names] { names->append("started"); });
    QObject::connect(&bridge, &EngineBridge::failed, [names](const QString& text) { names->append("failed:" + text); });
    QObject::connect(&bridge, &EngineBridge::stopped, [names] { names->append("stopped"); });
    QObject::connect(&bridge, &EngineBridge::alreadyRunning, [names] { names->append("alreadyRunning"); });
    return names;
}

}  // namespace

class EngineBridgeTest : public QObject {
    Q_OBJECT

private:
    // Sleeps a tenth of what the client asks: the same steps, ten times faster.
    engine::EngineClientOptions options(std::shared_ptr<engine_test::ScriptedLauncher> launcher = nullptr) {
        engine::EngineClientOptions result;
        result.pipeName = pipe;
        result.launcher = launcher ? launcher : std::make_shared<engine_test::ScriptedLauncher>();
        result.sleep = [](int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds / 10)); };
        result.applicationDirectory = app->path();
        result.runtimeDirectory = app->path();
        return result;
    }

    std::unique_ptr<orvik_test::TempDir> app;
    std::string pipe;

private slots:
    void init() {
        app = std::make_unique<orvik_test::TempDir>();
        app->write(engine::serviceExecutableName(), "service");
        pipe = orvik_test::uniquePipeName(app->path());
    }

    void startThenStopEmitStartedThenStopped() {
        FakeService fake(pipe, FakeService::lookalike());
        QVERIFY(fake.start());
        EngineBridge bridge(options());
        QStringList* names = recordSignals(bridge);
        bridge.startEngine(QStringLiteral("东京 \"01\""));
        bridge.stopEngine();
        QTRY_COMPARE_WITH_TIMEOUT(names->size(), 2, 10000);
        QCOMPARE(*names, (QStringList{"started", "stopped"}));
        QCOMPARE(fake.requests(), (std::vector<std::string>{"{\"op\":\"connect\",\"node\":\"东京 \\\"01\\\"\"}",
                                                            "{\"op\":\"disconnect\"}"}));
    }

    void aRefusedConnectEmitsFailedWithTheServiceText() {
        FakeService fake(pipe, FakeService::lookalike({0, "没有可用节点"}));
        QVERIFY(fake.start());
        EngineBridge bridge(options());
        QSignalSpy failed(&bridge, &EngineBridge::failed);
        QSignalSpy started(&bridge, &EngineBridge::started);
        bridge.startEngine("x");
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("没有可用节点"));
        QCOMPARE(started.count(), 0);
    }

    void aMissingServiceIsLaunchedAndThenConnected() {
        FakeService fake(pipe, FakeService::lookalike());
        auto launcher = std::make_shared<engine_test::ScriptedLauncher>();
        launcher->onLaunch = [&] { QVERIFY(fake.start()); };
        EngineBridge bridge(options(launcher));
        QStringList* names = recordSignals(bridge);
        bridge.startEngine("n");
        QTRY_COMPARE_WITH_TIMEOUT(names->size(), 1, 10000);
        QCOMPARE(*names, QStringList{"started"});
        QCOMPARE(launcher->commands.size(), size_t{1});
        QCOMPARE(fake.requests(), std::vector<std::string>{"{\"op\":\"connect\",\"node\":\"n\"}"});
    }

    void aDeclinedLaunchEmitsFailed() {
        auto launcher = std::make_shared<engine_test::ScriptedLauncher>();
        launcher->launchOutcome = Outcome::declined;
        EngineBridge bridge(options(launcher));
        QStringList* names = recordSignals(bridge);
        bridge.startEngine("n");
        QTRY_COMPARE_WITH_TIMEOUT(names->size(), 1, 10000);
        QCOMPARE(*names, QStringList{"failed:需要管理员权限才能建立连接。已取消。"});
    }

    void aStatusQueryNeverLaunchesAndSaysNothingUnlessATunnelRuns() {
        auto launcher = std::make_shared<engine_test::ScriptedLauncher>();
        {
            EngineBridge bridge(options(launcher));
            QStringList* names = recordSignals(bridge);
            bridge.queryStatus();
            bridge.stopEngine();  // no service either: still reports stopped
            QTRY_COMPARE_WITH_TIMEOUT(names->size(), 1, 10000);
            QCOMPARE(*names, QStringList{"stopped"});
        }
        FakeService idle(pipe, [](const std::string&) { return kIdle; });
        QVERIFY(idle.start());
        {
            EngineBridge bridge(options(launcher));
            QStringList* names = recordSignals(bridge);
            bridge.queryStatus();
            bridge.stopEngine();
            QTRY_COMPARE_WITH_TIMEOUT(names->size(), 1, 10000);
            QCOMPARE(*names, QStringList{"stopped"});
        }
        idle.stop();
        FakeService running(pipe, [](const std::string&) { return kRunning; });
        QVERIFY(running.start());
        EngineBridge bridge(options(launcher));
        QStringList* names = recordSignals(bridge);
        bridge.queryStatus();
        QTRY_COMPARE_WITH_TIMEOUT(names->size(), 1, 10000);
        QCOMPARE(*names, QStringList{"alreadyRunning"});
        QVERIFY(launcher->commands.empty());
    }

    void shutdownReportsStoppedOnceThePipeHasGone() {
        FakeService fake(pipe, FakeService::lookalike());
        QVERIFY(fake.start());
        EngineBridge bridge(options());
        bool pipeGoneAtStopped = false;
        connect(&bridge, &EngineBridge::stopped, this, [&] { pipeGoneAtStopped = !orvik_test::fakePipeListening(pipe); });
        QSignalSpy stopped(&bridge, &EngineBridge::stopped);
        bridge.shutdownEngine();
        QVERIFY(stopped.wait(10000));
        QVERIFY(pipeGoneAtStopped);
        QCOMPARE(fake.requests(), std::vector<std::string>{"{\"op\":\"shutdown\"}"});
    }

    void destructionDuringAConnectWaitsForItAndTheShutdown() {
        FakeService fake(pipe, FakeService::lookalike({800, ""}));
        QVERIFY(fake.start());
        auto bridge = std::make_unique<EngineBridge>(options());
        QSignalSpy started(bridge.get(), &EngineBridge::started);
        bridge->startEngine("slow");
        QVERIFY(fake.waitForRequests(1, 10000));
        QElapsedTimer clock;
        clock.start();
        bridge.reset();
        QVERIFY2(clock.elapsed() >= 500, "the destructor returned before the connect finished");
        QCOMPARE(fake.requests(), (std::vector<std::string>{"{\"op\":\"connect\",\"node\":\"slow\"}", "{\"op\":\"shutdown\"}"}));
        QVERIFY(!orvik_test::fakePipeListening(pipe));
        QCOMPARE(started.count(), 0);  // the bridge was gone before the result could arrive
    }
};

QTEST_MAIN(EngineBridgeTest)
#include "engine_bridge_test.moc"
