#pragma once
// Where a route's node answers: the client measures latency to it. The route id is the
// node's name trimmed of surrounding white space, as in the route list.

#include <QList>
#include <QString>

struct RouteEndpoint {
    QString routeId;
    QString host;  // the node's address: an IPv4/IPv6 literal or a host name
    quint16 port = 0;
};

using RouteEndpoints = QList<RouteEndpoint>;
