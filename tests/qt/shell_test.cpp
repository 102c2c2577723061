// The start-up's own logic: the account synchronisation (the controller's session and route
// follow the account) and the tray host.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <thread>
#include <QSignalSpy>
#include <QtTest>

#include "app/connection/connection_controller.h"
#include "app/engine/service_launcher.h"
#include "app/routes/route_list_model.h"
#include "app/shell/account_sync.h"
#include "app/shell/single_instance.h"
#include "app/tray/tray_host.h"
#include "service/ipc_message.h"
#include "tests/qt/account_fixture.h"
#include "tests/support/fake_service.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

using namespace account_test;
using namespace orvik_test::panel;

namespace {

std::unique_ptr<ConnectionController> controllerWithoutService(const orvik_test::TempDir& dir) {
    return std::make_unique<ConnectionController>(engine::EngineClientOptions{
        orvik_test::uniquePipeName(dir.path()), nullptr, std::make_shared<orvik_test::NoLauncher>(), nullptr, dir.path(), dir.path()});
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

    // The tray follows the connection, and the quit waits for the service's answer: at most
    // the long fallback while a tunnel is up, the short one otherwise; the menu grays as it goes.
    void trayFollowsTheConnectionAndQuitsOnce_data() {
        QTest::addColumn<bool>("connectFirst");
        QTest::addColumn<bool>("serviceAnswersShutdown");
        QTest::addColumn<bool>("quitByFallback");
        QTest::newRow("connected, the service stops") << true << true << false;
        QTest::newRow("connected, the service stays silent") << true << false << true;
        QTest::newRow("idle, the service stays silent") << false << false << true;
    }
    void trayFollowsTheConnectionAndQuitsOnce() {
        QFETCH(bool, connectFirst);
        QFETCH(bool, serviceAnswersShutdown);
        QFETCH(bool, quitByFallback);
        orvik_test::TempDir dir;
        const std::string pipe = orvik_test::uniquePipeName(dir.path());
        std::atomic<bool> release{false};  // a silent service holds the connection open until then
        std::atomic<bool> up{false};       // its tunnel, as a status tells it
        orvik_test::FakeService service{pipe, [&](const std::string& payload) {
            const std::string op = service::parseRequest(payload).op;
            if (op != "status") up = op == "connect";
            if (op == "shutdown" && !serviceAnswersShutdown) {
                for (int i = 0; i < 1000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return orvik_test::FakeReply::none();
            }
            auto reply = orvik_test::FakeReply::payload(service::buildReply(true, up, {}));
            reply.stopAfter = op == "shutdown";
            return reply;
        }};
        QVERIFY(service.start());
        ConnectionController controller(engine::EngineClientOptions{pipe, nullptr, std::make_shared<orvik_test::NoLauncher>(),
                                                                    nullptr, dir.path(), dir.path()});
        QElapsedTimer sinceQuit;
        qint64 quitAfter = -1;
        int quits = 0;
        bool ready = false, readyBeforeQuit = false;
        connect(&controller, &ConnectionController::readyToQuit, &controller, [&ready] { ready = true; });
        const int busyFallback = 1500, idleFallback = 200;
        TrayHost tray(&controller, TrayHost::Options{true, busyFallback, idleFallback, [&] {
                          ++quits;
                          quitAfter = sinceQuit.elapsed();
                          readyBeforeQuit = ready;
                          release = true;
                      }});
        QVERIFY(tray.trayIcon());
        // The menu is a QMenu on Linux; Windows builds a native one at each opening (tests/native).
        const bool qtMenu = tray.trayIcon()->contextMenu() != nullptr;
        const auto menu = [&tray] {
            QStringList items;
            for (QAction* action : tray.trayIcon()->contextMenu()->actions())
                if (!action->isSeparator()) items << action->text() + (action->isEnabled() ? "" : " (grayed)");
            return items;
        };
        controller.setSessionAllowed(true);
        controller.selectRoute(qs("jp-tokyo"), qs("日本"), qs("东京"), 30);
        if (connectFirst) {
            controller.primaryAction();
            QTRY_COMPARE_WITH_TIMEOUT(controller.visualState(), qs("lit"), kWait);
            QCOMPARE(tray.trayIcon()->toolTip(), qs("Velora · 已连接 · 东京"));
            if (qtMenu) QCOMPARE(menu(), (QStringList{qs("显示窗口"), qs("结束连接"), qs("退出")}));
        }

        QSignalSpy quitting(&tray, &TrayHost::quittingChanged);
        sinceQuit.start();
        tray.requestQuit();
        tray.requestQuit();
        QCOMPARE(quitting.count(), 1);
        if (qtMenu)
            QCOMPARE(menu().mid(1), (QStringList{menu().at(1).section(' ', 0, 0) + " (grayed)", qs("退出 (grayed)")}));
        QTRY_COMPARE_WITH_TIMEOUT(quits, 1, busyFallback + kWait);
        QCOMPARE(readyBeforeQuit, !quitByFallback);
        const int fallback = connectFirst ? busyFallback : idleFallback;
        if (quitByFallback)
            QVERIFY2(quitAfter >= fallback - 50 && quitAfter < fallback + 1000, qPrintable(QString::number(quitAfter)));
        else QVERIFY2(quitAfter < fallback, qPrintable(QString::number(quitAfter)));
        QTest::qWait(idleFallback + 100);
        QCOMPARE(quits, 1);
        QVERIFY(!tray.trayIcon()->isVisible());
    }

    // With a tray a close hides the window and a click on the icon toggles it, while a
    // double-click (a click, then the double-click) only ever shows it: no flicker on the way.
    // Without a tray the close goes through.
    void closeHidesOnlyWhileATrayShows() {
        for (const bool available : {true, false}) {
            orvik_test::TempDir dir;
            auto controller = controllerWithoutService(dir);
            TrayHost tray(controller.get(), TrayHost::Options{available, 8000, 1200, [] {}});
            QWindow window;
            tray.attachWindow(&window);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close() != available);
            QCOMPARE(window.isVisible(), false);
            if (!available) {
                QVERIFY(!tray.trayIcon());
                continue;
            }
            QSignalSpy shownOrHidden(&window, &QWindow::visibleChanged);
            for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick})
                emit tray.trayIcon()->activated(reason);  // two double-clicks: hidden, then shown
            QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100);
            QVERIFY(window.isVisible() && shownOrHidden.count() == 1);
            window.showMinimized();
            emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
            QTRY_COMPARE(window.visibility(), QWindow::Windowed);
            emit tray.trayIcon()->activated(QSystemTrayIcon::Trigger);
            QTRY_VERIFY(!window.isVisible());
        }
    }

