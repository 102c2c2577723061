// The connection controller and its engine bridge against a scripted stand-in service on a
// real socket / pipe (the service's own reply builder): attempts as the service answers them,
// cancel, stops and quit, a tunnel the service already runs, route switches, latency and the
// device check with a real account controller.
#include <QMap>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/connection/connection_controller.h"
#include "app/connection/engine_bridge.h"
#include "service/ipc_message.h"
#include "tests/qt/account_fixture.h"
#include "service/tunnel_engine.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

using orvik_test::fail;
using orvik_test::failBeforeTunnel;
using orvik_test::ok;
using orvik_test::Steps;

// The elevation prompt: the user declines, unless `start` is set (it starts the service).
struct Launcher : engine::ServiceLauncher {
    Outcome launch(const engine::LaunchCommand&, unsigned long& code) override {
        ++launches;
        code = 1223;
        return start && start() ? Outcome::started : Outcome::declined;
    }
    Outcome poll(unsigned long&) override { return start ? Outcome::started : Outcome::declined; }
    std::function<bool()> start;
    std::atomic<int> launches{0};
};

// One test's world: a directory with a service executable to find, the stand-in on its pipe
// and a controller pointed at it. Members go in reverse: the controller first, whose bridge
// sends "shutdown" while the stand-in still listens.
struct Rig {
    explicit Rig(bool serviceUp = true, bool tunnelAtStart = false, bool blockedAtStart = false) {
        script->running = tunnelAtStart;
        script->blocked = blockedAtStart;
        dir.write(engine::serviceExecutableName(), "");
        const bool listening = !serviceUp || service.start();
        auto sleep = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
        controller = std::make_unique<ConnectionController>(
            engine::EngineClientOptions{pipe, nullptr, launcher, sleep, dir.path(), dir.path()});
        bridge = controller->findChild<EngineBridge*>();
        for (auto signal : {&EngineBridge::started, &EngineBridge::stopped})
            QObject::connect(bridge, signal, &context, [this] { ++answers; });
        QObject::connect(bridge, &EngineBridge::failed, &context, [this] { ++answers; });
        QObject::connect(controller.get(), &ConnectionController::stateChanged, &context, [this] {
            states.append(c().visualState() + QLatin1Char('/') + QString::number(c().stageIndex()));
        });
        QVERIFY(listening);
    }
    ConnectionController& c() { return *controller; }
    void connectTo(const QString& id, const QString& city, int latency = 30) {
        controller->setSessionAllowed(true);
        controller->selectRoute(id, QStringLiteral("日本"), city, latency);
        controller->primaryAction();
    }
    // The requests read, without the status queries.
    QStringList requests() const {
        QStringList list;
        for (const std::string& request : service.requests())
            if (request.find("\"status\"") == std::string::npos) list.append(QString::fromStdString(request));
        return list;
    }
    // Waits until every request read so far has reached the controller as a result (the
    // worker answers in order, one result each).
    void settle() { QTRY_VERIFY_WITH_TIMEOUT(answers >= requests().size(), 10000); }

    orvik_test::TempDir dir;
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    std::shared_ptr<orvik_test::ServiceScript> script = std::make_shared<orvik_test::ServiceScript>();
    orvik_test::FakeService service{pipe, [script = script](const std::string& r) { return script->answer(r); }};
    std::shared_ptr<Launcher> launcher = std::make_shared<Launcher>();
    std::unique_ptr<ConnectionController> controller;
    EngineBridge* bridge = nullptr;
    QObject context;
    qsizetype answers = 0;
    QStringList states;  // every visual state and stage passed through, in order
};

