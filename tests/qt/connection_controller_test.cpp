// The connection controller against a scripted stand-in service: start, stages, failure,
// cancel, disconnect, quit and the adoption of a running tunnel.
#include <QMetaClassInfo>
#include <QMetaMethod>
#include <QObject>
#include <QSignalSpy>
#include <QTest>

#include "app/connection/connection_state.h"
#include "app/connection/engine_bridge.h"
#include "tests/qt/connection_rig.h"

using connection_rig::connectRequest;
using connection_rig::ConnectStep;
using connection_rig::Rig;
using connection_rig::StateLog;

class ConnectionControllerTest : public QObject {
    Q_OBJECT

private slots:
    void presentsItselfToQml();
    void clockTextPadsEveryField();
    void loggedOutAskForLoginAndStayOff();
    void quickAnswerGoesStraightToLit();
    void stagesFollowFixedTimes();
    void failedStartShowsFaultAndRetries();
    void failureWithoutTextUsesDefault();
    void declinedServiceLaunchShowsItsText();
    void cancelDropsTheLateAnswer();
    void disconnectAndElapsedCounter();
    void disconnectIfActiveWhileSeeking();
    void clearRouteKeepsLiveTunnel();
    void adoptsRunningTunnel();
    void ignoresRunningTunnelWithoutRoute();
    void quitWhileConnected();
    void quitWhileIdleWithoutService();
    void logoutAndQuitStopATunnelLeftUp_data();
    void logoutAndQuitStopATunnelLeftUp();
    void simulatedFailureEndsInFault();
};

void ConnectionControllerTest::presentsItselfToQml() {
    Rig rig(false);
    const QMetaObject* meta = rig.c().metaObject();
    QCOMPARE(QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("QML.Element")).value()), QStringLiteral("auto"));
    QCOMPARE(QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("QML.Creatable")).value()), QStringLiteral("false"));
    QCOMPARE(QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("QML.UncreatableReason")).value()),
             QStringLiteral("ConnectionController is provided by the application"));

    QStringList signalNames;
    QStringList invokables;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal) signalNames.append(QString::fromLatin1(method.name()));
        if (method.methodType() == QMetaMethod::Method) invokables.append(QString::fromLatin1(method.name()));
    }
    QCOMPARE(signalNames, QStringList({"readyToQuit", "loginRequired", "sessionAllowedChanged", "stateChanged",
                                       "statusChanged", "routeChanged", "latencyChanged",
                                       "connectionAttemptSerialChanged", "elapsedChanged", "transientNoticeChanged"}));
    QCOMPARE(invokables, QStringList({"selectRoute", "primaryAction", "retry", "simulateFailure", "shutdownForQuit",
                                      "disconnectIfActive", "clearRoute"}));
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) QVERIFY(!meta->property(i).isWritable());

    ConnectionController& c = rig.c();
    QCOMPARE(c.visualState(), QStringLiteral("off"));
    QCOMPARE(c.statusTitle(), QStringLiteral("尚未连接"));
    QCOMPARE(c.stageIndex(), -1);
    QCOMPARE(c.connectionSweepDuration(), 2250);
    QCOMPARE(c.demoControlsEnabled(), false);
    QCOMPARE(c.elapsedText(), QStringLiteral("00:00:00"));
    QCOMPARE(c.property("busy").toBool(), false);
}

void ConnectionControllerTest::clockTextPadsEveryField() {
    QCOMPARE(elapsedClockText(0), QStringLiteral("00:00:00"));
    QCOMPARE(elapsedClockText(65), QStringLiteral("00:01:05"));
    QCOMPARE(elapsedClockText(3600), QStringLiteral("01:00:00"));
    QCOMPARE(elapsedClockText(100 * 3600 + 59), QStringLiteral("100:00:59"));
}

void ConnectionControllerTest::loggedOutAskForLoginAndStayOff() {
    Rig rig;
    QSignalSpy login(rig.controller.get(), &ConnectionController::loginRequired);
    QSignalSpy allowed(rig.controller.get(), &ConnectionController::sessionAllowedChanged);
    rig.c().selectRoute("tokyo", "日本", "东京", 30);
    rig.c().primaryAction();
    QCOMPARE(login.count(), 1);
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));

    rig.c().setSessionAllowed(false);
    QCOMPARE(allowed.count(), 0);  // no change, no signal
    rig.c().setSessionAllowed(true);
    rig.c().setSessionAllowed(true);
    QCOMPARE(allowed.count(), 1);
    QTest::qWait(100);
    QVERIFY(rig.requests().isEmpty());
}

