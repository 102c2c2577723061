// The start-up's own logic: the tray host, closing to the tray and the single instance.
#include <sys/stat.h>
#include <unistd.h>

#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QWindow>

#include <QSignalSpy>
#include <QtTest>

#include "app/connection/connection_controller.h"
#include "app/engine/service_launcher.h"
#include "app/shell/single_instance.h"
#include "app/tray/tray_host.h"
#include "tests/qt/account_fixture.h"
#include "tests/support/environment.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

using namespace account_test;

namespace {

std::unique_ptr<ConnectionController> controllerWithoutService(const orvik_test::TempDir& dir) {
    return std::make_unique<ConnectionController>(engine::EngineClientOptions{
        orvik_test::uniquePipeName(dir.path()), nullptr, std::make_shared<orvik_test::NoLauncher>(), nullptr, dir.path(), dir.path()});
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:

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
