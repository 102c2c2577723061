#pragma once
// Keeps the connection controller and the route list in step with the account: a session is
// allowed only while signed in, the routes are the account's nodes, and the chosen route stays
// chosen while the account still has it (otherwise the first listed route is chosen).

class AccountController;
class ConnectionController;
class Preferences;
class RouteListModel;

void syncAccount(const AccountController& account, ConnectionController& controller, RouteListModel& routes);

// Runs syncAccount now and on every change of the account.
void followAccount(AccountController& account, ConnectionController& controller, RouteListModel& routes);

// The leak protection choices reach the controller now and on every change; the next connect
// carries them.
void followPreferences(Preferences& preferences, ConnectionController& controller);
