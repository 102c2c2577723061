// Route switches of the connection controller (the previous route is reconnected for real
// when the new one fails after the service stopped it, or is cancelled; it stays when the
// service never touched it), measured latency and the device check before an attempt,
// against a scripted stand-in service and real account controllers.
#include <QMap>
#include <QObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/account/account_controller.h"
#include "tests/qt/connection_rig.h"
#include "vpn/local_control_plane.h"

using connection_rig::connectRequest;
using connection_rig::ConnectStep;
using connection_rig::Rig;
using connection_rig::StateLog;

namespace {

// A signed-in back end whose device claim can be told to fail.
class DeviceSlotPlane final : public vpn::ControlPlane {
public:
    explicit DeviceSlotPlane(std::shared_ptr<std::atomic<int>> failures) : failures_(std::move(failures)) {}

    bool login(const std::string&, const std::string&, std::string&) override { return true; }
    bool fetchAccount(vpn::AccountRecord& account, std::string&) override {
        account.signedIn = true;
        account.hasPlan = true;
        account.email = "user@example.com";
        account.expiresAt = "2999-12-31";
        account.deviceLimit = 5;
        account.nodes.push_back(vpn::NodeRecord{"tokyo", "198.18.0.10", 443, "id", "", "", "", "", ""});
        return true;
    }
    void logout() override {}
    bool fetchRegisterOptions(vpn::RegisterOptions&, std::string&) override { return true; }
    bool sendRegisterEmail(const std::string&, std::string&) override { return true; }
    bool registerAccount(const std::string&, const std::string&, const std::string&, const std::string&,
                         std::string&) override {
        return true;
    }
    bool fetchPlans(std::vector<vpn::PlanOffer>&, std::string&) override { return true; }
    bool buyPlan(int32_t, const std::string&, vpn::CheckoutResult&, std::string&) override { return false; }
    bool checkOrder(const std::string&, bool& paid, std::string&) override {
        paid = false;
        return true;
    }
    bool claimDevice(const std::string&, int32_t& used, int32_t& limit, std::string& error) override {
        switch (failures_->load()) {
        case 0:
            used = 2;
            limit = 5;
            return true;
        case 1: error = "Login expired, please sign in again"; return false;
        case 3:  // a slow claim that marks its end
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            failures_->store(4);
            return true;
        default: return false;  // no text
        }
    }

private:
    std::shared_ptr<std::atomic<int>> failures_;
};

AccountController::Options accountOptions(const orvik_test::TempDir& dir) {
    AccountController::Options options;
    options.settingsFile = QString::fromStdString(dir.file("settings.ini"));
    QSettings settings(options.settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("account/interactiveLogin"), true);
    settings.sync();
    return options;
}

}  // namespace

class ConnectionSwitchTest : public QObject {
    Q_OBJECT

private slots:
    void switchReachesNewRoute();
    void failedSwitchRestoresPreviousRoute();
    void switchFailingBeforeTunnelKeepsIt_data();
    void switchFailingBeforeTunnelKeepsIt();
    void failedRestoreShowsFault();
    void cancelledSwitchRestoresPreviousRoute();
    void cancelledRestoreGoesOff();
    void latencyFollowsMeasurements();
    void deviceCheckOnLocalAccount();
    void refusedDeviceShowsAccountText();
    void refusedDeviceDuringSwitchKeepsTunnel();
    void accountOutlivesItsDeviceCheck();
};

void ConnectionSwitchTest::switchReachesNewRoute() {
    Rig rig;
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.script->steps["osaka"] = {ConnectStep{300, {}, false}};
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在转向 大阪"));
    QCOMPARE(rig.c().switchingRoute(), true);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().routeId(), QStringLiteral("osaka"));
    QCOMPARE(rig.c().latency(), 18);
    QCOMPARE(rig.c().transientNotice(), QString());
    QCOMPARE(rig.c().switchingRoute(), false);
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), connectRequest("osaka")}));
}

