#pragma once
// The application's objects as QML types of this module: QML may name them (the window's
// required properties) but never create them; main creates them and hands them over.

#include <QtQml/qqml.h>

#include "app/account/account_controller.h"
#include "app/connection/connection_controller.h"
#include "app/preferences/preferences.h"
#include "app/routes/route_list_model.h"
#include "app/tray/tray_host.h"
#include "app/updates/update_controller.h"

struct ConnectionControllerType {
    Q_GADGET
    QML_FOREIGN(ConnectionController)
    QML_NAMED_ELEMENT(ConnectionController)
    QML_UNCREATABLE("ConnectionController is provided by the application")
};

struct AccountControllerType {
    Q_GADGET
    QML_FOREIGN(AccountController)
    QML_NAMED_ELEMENT(AccountController)
    QML_UNCREATABLE("AccountController is provided by the application")
};

struct RouteListModelType {
    Q_GADGET
    QML_FOREIGN(RouteListModel)
    QML_NAMED_ELEMENT(RouteListModel)
    QML_UNCREATABLE("RouteListModel is provided by the application")
};

struct PreferencesType {
    Q_GADGET
    QML_FOREIGN(Preferences)
    QML_NAMED_ELEMENT(Preferences)
    QML_UNCREATABLE("Preferences is provided by the application")
};

struct TrayHostType {
    Q_GADGET
    QML_FOREIGN(TrayHost)
    QML_NAMED_ELEMENT(TrayHost)
    QML_UNCREATABLE("TrayHost is provided by the application")
};

struct UpdateControllerType {
    Q_GADGET
    QML_FOREIGN(UpdateController)
    QML_NAMED_ELEMENT(UpdateController)
    QML_UNCREATABLE("UpdateController is provided by the application")
};