void ConnectionControllerTest::quickAnswerGoesStraightToLit() {
    Rig rig;
    StateLog log(rig.c());
    QSignalSpy serial(rig.controller.get(), &ConnectionController::connectionAttemptSerialChanged);
    rig.connectTo("tokyo", "东京", 42);
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在寻找 东京"));
    QCOMPARE(rig.c().property("busy").toBool(), true);
    QCOMPARE(rig.c().switchingRoute(), false);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QTest::qWait(1600);  // the stage timers of the finished attempt change nothing
    QCOMPARE(log.entries, QStringList({"igniting/0", "lit/-1"}));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("已连接"));
    QCOMPARE(rig.c().latency(), 42);
    QCOMPARE(serial.count(), 1);
    QCOMPARE(rig.c().connectionAttemptSerial(), 1);
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo")}));

    rig.c().selectRoute("tokyo", "日本", "东京", 45);  // the same route: no reconnect
    QTest::qWait(200);
    QCOMPARE(rig.c().visualState(), QStringLiteral("lit"));
    QCOMPARE(rig.c().latency(), 45);
    QCOMPARE(rig.requests().size(), 1);
}

void ConnectionControllerTest::stagesFollowFixedTimes() {
    Rig rig;
    rig.script->steps["tokyo"] = {ConnectStep{2300, {}, false}};
    StateLog log(rig.c());
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().stageIndex() == 1, 2000);
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在建立连接"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().stageIndex() == 2, 2000);
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在确认网络"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 4000);
    QCOMPARE(log.entries, QStringList({"igniting/0", "igniting/1", "igniting/2", "lit/-1"}));
    const qint64 establishing = log.timeOf("igniting/1");
    const qint64 confirming = log.timeOf("igniting/2");
    QVERIFY2(establishing >= 670 && establishing < 680 + 400, qPrintable(QString::number(establishing)));
    QVERIFY2(confirming >= 1440 && confirming < 1450 + 400, qPrintable(QString::number(confirming)));
    QVERIFY(log.timeOf("lit/-1") >= 2300);
}

void ConnectionControllerTest::failedStartShowsFaultAndRetries() {
    Rig rig;
    rig.script->steps["tokyo"] = {ConnectStep{0, "节点不可用", false}, ConnectStep{}};
    rig.connectTo("tokyo", "东京");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("节点不可用"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("未能抵达 东京"));
    QCOMPARE(rig.c().property("busy").toBool(), false);

    rig.c().retry();
    QCOMPARE(rig.c().visualState(), QStringLiteral("igniting"));
    QCOMPARE(rig.c().errorMessage(), QString());
    QCOMPARE(rig.c().connectionAttemptSerial(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.c().retry();  // only in Fault
    QCOMPARE(rig.c().visualState(), QStringLiteral("lit"));
}

void ConnectionControllerTest::failureWithoutTextUsesDefault() {
    Rig rig;
    rig.script->steps["tokyo"] = {ConnectStep{0, {}, true}};
    rig.connectTo("tokyo", "东京");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("目标节点没有在预期时间内回应。请重试或选择其他线路。"));

    // Selecting a route in Fault starts at once.
    rig.script->steps["osaka"] = {ConnectStep{}};
    rig.c().selectRoute("osaka", "日本", "大阪", 20);
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在寻找 大阪"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().routeId(), QStringLiteral("osaka"));
}

void ConnectionControllerTest::declinedServiceLaunchShowsItsText() {
    Rig rig(false);
    rig.connectTo("tokyo", "东京");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 5000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("需要管理员权限才能建立连接。已取消。"));
}