void ConnectionSwitchTest::failedSwitchRestoresPreviousRoute() {
    Rig rig;
    rig.connectTo("tokyo", "东京", 30);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.script->steps["osaka"] = {ConnectStep{100, "节点不可用", false}};
    rig.script->steps["tokyo"] = {ConnectStep{}, ConnectStep{400, {}, false}};
    StateLog log(rig.c());
    rig.c().selectRoute("osaka", "日本", "大阪", 18);

    // The failed switch reconnects the previous route; Lit only once that is up.
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().routeId(), QStringLiteral("tokyo"), 3000);
    QCOMPARE(rig.c().visualState(), QStringLiteral("igniting"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在转向 东京"));
    QCOMPARE(rig.c().latency(), 30);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(log.entries.filter("fault").size(), 0);
    QCOMPARE(rig.c().city(), QStringLiteral("东京"));
    QCOMPARE(rig.c().transientNotice(), QStringLiteral("新线路未能连接，已恢复 东京"));
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), connectRequest("osaka"), connectRequest("tokyo")}));

    // The notice goes after 3200 ms.
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().transientNotice(), QString(), 4500);
    QVERIFY2(clock.elapsed() > 2500, qPrintable(QString::number(clock.elapsed())));
}

// The service refused the new route before it touched its tunnel (account fetch, address,
// gateway, configuration): the tunnel it still has stays shown, with no reconnect.
void ConnectionSwitchTest::switchFailingBeforeTunnelKeepsIt_data() {
    QTest::addColumn<QStringList>("hops");  // routes selected one after another; the last fails
    QTest::addColumn<QString>("shownCity");
    QTest::newRow("previous route still up") << QStringList{"osaka"} << QStringLiteral("东京");
    QTest::newRow("superseded switch got through") << QStringList{"osaka", "kyoto"} << QStringLiteral("大阪");
}

void ConnectionSwitchTest::switchFailingBeforeTunnelKeepsIt() {
    QFETCH(QStringList, hops);
    QFETCH(QString, shownCity);
    const QMap<QString, QString> cities{{"tokyo", "东京"}, {"osaka", "大阪"}, {"kyoto", "京都"}};
    Rig rig;
    rig.connectTo("tokyo", "东京", 30);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QStringList expected{connectRequest("tokyo")};
    for (const QString& hop : hops) {
        const bool last = hop == hops.last();
        rig.script->steps[hop.toStdString()] = {last ? ConnectStep{100, "无法读取节点列表", false, true}
                                                     : ConnectStep{300, {}, false}};
        expected.append(connectRequest(hop));
    }
    StateLog log(rig.c());
    for (const QString& hop : hops) rig.c().selectRoute(hop, "日本", cities.value(hop), 18);

    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(log.entries.filter("fault").size(), 0);
    QCOMPARE(rig.c().city(), shownCity);
    QCOMPARE(rig.c().routeId(), cities.key(shownCity));
    QCOMPARE(rig.c().transientNotice(), QStringLiteral("无法读取节点列表"));
    QCOMPARE(rig.c().errorMessage(), QString());
    QTest::qWait(200);
    QCOMPARE(rig.requests(), expected);  // neither a reconnect nor a disconnect
    QVERIFY(rig.script->tunnelUp());
}

void ConnectionSwitchTest::failedRestoreShowsFault() {
    Rig rig;
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.script->steps["osaka"] = {ConnectStep{0, "节点不可用", false}};
    rig.script->steps["tokyo"] = {ConnectStep{}, ConnectStep{0, "旧线路也断了", false}, ConnectStep{}};
    StateLog log(rig.c());
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QVERIFY(!log.entries.contains("lit/-1"));
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("旧线路也断了"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("未能抵达 东京"));
    QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));

    // Nothing is live any more: retrying is a plain start, not a switch.
    rig.c().retry();
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在寻找 东京"));
    QCOMPARE(rig.c().switchingRoute(), false);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
}