QString connectRequest(const QString& node, bool killSwitch = false, bool allowLan = true) {
    return QStringLiteral("{\"op\":\"connect\",\"node\":\"%1\",\"killSwitch\":%2,\"allowLan\":%3}")
        .arg(node, killSwitch ? "true" : "false", allowLan ? "true" : "false");
}
const QString kDisconnect = QStringLiteral("{\"op\":\"disconnect\"}");
const QString kShutdown = QStringLiteral("{\"op\":\"shutdown\"}");
const QString kExpired = QStringLiteral("登录已过期，请退出后重新登录");
const QMap<QString, QString> kCities{{"tokyo", "东京"}, {"osaka", "大阪"}, {"kyoto", "京都"}};

const orvik_test::HttpReply kClaimed = orvik_test::panel::plain(200, {{"used", 2}, {"limit", 5}});
const orvik_test::HttpReply kLoginExpired = orvik_test::panel::plain(403, {{"message", "Login expired"}});

// service: 1 listening, 0 started by the launch, -1 the launch is declined.
struct Attempt { Steps steps; int service; QStringList log; QString error; };
// before: none, no service, lit, seeking, refused, adopted (the route selected before the status
// query at start found a tunnel up); action: disconnect (the button), logout, quit, close (the
// controller is destroyed).
struct Stop { bool tunnelAtStart; QString before, action; QStringList requests; QString state; };
// From Lit on tokyo (30 ms) the hops are selected in turn (18 ms each), then the button is
// pressed `cancels` times; `sent`: the nodes connected from then on, "-" a disconnect.
struct Switch { Steps steps; QStringList hops; int cancels; QString state, city, notice, error; QStringList sent; };
// `switching`: the first claim succeeds, the one for the switch answers `claim`.
struct Device { orvik_test::HttpReply claim; bool switching; QString state, error, notice; };

}  // namespace

Q_DECLARE_METATYPE(Attempt)
Q_DECLARE_METATYPE(Stop)
Q_DECLARE_METATYPE(Switch)
Q_DECLARE_METATYPE(Device)

class ConnectionControllerTest : public QObject {
    Q_OBJECT

private slots:
    void attempts_data() {
        QTest::addColumn<Attempt>("a");
        const QStringList lit{"igniting/0", "lit/-1"};
        const QStringList fault{"igniting/0", "fault/-1"};
        QTest::newRow("answer at once") << Attempt{{}, 1, lit, {}};
        QTest::newRow("slow answer passes every stage")
            << Attempt{{ok(2300)}, 1, {"igniting/0", "igniting/1", "igniting/2", "lit/-1"}, {}};
        QTest::newRow("refused") << Attempt{{fail("节点不可用")}, 1, fault, "节点不可用"};
        QTest::newRow("refused without a text")
            << Attempt{{fail("")}, 1, fault, "目标节点没有在预期时间内回应。请重试或选择其他线路。"};
        QTest::newRow("service started on demand") << Attempt{{}, 0, lit, {}};
        QTest::newRow("launch declined") << Attempt{{}, -1, fault, "需要管理员权限才能建立连接。已取消。"};
    }