// A cancelled attempt's answer arrives after the next attempt has begun; it must not be
// taken as the next attempt's answer.
void ConnectionControllerTest::cancelDropsTheLateAnswer() {
    Rig rig;
    rig.script->steps["tokyo"] = {ConnectStep{800, {}, false}, ConnectStep{300, "第二次失败", false}};
    StateLog log(rig.c());
    rig.connectTo("tokyo", "东京");
    QTest::qWait(100);
    rig.c().primaryAction();  // cancel
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("尚未连接"));
    rig.c().primaryAction();  // and start again at once
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 5000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("第二次失败"));
    QVERIFY(!log.entries.contains("lit/-1"));
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), QStringLiteral("{\"op\":\"disconnect\"}"),
                                          connectRequest("tokyo")}));
}

void ConnectionControllerTest::disconnectAndElapsedCounter() {
    Rig rig;
    QSignalSpy elapsed(rig.controller.get(), &ConnectionController::elapsedChanged);
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().elapsedText() >= QStringLiteral("00:00:02"), 3500);
    QVERIFY(elapsed.count() >= 3);

    QSignalSpy readyToQuit(rig.controller.get(), &ConnectionController::readyToQuit);
    rig.c().primaryAction();
    QCOMPARE(rig.c().visualState(), QStringLiteral("extinguishing"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在断开"));
    QCOMPARE(rig.c().property("busy").toBool(), true);
    rig.c().primaryAction();  // nothing while extinguishing
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 3000);
    QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));
    QCOMPARE(readyToQuit.count(), 0);
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), QStringLiteral("{\"op\":\"disconnect\"}")}));
}

void ConnectionControllerTest::disconnectIfActiveWhileSeeking() {
    Rig rig;
    rig.script->steps["tokyo"] = {ConnectStep{600, {}, false}};
    StateLog log(rig.c());
    rig.connectTo("tokyo", "东京");
    rig.c().disconnectIfActive();
    QCOMPARE(rig.c().visualState(), QStringLiteral("extinguishing"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 3000);
    QTest::qWait(900);  // the late answer and the stage timers change nothing
    QCOMPARE(log.entries, QStringList({"igniting/0", "extinguishing/-1", "off/-1"}));
    rig.c().disconnectIfActive();  // nothing in Off
    QCOMPARE(rig.requests().size(), 2);
}

void ConnectionControllerTest::clearRouteKeepsLiveTunnel() {
    Rig rig;
    rig.connectTo("tokyo", "东京", 33);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QSignalSpy route(rig.controller.get(), &ConnectionController::routeChanged);
    rig.c().clearRoute();
    QCOMPARE(route.count(), 1);
    QCOMPARE(rig.c().routeId(), QString());
    QCOMPARE(rig.c().visualState(), QStringLiteral("lit"));
    QCOMPARE(rig.c().latency(), 33);
    rig.c().routeLatencyMeasured("tokyo", 51);  // still the tunnel's figure
    QCOMPARE(rig.c().latency(), 51);

    rig.c().primaryAction();
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 3000);
    rig.c().clearRoute();
    QCOMPARE(rig.c().latency(), 0);
    rig.c().primaryAction();  // no route: nothing starts
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
}

void ConnectionControllerTest::adoptsRunningTunnel() {
    Rig rig(true, true);
    QSignalSpy notice(rig.controller.get(), &ConnectionController::transientNoticeChanged);
    // The route is selected before the event loop runs the status query.
    rig.c().selectRoute("tokyo", "日本", "东京", 25);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().transientNotice(), QStringLiteral("已恢复当前隧道"));
    QCOMPARE(notice.count(), 1);
    QCOMPARE(rig.c().latency(), 25);
    QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));
    QVERIFY(rig.requests().isEmpty());

    // Disconnecting the adopted tunnel works like any other.
    rig.c().setSessionAllowed(true);
    rig.c().primaryAction();
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("off"), 3000);
}

void ConnectionControllerTest::ignoresRunningTunnelWithoutRoute() {
    Rig rig(true, true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.service->requests().size(), size_t{1}, 3000);  // the status query
    QTest::qWait(300);
    rig.c().selectRoute("tokyo", "日本", "东京", 25);
    QTest::qWait(300);
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QCOMPARE(rig.service->requests().size(), size_t{1});  // not asked again
}

void ConnectionControllerTest::quitWhileConnected() {
    Rig rig;
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QSignalSpy readyToQuit(rig.controller.get(), &ConnectionController::readyToQuit);
    rig.c().shutdownForQuit();
    QCOMPARE(rig.c().visualState(), QStringLiteral("extinguishing"));
    QTRY_COMPARE_WITH_TIMEOUT(readyToQuit.count(), 1, 3000);
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QCOMPARE(rig.requests().last(), QStringLiteral("{\"op\":\"shutdown\"}"));
}