void ConnectionSwitchTest::cancelledSwitchRestoresPreviousRoute() {
    Rig rig;
    rig.connectTo("tokyo", "东京", 30);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().elapsedText() >= QStringLiteral("00:00:01"), 2500);
    rig.script->steps["osaka"] = {ConnectStep{600, {}, false}};
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    QTest::qWait(50);
    rig.c().primaryAction();  // cancel the switch
    QCOMPARE(rig.c().visualState(), QStringLiteral("igniting"));
    QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
    QCOMPARE(rig.c().statusTitle(), QStringLiteral("正在转向 东京"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QTest::qWait(300);  // the cancelled answer arrived first and was dropped
    QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
    QCOMPARE(rig.c().transientNotice(), QString());
    QVERIFY(rig.c().elapsedText() >= QStringLiteral("00:00:01"));  // the counter carries on
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo"), connectRequest("osaka"), connectRequest("tokyo")}));
}

void ConnectionSwitchTest::cancelledRestoreGoesOff() {
    Rig rig;
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.script->steps["osaka"] = {ConnectStep{300, {}, false}};
    rig.script->steps["tokyo"] = {ConnectStep{}, ConnectStep{0, "旧线路也断了", false}, ConnectStep{}};
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    rig.c().primaryAction();  // cancel the switch: restoring
    rig.c().primaryAction();  // cancel the restore as well: nothing stays up
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QTest::qWait(700);
    QCOMPARE(rig.c().visualState(), QStringLiteral("off"));
    QCOMPARE(rig.c().elapsedText(), QStringLiteral("00:00:00"));
    QCOMPARE(rig.requests().last(), QStringLiteral("{\"op\":\"disconnect\"}"));

    // A failing restore after a cancelled switch ends in Fault.
    rig.c().primaryAction();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    rig.script->steps["tokyo"] = {ConnectStep{0, "旧线路也断了", false}};
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    rig.c().primaryAction();
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("旧线路也断了"));
}

void ConnectionSwitchTest::latencyFollowsMeasurements() {
    Rig rig;
    QSignalSpy latency(rig.controller.get(), &ConnectionController::latencyChanged);
    rig.c().selectRoute("tokyo", "日本", "东京", 30);
    latency.clear();
    rig.c().routeLatencyMeasured("tokyo", 41);
    QCOMPARE(rig.c().latency(), 41);
    QCOMPARE(latency.count(), 1);
    rig.c().routeLatencyMeasured("tokyo", -1);  // no answer: the last good figure stays
    rig.c().routeLatencyMeasured("osaka", 12);  // another route
    rig.c().routeLatencyMeasured("tokyo", 41);  // unchanged
    QCOMPARE(rig.c().latency(), 41);
    QCOMPARE(latency.count(), 1);

    rig.c().setSessionAllowed(true);
    rig.c().primaryAction();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().latency(), 41);  // the latest measurement, not the figure given at selection
    QTest::qWait(1800);
    QCOMPARE(rig.c().latency(), 41);  // nothing made up while connected
    rig.c().routeLatencyMeasured("tokyo", 44);
    QCOMPARE(rig.c().latency(), 44);

    // During a switch the figure belongs to the route being reached; the live route's
    // measurements are kept for its restore.
    rig.script->steps["osaka"] = {ConnectStep{400, "节点不可用", false}};
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    rig.c().routeLatencyMeasured("tokyo", 47);
    QCOMPARE(rig.c().latency(), 18);
    rig.c().routeLatencyMeasured("osaka", 19);
    QCOMPARE(rig.c().latency(), 19);
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
    QCOMPARE(rig.c().latency(), 47);
}

