#include "app/shell/window_properties.h"

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"
#include "app/tray/tray_host.h"
#include "app/updates/update_controller.h"

QVariantMap windowProperties(RouteListModel& routes, ConnectionController& controller, AccountController& account,
                             Preferences& preferences, TrayHost& tray, UpdateController& updater) {
    return {{QStringLiteral("routeModel"), QVariant::fromValue(&routes)},
            {QStringLiteral("controller"), QVariant::fromValue(&controller)},
            {QStringLiteral("account"), QVariant::fromValue(&account)},
            {QStringLiteral("preferences"), QVariant::fromValue(&preferences)},
            {QStringLiteral("tray"), QVariant::fromValue(&tray)},
            {QStringLiteral("updater"), QVariant::fromValue(&updater)}};
}