    void attempts() {
        QFETCH(Attempt, a);
        Rig rig(a.service == 1);
        if (a.service == 0) rig.launcher->start = [&rig] { return rig.service.start(); };
        rig.script->set(a.steps);
        rig.connectTo("tokyo", "东京", 42);
        QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在寻找 东京"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.c().busy(), 10000);
        QCOMPARE(rig.states, a.log);
        QCOMPARE(rig.c().errorMessage(), a.error);
        QCOMPARE(rig.requests(), a.service < 0 ? QStringList() : QStringList{connectRequest("tokyo")});
        QCOMPARE(rig.launcher->launches.load(), a.service == 1 ? 0 : 1);
        if (a.error.isEmpty()) {
            QCOMPARE(rig.c().latency(), 42);
            return;
        }
        QCOMPARE(rig.c().statusTitle(), QStringLiteral("未能抵达 东京"));
        if (a.service < 0) return;
        rig.c().retry();
        QCOMPARE(rig.c().errorMessage(), QString());
        QCOMPARE(rig.c().connectionAttemptSerial(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
    }

    // A kill switch's block, found at start or left by a failed attempt, is a fault that only a
    // disconnect ends; the leak protection choices travel with every connect.
    void killSwitchBlock() {
        Rig rig(true, false, true);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().networkBlocked(), 5000);
        QCOMPARE(rig.c().visualState(), QStringLiteral("fault"));
        rig.c().setConnectPreferences(true, false);
        rig.script->set({fail("xray exited immediately")});
        rig.c().setSessionAllowed(true);
        rig.c().selectRoute(QStringLiteral("tokyo"), QStringLiteral("日本"), QStringLiteral("东京"), 30);  // retries
        QVERIFY(rig.c().busy());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.c().busy(), 5000);
        QCOMPARE(rig.c().visualState(), QStringLiteral("fault"));
        QVERIFY(rig.c().networkBlocked());
        rig.c().disconnectIfActive();
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 5000);
        QVERIFY(!rig.c().networkBlocked());
        QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo", true, false), kDisconnect}));
    }

    // While lit, the window learns within about a second that the service is recovering the
    // tunnel, that it is back, and that it gave up.
    void followsTheServicesRecovery() {
        Rig rig;
        rig.connectTo("tokyo", "东京");
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
        const QString reason = QStringLiteral("xray 意外退出，正在重新连接");
        rig.script->show(false, {"recovering", reason.toStdString()});
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("igniting"), 1500);
        QCOMPARE(rig.c().transientNotice(), reason);
        QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在重新连接"));
        rig.script->show(true, {});
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("lit"), 1500);
        QCOMPARE(rig.c().transientNotice(), QStringLiteral("已重新连接"));
        rig.script->show(false, {"failed", "xray 意外退出，重新连接未成功：config not found"});
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 1500);
        QCOMPARE(rig.c().errorMessage(), QStringLiteral("xray 意外退出，重新连接未成功：config not found"));
    }

    // Another user's tunnel is not this window's: found at start it is not adopted, a refused
    // connect leaves the window without a tunnel, and signing out then stops nothing.
    void anotherUsersTunnel() {
        Rig rig(true, true);
        rig.script->others = true;
        QSignalSpy reported(rig.bridge, &EngineBridge::statusReported);
        QSignalSpy adopted(rig.bridge, &EngineBridge::alreadyRunning);
        QVERIFY(reported.wait(5000));
        const QString refusal = QString::fromUtf8(service::kHeldByAnotherUserText);
        rig.script->set({failBeforeTunnel(refusal.toStdString())});
        rig.connectTo("tokyo", "东京");
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 5000);
        QCOMPARE(rig.c().errorMessage(), refusal);
        rig.c().disconnectIfActive();
        rig.settle();
        QCOMPARE(adopted.count(), 0);
        QCOMPARE(rig.requests(), QStringList{connectRequest("tokyo")});
    }

    // A cancelled attempt's answer arrives after the next attempt has begun; it must not be
    // taken as the next attempt's answer.
    void cancelDropsTheLateAnswer() {
        Rig rig;
        rig.script->set({ok(800), fail("第二次失败", 300)});
        rig.connectTo("tokyo", "东京");
        QVERIFY(rig.service.waitForRequests(1, 5000));
        rig.c().primaryAction();  // cancel
        QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
        rig.c().primaryAction();  // and start again at once
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 5000);
        QCOMPARE(rig.c().errorMessage(), QStringLiteral("第二次失败"));
        QVERIFY(!rig.states.contains("lit/-1"));
        QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), kDisconnect, connectRequest("tokyo")}));
    }

    // A tunnel up at start is shown as this client's when a route is already selected, else only
    // remembered: Off or Fault does not mean the service has no tunnel (also after an attempt
    // that failed before touching it); log out and quit must stop it. Quit ends in readyToQuit
    // once the service's pipe is gone, and so does closing the client. Neither the status query
    // nor a stop launches the service.
    void stops_data() {
        QTest::addColumn<Stop>("s");
        const QString tokyo = connectRequest("tokyo");
        QTest::newRow("disconnect while lit") << Stop{false, "lit", "disconnect", {tokyo, kDisconnect}, "off"};
        QTest::newRow("log out while seeking") << Stop{false, "seeking", "logout", {tokyo, kDisconnect}, "off"};
        QTest::newRow("quit while lit") << Stop{false, "lit", "quit", {tokyo, kShutdown}, "off"};
        QTest::newRow("quit while idle") << Stop{false, "none", "quit", {kShutdown}, "off"};
        QTest::newRow("quit without a service") << Stop{false, "no service", "quit", {}, "off"};
        QTest::newRow("disconnect an adopted tunnel") << Stop{true, "adopted", "disconnect", {kDisconnect}, "off"};
        QTest::newRow("log out in Off, tunnel left up") << Stop{true, "none", "logout", {kDisconnect}, "off"};
        QTest::newRow("log out in Fault, tunnel up") << Stop{true, "refused", "logout", {tokyo, kDisconnect}, "off"};
        QTest::newRow("quit in Fault, tunnel left up") << Stop{true, "refused", "quit", {tokyo, kShutdown}, "off"};
        QTest::newRow("log out in Fault, no tunnel") << Stop{false, "refused", "logout", {tokyo}, "fault"};
        QTest::newRow("close while seeking") << Stop{false, "seeking", "close", {tokyo, kShutdown}, {}};
    }

    void stops() {
        QFETCH(Stop, s);
        Rig rig(s.before != "no service", s.tunnelAtStart);
        bool pipeGoneAtQuit = false;
        connect(rig.controller.get(), &ConnectionController::readyToQuit, this,
                [&] { pipeGoneAtQuit = !orvik_test::pipeListening(rig.pipe); });
        if (s.before == "adopted") rig.c().selectRoute("tokyo", "日本", "东京", 30);  // before the query runs
        if (s.tunnelAtStart) QVERIFY(QSignalSpy(rig.bridge, &EngineBridge::alreadyRunning).wait(5000));
        QCOMPARE(rig.c().transientNotice(), s.before == "adopted" ? QStringLiteral("已恢复当前隧道") : QString());
        rig.script->set({s.before == "refused" ? failBeforeTunnel("无法读取节点列表") : ok(s.before == "seeking" ? 600 : 0)});
        if (s.before == "lit" || s.before == "refused" || s.before == "seeking") rig.connectTo("tokyo", "东京");
        if (s.before == "lit") QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
        if (s.before == "refused") QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 5000);

        if (s.action == "close") {  // the bridge waits for the connect's answer, then asks the service to go
            QVERIFY(rig.service.waitForRequests(1, 5000));
            rig.controller.reset();
            QCOMPARE(rig.requests(), s.requests);
            QVERIFY(!orvik_test::pipeListening(rig.pipe));
            return;
        }
        if (s.action == "quit") rig.c().shutdownForQuit();
        if (s.action == "logout") rig.c().disconnectIfActive();
        if (s.action == "disconnect") rig.c().primaryAction();
        if (s.action == "quit") QTRY_VERIFY_WITH_TIMEOUT(pipeGoneAtQuit, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.requests(), s.requests, 5000);
        rig.settle();
        QCOMPARE(rig.c().visualState(), s.state);
        QVERIFY(!rig.script->running);
        QCOMPARE(rig.launcher->launches.load(), 0);
        if (s.before == "seeking") QVERIFY(!rig.states.contains("lit/-1"));  // its late answer changes nothing
    }

    // The previous route is reconnected for real when the service stopped it for the new one,
    // and kept when the service never touched it.
    void switches_data() {
        QTest::addColumn<Switch>("s");
        const QStringList osaka{"osaka"};
        const std::string refusal = "无法读取节点列表";
        const QString refused = QString::fromStdString(refusal);
        const QString restored = QStringLiteral("新线路未能连接，已恢复 东京");
        const QString gone = QStringLiteral("旧线路也断了");
        QTest::newRow("reaches the new route") << Switch{{ok(300)}, osaka, 0, "lit", "大阪", {}, {}, osaka};
        QTest::newRow("failed switch reconnects the old route")
            << Switch{{fail("节点不可用", 100), ok(400)}, osaka, 0, "lit", "东京", restored, {}, {"osaka", "tokyo"}};
        QTest::newRow("old route fails to come back")
            << Switch{{fail("节点不可用"), fail("旧线路也断了")}, osaka, 0, "fault", "东京", {}, gone, {"osaka", "tokyo"}};
        QTest::newRow("refused before the tunnel: kept")
            << Switch{{failBeforeTunnel(refusal)}, osaka, 0, "lit", "东京", refused, {}, osaka};
        QTest::newRow("superseded switch got through") << Switch{
            {ok(300), failBeforeTunnel(refusal)}, {"osaka", "kyoto"}, 0, "lit", "大阪", refused, {}, {"osaka", "kyoto"}};
        QTest::newRow("cancelled switch reconnects the old route")
            << Switch{{ok(600)}, osaka, 1, "lit", "东京", {}, {}, {"osaka", "tokyo"}};
        QTest::newRow("cancelled reconnect: nothing stays up")
            << Switch{{ok(300), fail("旧线路也断了")}, osaka, 2, "off", "东京", {}, {}, {"osaka", "tokyo", "-"}};
    }

    void switches() {
        QFETCH(Switch, s);
        Rig rig;
        rig.connectTo("tokyo", "东京", 30);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
        rig.script->set(s.steps);  // the answers to the connects from here on
        rig.states.clear();
        for (const QString& hop : s.hops) rig.c().selectRoute(hop, "日本", kCities.value(hop), 18);
        QVERIFY(rig.c().switchingRoute());
        QCOMPARE(rig.c().statusTitle(), "正在转向 " + kCities.value(s.hops.last()));
        for (int i = 0; i < s.cancels; ++i) rig.c().primaryAction();

        QStringList requests{connectRequest("tokyo")};
        for (const QString& node : s.sent) requests.append(node == "-" ? kDisconnect : connectRequest(node));
        QTRY_COMPARE_WITH_TIMEOUT(rig.requests(), requests, 5000);
        rig.settle();
        QCOMPARE(rig.c().visualState(), s.state);
        QCOMPARE(rig.c().city(), s.city);
        QCOMPARE(rig.c().transientNotice(), s.notice);
        QCOMPARE(rig.script->running.load(), s.state == "lit");
        // Lit or Fault only at the end: no outcome shown before the service gave it.
        QCOMPARE(rig.states.filter("lit").size() + rig.states.filter("fault").size(), s.state == "off" ? 0 : 1);
        if (s.state == "lit") QCOMPARE(rig.c().latency(), s.city == "东京" ? 30 : 18);
        if (s.state == "fault") QCOMPARE(rig.c().errorMessage(), s.error);
        if (s.state != "lit") QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));
    }

    // Logged out the button asks for a login. The latest measurement shows, not the figure given
    // at selection; the same route again does not reconnect; the counter runs while connected and
    // the stage timers of the finished attempt change nothing.
    void buttonClockAndLatency() {
        Rig rig;
        QSignalSpy login(rig.controller.get(), &ConnectionController::loginRequired);
        rig.c().selectRoute("tokyo", "日本", "东京", 30);
        rig.c().primaryAction();
        QCOMPARE(login.count(), 1);
        rig.c().routeLatencyMeasured("tokyo", 41);
        rig.c().routeLatencyMeasured("tokyo", -1);  // no answer: the last good figure stays
        rig.c().routeLatencyMeasured("osaka", 12);  // another route
        rig.c().setSessionAllowed(true);
        rig.c().primaryAction();
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
        QCOMPARE(rig.c().latency(), 41);
        rig.c().selectRoute("tokyo", "日本", "东京", 45);
        QCOMPARE(rig.c().latency(), 45);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().elapsedText() >= QStringLiteral("00:00:02"), 6000);
        QCOMPARE(rig.states, QStringList({"igniting/0", "lit/-1"}));

        // During a switch the figure belongs to the route being reached; the live route's
        // measurements are kept for its reconnect.
        rig.script->set({fail("节点不可用", 400)});
        rig.c().selectRoute("osaka", "日本", "大阪", 18);
        rig.c().routeLatencyMeasured("tokyo", 47);
        QCOMPARE(rig.c().latency(), 18);
        rig.c().routeLatencyMeasured("osaka", 19);
        QCOMPARE(rig.c().latency(), 19);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
        QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
        QCOMPARE(rig.c().latency(), 47);

        // Without a selected route the live tunnel's figure shows; nothing starts.
        rig.c().clearRoute();
        rig.c().routeLatencyMeasured("tokyo", 51);
        QCOMPARE(rig.c().latency(), 51);
        rig.c().primaryAction();
        rig.c().primaryAction();  // nothing while extinguishing
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 5000);
        rig.c().primaryAction();
        QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
        QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), connectRequest("osaka"),
                                              connectRequest("tokyo"), kDisconnect}));
    }

    // The slot is claimed before the service is asked; a refusal stops the attempt there, and
    // during a switch leaves the live tunnel untouched and shown.
    void deviceCheck_data() {
        QTest::addColumn<Device>("d");
        QTest::newRow("claimed") << Device{kClaimed, false, "lit", {}, {}};
        QTest::newRow("login expired") << Device{kLoginExpired, false, "fault", kExpired, {}};
        QTest::newRow("refused during a switch") << Device{kLoginExpired, true, "lit", {}, kExpired};
    }

    void deviceCheck() {
        QFETCH(Device, d);
        Rig rig;
        account_test::Member user(45, true);
        QVERIFY(user.account);
        user.panel.on("POST", orvik_test::panel::kClaim, d.claim);
        if (d.switching) user.panel.queue("POST", orvik_test::panel::kClaim, kClaimed);
        rig.c().setAccount(user.account.get());
        rig.connectTo("tokyo", "东京");
        if (d.switching) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 5000);
            rig.c().selectRoute("osaka", "日本", "大阪", 18);
            QVERIFY(rig.c().busy());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig.c().busy(), 5000);
        QCOMPARE(rig.c().visualState(), d.state);
        QCOMPARE(rig.c().errorMessage(), d.error);
        QCOMPARE(rig.c().transientNotice(), d.notice);
        QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
        QCOMPARE(rig.requests(), d.state == "lit" ? QStringList{connectRequest("tokyo")} : QStringList());
        if (d.state == "lit") QCOMPARE(user.account->usedDevices(), 2);  // the claim's figures are applied
    }

    // The check runs on its own thread with the account: taking the account away (main does so
    // before destroying it) waits for a check in progress instead of leaving it dangling.
    void accountOutlivesItsDeviceCheck() {
        Rig rig;
        {
            account_test::Member user(45, true);
            QVERIFY(user.account);
            rig.c().setAccount(user.account.get());
            account_test::Probe& probe = *user.world.probe;
            probe.checkGate.set(false);
            rig.connectTo("tokyo", "东京");
            QTRY_COMPARE_WITH_TIMEOUT(probe.checkGate.waiting(), 1, 5000);
            std::thread opener([&probe] {
                // Long enough that a setAccount that did not wait would return first.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                probe.checkGate.set(true);
            });
            rig.c().setAccount(nullptr);
            QCOMPARE(probe.inside.load(), 0);  // the claim had ended before the account was let go
            opener.join();
        }
        QTest::qWait(200);  // the finished check reaches the controller after the account is gone
        QCOMPARE(rig.requests(), QStringList());
    }
};

QTEST_MAIN(ConnectionControllerTest)
#include "connection_controller_test.moc"