void ConnectionSwitchTest::deviceCheckOnLocalAccount() {
    Rig rig;
    rig.dir.write("account.json",
                  "{\"email\":\"user@example.com\",\"password\":\"s3cret\",\"expireAt\":\"2999-12-31\","
                  "\"deviceLimit\":3,\"nodeName\":\"tokyo\",\"address\":\"198.18.0.10\",\"port\":443,"
                  "\"uuid\":\"0b1c2d3e-0000-4000-8000-000000000001\",\"sni\":\"\",\"publicKey\":\"PBK\","
                  "\"shortId\":\"ab12\"}\n");
    rig.dir.write("session.json", "{\"email\":\"user@example.com\",\"expireAt\":\"2999-12-31\"}\n");
    AccountController account(std::make_unique<vpn::LocalControlPlane>(rig.dir.file("account.json"),
                                                                       rig.dir.file("session.json")),
                              accountOptions(rig.dir));
    QTRY_VERIFY_WITH_TIMEOUT(account.loggedIn(), 5000);
    QCOMPARE(account.deviceLimit(), 3);
    rig.c().setAccount(&account);
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(account.deviceLimit(), 1);  // the slot claim's figures were applied
    QCOMPARE(account.usedDevices(), 1);
    QCOMPARE(account.errorMessage(), QString());
}

void ConnectionSwitchTest::refusedDeviceShowsAccountText() {
    Rig rig;
    auto failures = std::make_shared<std::atomic<int>>(1);
    AccountController account(std::make_unique<DeviceSlotPlane>(failures), accountOptions(rig.dir));
    QTRY_VERIFY_WITH_TIMEOUT(account.loggedIn(), 5000);
    rig.c().setAccount(&account);
    rig.connectTo("tokyo", "东京");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("登录已过期，请退出后重新登录"));
    QCOMPARE(account.errorMessage(), QStringLiteral("登录已过期，请退出后重新登录"));

    failures->store(2);
    rig.c().retry();
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().visualState(), QStringLiteral("fault"), 3000);
    QCOMPARE(rig.c().errorMessage(), QStringLiteral("这台电脑未能占用设备位。"));
    QCOMPARE(rig.requests(), QStringList());  // the service was never asked

    failures->store(0);
    rig.c().retry();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(account.usedDevices(), 2);
}

// A refused device slot stops a switch before the service is asked: the live tunnel is
// untouched and stays shown as connected.
void ConnectionSwitchTest::refusedDeviceDuringSwitchKeepsTunnel() {
    Rig rig;
    auto failures = std::make_shared<std::atomic<int>>(0);
    AccountController account(std::make_unique<DeviceSlotPlane>(failures), accountOptions(rig.dir));
    QTRY_VERIFY_WITH_TIMEOUT(account.loggedIn(), 5000);
    rig.c().setAccount(&account);
    rig.connectTo("tokyo", "东京");
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    failures->store(1);
    rig.c().selectRoute("osaka", "日本", "大阪", 18);
    QCOMPARE(rig.c().visualState(), QStringLiteral("igniting"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().connected(), 3000);
    QCOMPARE(rig.c().routeId(), QStringLiteral("tokyo"));
    QCOMPARE(rig.c().transientNotice(), QStringLiteral("登录已过期，请退出后重新登录"));
    QCOMPARE(rig.requests(), QStringList({connectRequest("tokyo")}));
}

// The check runs on its own thread with the account: taking the account away (main does
// so before destroying it) waits for a check in progress instead of leaving it a dangling
// account.
void ConnectionSwitchTest::accountOutlivesItsDeviceCheck() {
    Rig rig;
    auto failures = std::make_shared<std::atomic<int>>(0);
    {
        AccountController account(std::make_unique<DeviceSlotPlane>(failures), accountOptions(rig.dir));
        QTRY_VERIFY_WITH_TIMEOUT(account.loggedIn(), 5000);
        rig.c().setAccount(&account);
        failures->store(3);
        rig.connectTo("tokyo", "东京");
        QTRY_VERIFY_WITH_TIMEOUT(failures->load() == 3, 1000);
        rig.c().setAccount(nullptr);
        QCOMPARE(failures->load(), 4);  // the claim had ended before the account was let go
    }
    // The finished check reaches the controller after the account is gone: it is ignored.
    QTest::qWait(50);
    QCOMPARE(rig.requests(), QStringList());
}

QTEST_MAIN(ConnectionSwitchTest)
#include "connection_switch_test.moc"
