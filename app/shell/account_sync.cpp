#include "app/shell/account_sync.h"

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"

void syncAccount(const AccountController& account, ConnectionController& controller, RouteListModel& routes) {
    controller.setSessionAllowed(account.loggedIn());
    if (!account.loggedIn() || account.nodeNames().isEmpty()) {
        routes.clear();
        controller.clearRoute();
        return;
    }
    const QString previous = controller.routeId();
    routes.setNodes(account.nodeNames());
    routes.setEndpoints(account.nodeEndpoints());
    const QVariantMap route = routes.get(qMax(0, routes.visibleIndexOf(previous)));
    if (route.isEmpty()) {  // every name was blank
        controller.clearRoute();
        return;
    }
    controller.selectRoute(route.value(QStringLiteral("routeId")).toString(), route.value(QStringLiteral("country")).toString(),
                           route.value(QStringLiteral("city")).toString(), route.value(QStringLiteral("latency")).toInt());
}

void followPreferences(Preferences& preferences, ConnectionController& controller) {
    const auto apply = [&preferences, &controller] {
        controller.setConnectPreferences(preferences.killSwitch(), preferences.allowLan());
    };
    QObject::connect(&preferences, &Preferences::protectionChanged, &controller, apply);
    apply();
}

void followAccount(AccountController& account, ConnectionController& controller, RouteListModel& routes) {
    QObject::connect(&account, &AccountController::accountChanged, &controller,
                     [&account, &controller, &routes] { syncAccount(account, controller, routes); });
    syncAccount(account, controller, routes);
}
