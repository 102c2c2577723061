#pragma once
// The connection controller's states and the words and texts that the window shows for
// each of them.

#include <QString>

enum class ConnectionState {
    Off = 0,
    Seeking = 1,
    Establishing = 2,
    Confirming = 3,
    Lit = 4,
    Extinguishing = 5,
    Fault = 6,
};

// A route as the controller keeps it: the route id (the node's name), its place names and
// the latest latency measured for it (milliseconds).
struct RouteValue {
    QString id;
    QString country;
    QString city;
    int baseLatency = 0;

    bool isSet() const { return !id.isEmpty(); }
};

// "off", "igniting", "lit", "extinguishing" or "fault".
QString visualStateWord(ConnectionState state);

// The title line; `city` is the selected route's city, `switching` whether the attempt
// replaces a live tunnel.
QString statusTitleText(ConnectionState state, const QString& city, bool switching);

// 0, 1, 2 for the three attempt stages, -1 otherwise.
int stageIndexOf(ConnectionState state);

// Seeking, Establishing, Confirming.
bool isAttemptState(ConnectionState state);

// "H:MM:SS" with every field at least two digits ("00:01:05"); hours may grow past 99.
QString elapsedClockText(int seconds);

// The default texts of a failed attempt.
QString deviceRefusedText();
QString noAnswerText();
QString restoredNoticeText(const QString& city);
QString adoptedNoticeText();
// The live tunnel is up again after the service recovered it; the tunnel is gone without a reason.
QString recoveredNoticeText();
QString lostTunnelText();