#ifndef _WIN32
    // The lock and socket go only to a folder of the user's own: the runtime folder when it is
    // theirs and closed, else one made 0700 in the cache or home, never the shared temporary
    // folder; with no folder of one's own the start fails, saying so.
    void singleInstanceKeepsToTheUsersOwnFolder() {
        if (::geteuid() != 0) QSKIP("other users' folders need root");
        orvik_test::TempDir home;
        const orvik_test::ScopedEnvironment homeVariable{"HOME", home.path()};
        const orvik_test::ScopedEnvironment cacheVariable{"XDG_CACHE_HOME", std::nullopt};
        const orvik_test::ScopedEnvironment tmp{"TMPDIR", home.file("tmp")};
        home.write("tmp/runtime-root/keep", "");  // Qt's fallback runtime folder, taken by another user
        QVERIFY(::chown(home.file("tmp/runtime-root").c_str(), 65534, 65534) == 0);
        QVERIFY(::chmod(home.file("tmp").c_str(), 01777) == 0);  // shared, like /tmp
        const QString cache = QString::fromStdString(home.file(".cache/orvik-tessel"));
        const std::pair<std::optional<std::string>, QString> cases[] = {
            {std::nullopt, cache}, {home.file("tmp"), cache},  // then the cache's folder another user's:
            {home.file(".cache/orvik-tessel"), QString::fromStdString(home.file(".orvik-tessel"))}};
        for (const auto& [runtime, folder] : cases) {
            const orvik_test::ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime};
            if (runtime && *runtime == cache.toStdString()) QVERIFY(::chown(runtime->c_str(), 65534, 65534) == 0);
            SingleInstance instance;
            QCOMPARE(instance.acquire(), SingleInstance::Claim::first);
            QCOMPARE(instance.lockPath(), folder + QStringLiteral("/orvik-tessel.lock"));
            QVERIFY(QFileInfo(instance.serverName()).exists());
            struct stat info {};
            QVERIFY(::lstat(folder.toLocal8Bit().constData(), &info) == 0);
            QVERIFY(S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 07777) == 0700);
            QCOMPARE(QDir(QString::fromStdString(home.file("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList{QStringLiteral("runtime-root")});
        }
        const orvik_test::ScopedEnvironment noHome{"HOME", home.file("gone/home")};
        const orvik_test::ScopedEnvironment noRuntime{"XDG_RUNTIME_DIR", std::nullopt};
        SingleInstance homeless;
        QCOMPARE(homeless.acquire(), SingleInstance::Claim::failed);
        QVERIFY2(homeless.error().contains(QString::fromStdString(home.file("gone/home/.cache/orvik-tessel"))),
                 qPrintable(homeless.error()));
    }
#endif
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
