#pragma once
// The six application objects as the main window's initial properties, by their names there.

#include <QVariantMap>

class AccountController;
class ConnectionController;
class Preferences;
class RouteListModel;
class TrayHost;
class UpdateController;

QVariantMap windowProperties(RouteListModel& routes, ConnectionController& controller, AccountController& account,
                             Preferences& preferences, TrayHost& tray, UpdateController& updater);
