#pragma once
// The messages of the service pipe: a request {"op":...,"node":...,"killSwitch":B,
// "allowLan":B} and the reply {"ok":B,"running":B,"error":"TEXT"}, with "blocked":true added
// while a kill switch keeps the network blocked, and "phase" and "reason" while the tunnel is
// "recovering", "waiting" for a network or "failed", and "mine":false while the tunnel (or its
// block) belongs to another user than the one who asks.

#include <string>

#include "service/request_handler.h"

namespace service {

struct Request {
    std::string op;    // empty when absent or not a string
    std::string node;  // the node's name as UTF-8; empty when absent or not a string
    ConnectOptions options;  // kill switch off, LAN allowed unless said otherwise (older clients say neither)
};

// Reads "op" and "node" as the library's flat look-up does (first member of that name in
// document order); text that is not JSON gives an empty request.
Request parseRequest(const std::string& payload);

// The reply text, members in this order and without spaces. The error text is escaped as a
// JSON string (quotes, backslashes and control characters), shortened when needed so that
// the reply always fits in one frame; invalid UTF-8 becomes U+FFFD.
// "phase" and "reason" follow when the tunnel is being recovered, waits or was given up;
// "mine":false last when it is `others'`.
std::string buildReply(bool ok, bool running, const std::string& error, bool blocked = false,
                       const TunnelState& state = {}, bool others = false);

}  // namespace service