// Idle and without any service the quit still ends in readyToQuit, well inside the tray's
// 1200 ms fallback.
void ConnectionControllerTest::quitWhileIdleWithoutService() {
    Rig rig(false);
    QSignalSpy readyToQuit(rig.controller.get(), &ConnectionController::readyToQuit);
    QElapsedTimer clock;
    clock.start();
    rig.c().shutdownForQuit();
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QTRY_COMPARE_WITH_TIMEOUT(readyToQuit.count(), 1, 1200);
    QVERIFY(clock.elapsed() < 1200);

    Rig served;
    QSignalSpy servedQuit(served.controller.get(), &ConnectionController::readyToQuit);
    served.c().shutdownForQuit();
    QTRY_COMPARE_WITH_TIMEOUT(servedQuit.count(), 1, 3000);
    QCOMPARE(served.requests(), QStringList({QStringLiteral("{\"op\":\"shutdown\"}")}));
}

// Off or Fault does not mean the service has no tunnel: one left by an earlier client (its
// status answered before any route was selected) stays up through an attempt that fails
// before touching it. Log out and quit must stop it; with no tunnel log out sends nothing.
void ConnectionControllerTest::logoutAndQuitStopATunnelLeftUp_data() {
    QTest::addColumn<bool>("tunnelAtStart");
    QTest::addColumn<bool>("attempt");  // a connect that fails before the tunnel is touched
    QTest::addColumn<bool>("quit");     // else log out
    QTest::addColumn<QString>("stopRequest");  // empty: none
    QTest::addColumn<QString>("finalState");
    const QString disconnect = QStringLiteral("{\"op\":\"disconnect\"}");
    const QString shutdown = QStringLiteral("{\"op\":\"shutdown\"}");
    QTest::newRow("log out in Off") << true << false << false << disconnect << "off";
    QTest::newRow("log out in Fault") << true << true << false << disconnect << "off";
    QTest::newRow("quit in Fault") << true << true << true << shutdown << "off";
    QTest::newRow("log out in Fault, no tunnel") << false << true << false << QString() << "fault";
}

void ConnectionControllerTest::logoutAndQuitStopATunnelLeftUp() {
    QFETCH(bool, tunnelAtStart);
    QFETCH(bool, attempt);
    QFETCH(bool, quit);
    QFETCH(QString, stopRequest);
    QFETCH(QString, finalState);
    Rig rig(true, tunnelAtStart);
    QSignalSpy status(rig.c().findChild<EngineBridge*>(), &EngineBridge::alreadyRunning);
    QSignalSpy readyToQuit(rig.controller.get(), &ConnectionController::readyToQuit);
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), tunnelAtStart ? 1 : 0, 3000);
    QStringList expected;
    if (attempt) {
        rig.script->steps["tokyo"] = {ConnectStep{0, "无法读取节点列表", false, true}};
        rig.connectTo("tokyo", "东京");
        QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
        QCOMPARE(rig.c().errorMessage(), QStringLiteral("无法读取节点列表"));
        expected.append(connectRequest("tokyo"));
    }
    if (quit) {
        rig.c().shutdownForQuit();
        QTRY_COMPARE_WITH_TIMEOUT(readyToQuit.count(), 1, 3000);
    } else {
        rig.c().disconnectIfActive();
    }
    if (!stopRequest.isEmpty()) expected.append(stopRequest);
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), finalState, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests(), expected, 3000);
    QTest::qWait(100);
    QCOMPARE(rig.requests(), expected);
    QVERIFY(!rig.script->tunnelUp());
}

void ConnectionControllerTest::simulatedFailureEndsInFault() {
    Rig rig;
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.c().simulateFailure();
    QCOMPARE(rig.c().visualState(), QStringLiteral("igniting"));
    QCOMPARE(rig.c().switchingRoute(), false);
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3500);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("目标节点没有在预期时间内回应。请重试或选择其他线路。"));
}

QTEST_MAIN(ConnectionControllerTest)
#include "connection_controller_test.moc"
