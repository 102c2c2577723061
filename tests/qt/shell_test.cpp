// The start-up's own logic: the account synchronisation (the controller's session and route
// follow the account) and the tray host's quit.
#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest>

#include "app/connection/connection_controller.h"
#include "app/engine/service_launcher.h"
#include "app/routes/route_list_model.h"
#include "app/shell/account_sync.h"
#include "app/shell/single_instance.h"
#include "app/tray/tray_host.h"
#include "tests/qt/account_fixture.h"
#include "tests/support/service_client.h"

using namespace account_test;
using namespace orvik_test::panel;

namespace {

// No service runs and none may be started.
struct NoLauncher : engine::ServiceLauncher {
    Outcome launch(const engine::LaunchCommand&, unsigned long& code) override { return code = 1223, Outcome::declined; }
    Outcome poll(unsigned long&) override { return Outcome::declined; }
};

std::unique_ptr<ConnectionController> controllerWithoutService(const orvik_test::TempDir& dir) {
    return std::make_unique<ConnectionController>(engine::EngineClientOptions{
        orvik_test::uniquePipeName(dir.path()), nullptr, std::make_shared<NoLauncher>(), nullptr, dir.path(), dir.path()});
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:
    // The chosen route stays while the account still has it, else the first listed one is
    // chosen; signed out there are no routes and no route.
    void accountSyncKeepsOrReplacesTheRoute() {
        Member m(45, false, true);
        auto& [panel, world, account] = m;
        QVERIFY(account);
        const int port = panel.port();  // loopback nodes: the latency probe never leaves the machine
        const auto nodes = [&](std::vector<std::string> names) {
            std::vector<std::string> links;
            for (const std::string& name : names) links.push_back(vlessLink(name, "127.0.0.1", port));
            panel.on("GET", kSubscription, subscription(links));
        };
        auto controller = controllerWithoutService(world.dir);
        RouteListModel routes;
        followAccount(*account, *controller, routes);
        QVERIFY(!controller->sessionAllowed());
        QCOMPARE(routes.count(), 0);

        nodes({"日本·东京", "新加坡·新加坡"});
        QSignalSpy changed(account.get(), &AccountController::accountChanged);
        account->login(qs(orvik_test::FakePanel::kEmail), qs(orvik_test::FakePanel::kPassword));
        QTRY_VERIFY_WITH_TIMEOUT(account->loggedIn() && routes.count() == 2, kWait);
        QVERIFY(controller->sessionAllowed());
        QCOMPARE(controller->routeId(), qs("日本·东京"));

        controller->selectRoute(qs("新加坡·新加坡"), qs("新加坡"), qs("新加坡"), 0);
        for (const auto& [names, expected] : std::vector<std::pair<std::vector<std::string>, const char*>>{
                 {{"美国·洛杉矶", "新加坡·新加坡"}, "新加坡·新加坡"}, {{"美国·洛杉矶"}, "美国·洛杉矶"}}) {
            nodes(names);
            changed.clear();
            account->refresh();
            QVERIFY(changed.wait(kWait));
            QCOMPARE(controller->routeId(), qs(expected));
            QCOMPARE(routes.count(), int(names.size()));
        }
        account->logout();
        QTRY_VERIFY_WITH_TIMEOUT(!account->loggedIn(), kWait);
        QCOMPARE(routes.count(), 0);
        QVERIFY(controller->routeId().isEmpty());
        QVERIFY(!controller->sessionAllowed());
    }

    // The second start finds the lock taken and knocks; any knock reaches the first, whose
    // socket only its own user can open.
    void secondStartKnocksOnTheFirst() {
        orvik_test::TempDir dir;
        const QString directory = QString::fromStdString(dir.path());
        SingleInstance first(directory);
        QVERIFY(first.acquire());
        QSignalSpy knocked(first.server(), &QLocalServer::newConnection);
        SingleInstance second(directory);
        QVERIFY(!second.acquire());
        QVERIFY(second.knock());
        QVERIFY(knocked.count() == 1 || knocked.wait(kWait));
        QLocalSocket anyone;
        anyone.connectToServer(first.serverName());
        QVERIFY(anyone.waitForConnected(kWait));
        QVERIFY(knocked.wait(kWait));
        QCOMPARE(QFileInfo(first.serverName()).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    }

    // The quit completes once, on the service's answer or the fallback, whichever comes first,
    // and a second request changes nothing.
    void quitCompletesOnce() {
        orvik_test::TempDir dir;
        auto controller = controllerWithoutService(dir);
        int quits = 0;
        TrayHost tray(controller.get(), TrayHost::Options{true, 8000, 50, [&quits] { ++quits; }});
        QSignalSpy quitting(&tray, &TrayHost::quittingChanged);
        tray.requestQuit();
        tray.requestQuit();
        QCOMPARE(quitting.count(), 1);
        QVERIFY(tray.quitting());
        QTRY_COMPARE_WITH_TIMEOUT(quits, 1, 5000);
        QTest::qWait(100);
        QCOMPARE(quits, 1);
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
