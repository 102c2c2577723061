#include "app/shell/client_start.h"

#include <QApplication>
#include <QIcon>
#include <QLocalSocket>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>

#include <cstdio>

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/native/raise_window.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"
#include "app/shell/account_sync.h"
#include "app/shell/qml_warnings_log.h"
#include "app/shell/single_instance.h"
#include "app/shell/window_properties.h"
#include "app/tray/tray_host.h"
#include "app/updates/update_controller.h"

namespace {

void loadMainWindow(QQmlApplicationEngine& engine, const QUrl& root) {
    if (!root.isEmpty()) return engine.load(root);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule("Orvik.Tessel", "Main");
#else
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvik/Tessel/Main.qml")));
#endif
}

}  // namespace

int runClient(int argc, char** argv, const QUrl& root) {
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Tessel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Velora"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/brand/orvik.ico")));

    SingleInstance instance;
    const SingleInstance::Claim claim = instance.acquire();
    if (claim == SingleInstance::Claim::failed) {
        std::fprintf(stderr, "%s\n", instance.error().toLocal8Bit().constData());
        return 1;
    }
    if (claim == SingleInstance::Claim::second) {
        instance.knock();  // the first client comes forward, whether or not it answers in time
        desktop::raiseWindowTitled("Velora");
        return 0;
    }
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    RouteListModel routes;
    ConnectionController controller;
    AccountController account;
    controller.setAccount(&account);
    Preferences preferences;
    TrayHost tray(&controller);
    UpdateController updater;
    followAccount(account, controller, routes);
    followPreferences(preferences, controller);

    int result = 0;
    {
        QQmlApplicationEngine engine;
        engine.setInitialProperties(windowProperties(routes, controller, account, preferences, tray, updater));
        QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                         [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
        QObject::connect(&engine, &QQmlEngine::warnings, [](const QList<QQmlError>& warnings) {
            appendQmlWarnings(warnings);
        });
        loadMainWindow(engine, root);
        if (!engine.rootObjects().isEmpty()) tray.attachWindow(qobject_cast<QQuickWindow*>(engine.rootObjects().first()));
        // Anyone of this user knocking brings the window forward; what they send is not read.
        QObject::connect(instance.server(), &QLocalServer::newConnection, &tray, [&instance, &tray] {
            if (QLocalSocket* socket = instance.server()->nextPendingConnection()) socket->deleteLater();
            tray.showWindow();
        });
        result = QApplication::exec();
        controller.setAccount(nullptr);  // a device check in flight ends before the account goes
    }
    return result;
}
