#include "service/ipc_message.h"

#include <nlohmann/json.hpp>

#include "service/service_log.h"
#include "vpn/json_read.h"

namespace service {
namespace {

// Escaped, each byte takes at most six: the reply stays well below the frame limit.
constexpr size_t kMaxErrorBytes = 8192;


}  // namespace

Request parseRequest(const std::string& payload) {
    Request request{vpn::jsonString(payload, "op"), vpn::jsonString(payload, "node"), {}};
    request.options.killSwitch = vpn::jsonFlag(payload, "killSwitch");
    // LAN access is the default: only an explicit false turns it off.
    const auto parsed = nlohmann::json::parse(payload, nullptr, false);
    if (parsed.is_object()) {
        const auto allowLan = parsed.find("allowLan");
        if (allowLan != parsed.end() && allowLan->is_boolean()) request.options.allowLan = allowLan->get<bool>();
    }
    return request;
}

std::string buildReply(bool ok, bool running, const std::string& error, bool blocked, const TunnelState& state,
                       bool others) {
    nlohmann::ordered_json reply;
    reply["ok"] = ok;
    reply["running"] = running;
    reply["error"] = utf8Prefix(error, kMaxErrorBytes);
    if (blocked) reply["blocked"] = true;
    if (!state.phase.empty()) {
        reply["phase"] = state.phase;
        reply["reason"] = utf8Prefix(state.reason, kMaxErrorBytes);
    }
    if (others) reply["mine"] = false;
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace service
